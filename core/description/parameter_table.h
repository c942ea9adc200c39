#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>

#include "model/parameter.h"

class DescBranch;

// The parameter table of the active modification: one contiguous array of
// parameters in table order. The device owns it; trees, elements and lists
// only refer to its parameters.
class ParameterTable {
  public:
    ParameterTable() = default;
    ParameterTable(const ParameterTable&) = delete;
    ParameterTable& operator=(const ParameterTable&) = delete;

    // Frees the parameters (cancelling running poll timers) and forgets the file.
    void Clear();
    // Replaces the array by `count` freshly constructed parameters.
    void Allocate(std::size_t count);

    std::size_t Size() const { return count_; }
    Parameter* At(std::size_t i) const { return i < count_ ? &items_[i] : nullptr; }
    std::span<Parameter> All() const { return {items_.get(), count_}; }

    // The first parameter with that name (case-insensitive) and, when index
    // is not negative, that linear index.
    Parameter* Find(std::string_view name, int index = -1) const;

    std::string fileName;
    // The branch marked in the descriptions as the device's own; set by the
    // tree loader, last marked branch wins.
    DescBranch* markedBranch = nullptr;

  private:
    std::unique_ptr<Parameter[]> items_;
    std::size_t count_ = 0;
};

// Fills the table from a parameter table file. A missing or damaged file is
// not an error the user sees: the table holds what could be read.
enum class TableLoadStatus { Ok, Missing, Damaged };
TableLoadStatus LoadParameterTable(ParameterTable& table, const std::string& path);
// The same from the bytes of such a file; fileName is what the table remembers.
TableLoadStatus LoadParameterTableFromMemory(ParameterTable& table,
                                             std::span<const std::uint8_t> file,
                                             const std::string& fileName);
