#include "document/configuration_contents.h"

#include <fstream>
#include <iterator>

#include "platform/archive.h"

namespace Svx {

bool ReadContents(const std::string& path, Contents& contents, std::string& error) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        error = "Не удается открыть файл '" + path + "'.";
        return false;
    }
    std::vector<std::uint8_t> bytes((std::istreambuf_iterator<char>(in)),
                                    std::istreambuf_iterator<char>());
    Archive ar(std::move(bytes));
    return ReadContents(ar, path, contents, error);
}

bool ReadContents(Archive& ar, const std::string& path, Contents& contents, std::string& error) {
    try {
        contents.accessLevel = ar.ReadI32();
        contents.modification = ar.ReadText();
        contents.commonName = ar.ReadText();
        std::int32_t count = ar.ReadI32();
        // Each record takes more than one byte, so a count the file cannot
        // hold is damage, not a reason to reserve memory.
        if (count < 0 || static_cast<std::size_t>(count) > ar.Size() - ar.Position())
            throw ArchiveError("common parameter count " + std::to_string(count));
        for (std::int32_t i = 0; i < count; ++i) {
            auto p = std::make_unique<Parameter>();
            p->Serialize(ar);
            contents.common.push_back(std::move(p));
        }
        contents.tableName = ar.ReadText();
        contents.tableSize = ar.ReadI32();
        contents.recordCount = ar.ReadI32();
        while (ar.Size() - ar.Position() >= 4) {
            const std::uint32_t key = ar.ReadU32();
            Parameter p;
            p.Serialize(ar);
            if (contents.onRecord) contents.onRecord(key, p);
        }
        return true;
    } catch (const ArchiveError& e) {
        error =
            "Файл '" + path + "' поврежден или не является файлом конфигурации (" + e.what() + ").";
        return false;
    }
}

}  // namespace Svx
