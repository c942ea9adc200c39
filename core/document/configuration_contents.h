#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "model/parameter.h"

class Archive;

namespace Svx {

// What a configuration file can hold at most. The tables of the
// modifications have about 1,300 parameters of a few dozen bytes each, so a
// file beyond these is damaged, and a reader never holds more than this.
constexpr std::size_t kMaxFileBytes = 16u << 20;
constexpr std::int32_t kMaxCommonParameters = 16;

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
    std::int32_t recordsRead = 0;
    std::size_t recordsStart = 0;  // where the first key begins
    // Each record as it is read, so that a file is shown without holding
    // all its records.
    std::function<void(std::uint32_t key, const Parameter& p)> onRecord;
};

// The bytes of a configuration file. False with the reason (naming the file)
// when it cannot be opened, is not a regular file (a pipe or a device never
// ends) or is larger than a configuration file can be.
bool ReadFileBytes(const std::string& path, std::vector<std::uint8_t>& bytes, std::string& error);

// The reason given for a damaged file.
std::string DamagedText(const std::string& path, const std::string& detail);

// False with the reason (naming the file) when the file cannot be read or
// is damaged, which includes fewer records than the file announces (a file
// cut between two records); the records before the damage are passed on.
bool ReadContents(const std::string& path, Contents& contents, std::string& error);
// The same over the bytes of a file; path only names it in the reason.
bool ReadContents(Archive& ar, const std::string& path, Contents& contents, std::string& error);

}  // namespace Svx
