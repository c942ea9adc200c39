#include "description/parameter_table.h"
#include "platform/text.h"

void ParameterTable::Clear() {
    items_.reset();
    count_ = 0;
    fileName.clear();
    markedBranch = nullptr;
}

void ParameterTable::Allocate(std::size_t count) {
    items_.reset();
    count_ = 0;
    markedBranch = nullptr;
    if (count == 0) return;
    items_ = std::make_unique<Parameter[]>(count);
    count_ = count;
}

Parameter* ParameterTable::Find(std::string_view name, int index) const {
    for (std::size_t i = 0; i < count_; ++i) {
        Parameter& p = items_[i];
        if (EqualsNoCase(p.name, name) && (index < 0 || p.linearIndex == index)) return &p;
    }
    return nullptr;
}
