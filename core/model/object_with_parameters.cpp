#include "model/object_with_parameters.h"

#include "platform/archive.h"
#include "platform/text.h"
#include "platform/ui_services.h"

void RecordMap::Set(std::uint32_t key, const SavedRecord& record) {
    auto& bucket = buckets_[(key >> 4) % buckets_.size()];
    for (auto& entry : bucket) {
        if (entry.first == key) {
            entry.second = record;
            return;
        }
    }
    bucket.emplace_back(key, record);
    ++size_;
}

const SavedRecord* RecordMap::Find(std::uint32_t key) const {
    for (const auto& entry : buckets_[(key >> 4) % buckets_.size()])
        if (entry.first == key) return &entry.second;
    return nullptr;
}

ObjectWithParameters::~ObjectWithParameters() {
    if (ownsParameters)
        for (Parameter* p : parameters)
            delete p;
    parameters.clear();
}

void ObjectWithParameters::Serialize(Archive& ar) {
    for (Parameter* p : parameters)
        p->Serialize(ar);
}

void ObjectWithParameters::DeleteParameters() {
    for (Parameter* p : parameters)
        delete p;
    parameters.clear();
}

std::string ObjectWithParameters::GetValue(std::string_view name) const {
    const Parameter* p = FindParameter(name);
    return p ? p->value : std::string();
}

Parameter* ObjectWithParameters::FindParameter(std::string_view name) const {
    for (Parameter* p : parameters)
        if (EqualsNoCase(p->name, name)) return p;
    return nullptr;
}

Parameter* ObjectWithParameters::FindParameter(std::string_view name, int index) const {
    for (Parameter* p : parameters)
        if (EqualsNoCase(p->name, name) && (index < 0 || p->linearIndex == index)) return p;
    return nullptr;
}

bool ObjectWithParameters::SetValue(std::string_view name, const std::string& newValue,
                                    bool markChanged) {
    Parameter* p = FindParameter(name);
    if (!p) return false;
    if (markChanged && !EqualsNoCase(p->value, newValue)) p->needUpdate = true;
    p->value = newValue;
    return true;
}

ListResult ObjectWithParameters::CompareAll(ParameterDevice& device) {
    if (device.StopRequested()) return {0, 0};
    int failed = 0;
    int index = 0;
    for (Parameter* p : parameters) {
        ++index;
        if (device.CompareParameter(*p) != 0) ++failed;
        ++device.Counters().processed;
        if (device.StopRequested()) break;
    }
    return {index, failed};
}

ListResult ObjectWithParameters::ReadAll(ParameterDevice& device) {
    if (device.StopRequested()) return {0, 0};
    int failed = 0;
    int index = 0;
    for (Parameter* p : parameters) {
        ++index;
        const int r = device.ReadParameter(*p);
        // A parameter the stop left unread did not fail.
        if (r == ParameterDevice::kStoppedResult) break;
        if (r != 0) {
            ++device.Counters().failed;
            ++failed;
            // A failed read may be the one that stopped the operation.
            if (device.StopRequested()) break;
        }
    }
    return {index, failed};
}

ListResult ObjectWithParameters::WriteAll(ParameterDevice& device, int mode) {
    if (device.StopRequested()) return {0, 0};
    OperationCounters& counters = device.Counters();
    int attempts = 0;
    int failed = 0;
    for (Parameter* p : parameters) {
        if (mode != 0) ++counters.processed;
        if (mode >= 0 && !p->CanWrite() && !p->forceWrite) continue;
        // A half of a packed pair is written through the packed parameter,
        // which must carry its own factory value first.
        if (mode < 0 && (p->bindingKind == 1 || p->bindingKind == 2) && !p->linked.empty() &&
            p->linked.front())
            p->linked.front()->value = p->linked.front()->defaultValue;
        if (mode == 0 && !p->HasPendingUpdate()) continue;
        if (mode < 0 && p->defaultValue.empty()) continue;
        ++attempts;
        if (mode == 0) ++counters.processed;
        const int r = device.WriteParameter(*p, mode);
        if (r == ParameterDevice::kStoppedResult) break;
        if (r != 0) {
            ++counters.failed;
            ++failed;
        }
        if (device.StopRequested()) break;
    }
    return {attempts, failed};
}

