#include "document/configuration_file.h"

#include <filesystem>
#include <fstream>
#include <iterator>
#include <unordered_map>

#include "description/device_description.h"
#include "description/parameter_table.h"
#include "document/access_level.h"
#include "elements/common_params.h"
#include "platform/archive.h"
#include "platform/settings_store.h"
#include "platform/text.h"
#include "platform/ui_services.h"

namespace Svx {

namespace {

std::string BaseName(const std::string& path) {
    return std::filesystem::path(path).filename().string();
}

std::string DamagedText(const std::string& path, const std::string& detail) {
    return "Файл '" + path + "' поврежден или не является файлом конфигурации (" + detail + ").";
}

}  // namespace

std::uint32_t RecordKey(const Parameter& p) {
    std::uint32_t index = p.hasLinearIndex ? static_cast<std::uint32_t>(p.linearIndex) : 0xFFFFu;
    return (index << 16) + p.Hash();
}

void Save(Archive& ar, int accessLevel, const std::string& modification,
          Elements::CommonParams& common, const ParameterTable& table) {
    ar.WriteI32(accessLevel);
    ar.WriteText(modification);
    common.Serialize(ar);
    ar.WriteText(BaseName(table.fileName));
    ar.WriteI32(static_cast<std::int32_t>(table.Size()));
    std::int32_t records = 0;
    for (const Parameter& p : table.All())
        if (!p.pollTimer) ++records;
    ar.WriteI32(records);
    for (Parameter& p : table.All()) {
        if (p.pollTimer) continue;
        ar.WriteU32(RecordKey(p));
        p.Serialize(ar);
    }
}

bool SaveFile(const std::string& path, int accessLevel, const std::string& modification,
              Elements::CommonParams& common, const ParameterTable& table, std::string& error) {
    Archive ar;
    Save(ar, accessLevel, modification, common, table);
    std::string bytes(ar.Data().begin(), ar.Data().end());
    if (!WriteFileAtomically(path, bytes)) {
        error = "Не удается записать файл '" + path + "'.";
        return false;
    }
    return true;
}

LoadResult Load(Archive& ar, const std::string& path, LoadSteps& steps, bool commandLineRun,
                std::string& error) {
    try {
        int before = Access::Level();
        std::int32_t level = ar.ReadI32();
        if (level < Access::kMinimal || level > Access::kFull)
            throw ArchiveError(Format("access level %d", level));
        Access::SetLevel(level);

        std::string modification = ar.ReadText();
        if (modification != steps.ActiveModification() && !commandLineRun &&
            ShowMessage("Переключить конфигуратор для работы с иной модификацией прибора?", {},
                        MessageIcon::Information, MessageButtons::YesNo) != MessageResult::Yes)
            return LoadResult::Declined;
        const CDeviceDescription* description = nullptr;
        for (const CDeviceDescription& d : DeviceDescriptions())
            if (d.displayName == modification) description = &d;
        if (!description) throw ArchiveError("unknown modification '" + modification + "'");

        if (!Access::ConfirmFileLevel(level, before, commandLineRun)) return LoadResult::LevelKept;

        Elements::CommonParams stored;  // read past; the running program's own stay
        stored.Serialize(ar);

        steps.SetUpConfiguration(*description);
        ParameterTable& table = steps.Table();

        std::string tableName = ar.ReadText();
        if (tableName != BaseName(table.fileName)) {
            error = "Файл сохранен на базе таблицы параметров '" + tableName +
                    "',\nа сейчас активна таблица '" + BaseName(table.fileName) + "'!";
            ShowMessage(error, {}, MessageIcon::Error, MessageButtons::Ok);
            return LoadResult::Failed;
        }
        std::int32_t size = ar.ReadI32();
        ar.ReadI32();  // the record count: the records run to the end of the file
        if (size != static_cast<std::int32_t>(table.Size()) && !commandLineRun)
            ShowMessage(
                Format("В файле сохранено %i параметров, а в активной таблице %i параметров!", size,
                       static_cast<int>(table.Size())),
                "Предупреждение", MessageIcon::Information, MessageButtons::Ok);

        // Two parameters with one key: the first in table order takes the record.
        std::unordered_map<std::uint32_t, Parameter*> byKey;
        for (Parameter& p : table.All())
            if (!p.pollTimer) byKey.emplace(RecordKey(p), &p);

        MainWindowNotifications& notices = Notifications();
        notices.ProgressOn();
        while (ar.Size() - ar.Position() >= 4) {
            notices.ProgressPosition(static_cast<int>(ar.Position() * 100 / ar.Size()));
            auto it = byKey.find(ar.ReadU32());
            if (it != byKey.end()) {
                it->second->Serialize(ar);
            } else {
                Parameter unmatched;
                unmatched.Serialize(ar);
            }
        }
        notices.ProgressOff();
        return LoadResult::Loaded;
    } catch (const ArchiveError& e) {
        Notifications().ProgressOff();
        error = DamagedText(path, e.what());
        return LoadResult::Failed;
    }
}

LoadResult LoadFile(const std::string& path, LoadSteps& steps, bool commandLineRun,
                    std::string& error) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        error = "Не удается открыть файл '" + path + "'.";
        return LoadResult::Failed;
    }
    std::vector<std::uint8_t> bytes((std::istreambuf_iterator<char>(in)),
                                    std::istreambuf_iterator<char>());
    Archive ar(std::move(bytes));
    return Load(ar, path, steps, commandLineRun, error);
}

}  // namespace Svx
