#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "model/parameter.h"

namespace Svx {

// Everything a configuration file holds, read without a document: for
// showing a file as it stands.
struct Contents {
    int accessLevel = 0;
    std::string modification;
    std::string commonName;
    std::vector<std::unique_ptr<Parameter>> common;
    std::string tableName;
    std::int32_t tableSize = 0;
    std::int32_t recordCount = 0;  // as stored; the records run to the end
    struct Record {
        std::uint32_t key = 0;
        std::unique_ptr<Parameter> parameter;
    };
    std::vector<Record> records;
};

// False with the reason (naming the file) when the file cannot be read or
// is damaged; the records before the damage are kept.
bool ReadContents(const std::string& path, Contents& contents, std::string& error);

}  // namespace Svx