void ObjectWithParameters::ShowInTree(RowSink& view, RowHandle parent, int limit, int option) {
    int shown = 0;
    bool withIndexes = (option & ShowOption::kWithIndexes) != 0;
    for (Parameter* p : parameters) {
        if (limit >= 0 && shown >= limit) break;
        p->treeItem = view.InsertParameterRow(parent, *p, p->RowTexts(withIndexes));
        ++shown;
    }
    shownCount = shown;
}

int ObjectWithParameters::CheckCommonIndex() {
    for (Parameter* p : parameters) {
        if (!p->hasLinearIndex) continue;
        if (commonIndex == -1) {
            commonIndex = p->linearIndex;
            return commonIndex;
        }
        if (p->linearIndex != commonIndex) {
            ShowMessage("Параметер '" + p->name + "' (" + p->DisplayDescription() +
                            ") имеет подозрительный линейный индекс.",
                        "Предупреждение", MessageIcon::Exclamation, MessageButtons::Ok);
        }
    }
    return commonIndex;
}

void ObjectWithParameters::SetCommonIndex(int index) {
    for (Parameter* p : parameters)
        if (p->hasLinearIndex) p->linearIndex = index;
    commonIndex = index;
}

int ObjectWithParameters::HasPendingUpdate() const {
    for (const Parameter* p : parameters)
        if (p->HasPendingUpdate()) return 2;
    return 0;
}

void ObjectWithParameters::ClearValues() {
    for (Parameter* p : parameters) {
        p->value = Parameter::kNoData;
        p->error.clear();
        p->accessAttribute = 1;
        p->ownerAttribute = 0;
        p->needUpdate = p->needUpdateAccess = p->needUpdateOwner = false;
    }
}

bool ObjectWithParameters::HasErrors(bool all) const {
    for (const Parameter* p : parameters) {
        if (p->error.empty() || p->error == Parameter::kNotInitialised) continue;
        if (!all && p->error.rfind(Parameter::kDeviceValuePrefix, 0) == 0) continue;
        return true;
    }
    return false;
}

bool ObjectWithParameters::HasChanges(bool withAttributes) const {
    for (const Parameter* p : parameters)
        if (p->needUpdate || (withAttributes && (p->needUpdateAccess || p->needUpdateOwner)))
            return true;
    return false;
}

bool ObjectWithParameters::HasEmptyValues() const {
    for (const Parameter* p : parameters)
        if (p->value == Parameter::kNoData) return true;
    return false;
}

void ObjectWithParameters::CollectRecords(std::vector<SavedRecord>& records) const {
    for (const Parameter* p : parameters)
        p->ToRecord(records);
}

std::string MissingParameterLine(const Parameter& p) {
    std::string line = " " + p.name;
    if (p.hasLinearIndex) line += ":" + std::to_string(p.linearIndex);
    return line + " (" + p.DisplayDescription() + ")";
}

void ObjectWithParameters::ApplyRecords(const RecordMap& map, int limit, int& missingCount,
                                        std::string& missingText) {
    for (Parameter* p : parameters) {
        if (const SavedRecord* r = map.Find(p->Key())) {
            p->FromRecord(*r);
            continue;
        }
        ++missingCount;
        if (missingCount < limit) {
            if (!missingText.empty()) missingText += "\n";
            missingText += MissingParameterLine(*p);
        } else if (missingCount == limit) {
            missingText += "\n и другие (не перечислены)";
        }
        p->Reset();
    }
}

void ObjectWithParameters::ClearChanges() {
    for (Parameter* p : parameters)
        p->needUpdate = p->needUpdateAccess = p->needUpdateOwner = false;
}
