#pragma once

#include <cstddef>

// The structure table: the structural parameters that tell which object each
// channel, commutator, signal converter and key belongs to. Entries are
// numbered from 0; an entry may be empty.
//
// The descriptions carry the table in the hidden tree: a branch whose value A
// is kStructureMark + N puts its own parameters, in order, into entries N,
// N + 1, ... Entries no branch names stay empty.
namespace StructureTable {
constexpr int kStructureMark = 1000;

constexpr std::size_t kChannelInputs = 0;       // 8: input of channel k
constexpr std::size_t kSwitchInputs = 8;        // 8: input j of commutator s at 8 + 4s + j
constexpr std::size_t kKeyBlock = 16;           // 64: key j of object i at 16 + 8i + j
constexpr std::size_t kSecondBlock = 80;        // 64: per-object table read beside the keys
constexpr std::size_t kKeyCounts = 144;         // 8: key count of object i
constexpr std::size_t kConverterSources = 152;  // 8: source of signal converter k
constexpr std::size_t kLastGroup = 160;         // 8
constexpr std::size_t kSize = 168;

constexpr std::size_t kChannels = 8;
constexpr std::size_t kSwitches = 2;
constexpr std::size_t kSwitchInputsEach = 4;
constexpr std::size_t kConverters = 8;
constexpr std::size_t kObjects = 8;
constexpr std::size_t kKeysPerObject = 8;
}  // namespace StructureTable
