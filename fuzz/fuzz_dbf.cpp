// A dBase table from anywhere: the header, the descriptors and every row are
// read or refused without a crash or memory out of proportion to the file,
// and the import applies what it can to a small tree.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "dbf/dbf.h"
#include "dbf/parameter_export.h"
#include "model/object_with_parameters.h"
#include "platform/ui_services.h"

namespace {

const std::string& TablePath() {
    static const std::string path = "/tmp/selvar-fuzz-dbf-" + std::to_string(getpid()) + ".dbf";
    // Registered after the path exists, so it runs before the path goes.
    static const bool removed = std::atexit([] { std::remove(TablePath().c_str()); }) == 0;
    (void)removed;
    return path;
}

ObjectWithParameters& Tree() {
    static ObjectWithParameters* tree = [] {
        auto* t = new ObjectWithParameters;
        const char* names[] = {"r.co", "in.sl", "rEAd", "A.Len"};
        for (int i = 0; i < 8; ++i) {
            auto* p = new Parameter;
            p->name = names[i % 4];
            p->hasLinearIndex = i >= 4;
            p->linearIndex = i / 4;
            t->AddParameter(p);
        }
        return t;
    }();
    return *tree;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string& path = TablePath();
    if (std::FILE* f = std::fopen(path.c_str(), "wb")) {
        std::fwrite(data, 1, size, f);
        std::fclose(f);
    }
    DBF::DBFFile file;
    if (file.Open(path, "rb") == 0) {
        DBF::DBFRecord row(file.RecordType());
        std::string text;
        double number = 0;
        bool flag = false;
        for (long n = 1; n <= static_cast<long>(file.RecordCount()); ++n) {
            bool valid = false;
            if (!file.Read(n, row, valid)) break;
            for (const DBF::DBFRecordTypeField& field : file.RecordType().Fields()) {
                row.GetText(field.name, text);
                row.GetNumber(field.name, number);
                row.GetLogical(field.name, flag);
            }
        }
    }
    file.Close();
    ImportParameters(Tree(), path);
    return 0;
}
