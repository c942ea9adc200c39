#include "description/parameter_table.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>
#include <string_view>

#include "description/gzip_reader.h"
#include "description/record_layout.h"
#include "platform/codepage.h"

namespace {

using Record = std::array<std::uint8_t, TableRecord::kSize>;

constexpr std::string_view kHideMark = "<hide>";
constexpr char kForceWriteMark = '?';

std::int32_t Int32At(const Record& r, std::size_t offset) {
    return RecordInt32(r.data(), offset);
}
float FloatAt(const Record& r, std::size_t offset) {
    return RecordFloat(r.data(), offset);
}
std::string TextAt(const Record& r, std::size_t offset, std::size_t size) {
    return RecordText(r.data(), offset, size);
}

std::string Underscores(std::string text) {
    std::replace(text.begin(), text.end(), '_', ' ');
    return text;
}

// The labels of a type text lose their "<hide>" markers, which become one
// visibility mark per label: "" shown, "h" hidden, "h" + condition hidden
// under that condition.
void ApplyTypeText(std::string_view text, Parameter& p) {
    std::string type;
    p.labelMarks.clear();
    bool first = true;
    while (!text.empty()) {
        const std::size_t end = std::min(text.find(':'), text.size());
        std::string label(text.substr(0, end));
        text.remove_prefix(end == text.size() ? end : end + 1);
        if (label.empty()) continue;

        std::string mark;
        if (std::size_t at = label.find(kHideMark); at != std::string::npos) {
            const std::size_t after = at + kHideMark.size();
            if (after < label.size() && label[after] == '(') {
                // An unclosed condition runs to the end of the label.
                const std::size_t close = label.find(')', after + 1);
                const std::size_t conditionEnd = close == std::string::npos ? label.size() : close;
                mark = "h";
                mark.append(label, after + 1, conditionEnd - after - 1);
                label.erase(at, std::min(conditionEnd + 1, label.size()) - at);
            } else {
                mark = "h";
                label.erase(at, kHideMark.size());
            }
        }
        if (!first) type += ':';
        type += label;
        first = false;
        p.labelMarks.push_back(std::move(mark));
    }
    p.type = Underscores(std::move(type));
}

void FillParameter(Parameter& p, const Record& r) {
    using namespace TableRecord;
    p.name = TextAt(r, kName, kNameSize);
    p.description = TextAt(r, kDescription, kDescriptionSize);

    const std::int32_t index = Int32At(r, kIndex);
    if (r[kIndexIsAddress] != 0) {
        p.hasLinearIndex = index != -1;
        if (p.hasLinearIndex) p.linearIndex = p.deviceAddress = index;
    } else {
        p.hasLinearIndex = index >= 0;
        if (p.hasLinearIndex) p.linearIndex = index;
    }

    p.writable = r[kNotWritable] == 0;
    p.tableFlag = r[kFlag] != 0;
    p.bindingKind = Int32At(r, kBindingKind);
    p.needUpdate = r[kNeedUpdate] != 0;
    p.attributeKind = Int32At(r, kAttributeKind);
    if (p.attributeKind != 0) {
        p.accessAttribute = r[kAccess];
        p.ownerAttribute = r[kOwner];
    }

    ApplyTypeText(TextAt(r, kType, kTypeSize), p);
    p.decimals = Int32At(r, kDecimals);
    p.minValue = FloatAt(r, kMin);
    p.maxValue = FloatAt(r, kMax);
    p.value = TextAt(r, kValue, kValueSize);

    // The factory value is stored as data text (an enumeration's index); the
    // type must already be known to turn it into a value text.
    std::size_t factory = kFactory;
    std::size_t factorySize = kFactorySize;
    p.forceWrite = r[kFactory] == kForceWriteMark;
    if (p.forceWrite) {
        ++factory;
        --factorySize;
    }
    p.defaultValue = Underscores(p.IndexTextToLabel(TextAt(r, factory, factorySize)));

    p.error = TextAt(r, kError, kErrorSize);
    p.needUpdateAccess = false;
    p.needUpdateOwner = false;
    p.autoReadPending = true;
}

TableLoadStatus Fill(ParameterTable& table, GzipReader& reader, GzipStatus opened) {
    if (opened == GzipStatus::Missing) return TableLoadStatus::Missing;
    // Even a table that cannot be read gets its announced size (bounded by
    // what the file could hold), so that tree references stay in range.
    table.Allocate(reader.Limit() / TableRecord::kSize);
    if (opened != GzipStatus::Ok) return TableLoadStatus::Damaged;

    Record record;
    for (Parameter& p : table.All()) {
        if (reader.Read(record.data(), record.size()) != record.size()) break;
        FillParameter(p, record);
    }
    return reader.Status() == GzipStatus::Ok ? TableLoadStatus::Ok : TableLoadStatus::Damaged;
}

}  // namespace

TableLoadStatus LoadParameterTable(ParameterTable& table, const std::string& path) {
    table.Clear();
    table.fileName = path;
    GzipReader reader;
    return Fill(table, reader, reader.OpenFile(path));
}

TableLoadStatus LoadParameterTableFromMemory(ParameterTable& table,
                                             std::span<const std::uint8_t> file,
                                             const std::string& fileName) {
    table.Clear();
    table.fileName = fileName;
    GzipReader reader;
    return Fill(table, reader, reader.OpenMemory(file));
}
