#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "model/parameter.h"

class Archive;

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
    // Each record as it is read, so that a file is shown without holding
    // all its records.
    std::function<void(std::uint32_t key, const Parameter& p)> onRecord;
};

// False with the reason (naming the file) when the file cannot be read or
// is damaged; the records before the damage are kept.
bool ReadContents(const std::string& path, Contents& contents, std::string& error);
// The same over the bytes of a file; path only names it in the reason.
bool ReadContents(Archive& ar, const std::string& path, Contents& contents, std::string& error);

}  // namespace Svx
