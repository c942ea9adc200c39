#include "dbf/parameter_export.h"

#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <optional>
#include <unordered_map>

#include "link/frame.h"
#include "model/object_with_parameters.h"
#include "platform/codepage.h"
#include "platform/text.h"
#include "platform/ui_services.h"

namespace {

// Offsets of the saved-value record.
constexpr std::size_t kName = 0, kNameSize = 9, kDesc = 9, kDescSize = 80, kValue = 89,
                      kValueSize = 64, kHasIndex = 153, kIndex = 156, kAddress = 160,
                      kWritable = 164, kAccess = 165, kOwner = 166, kError = 167, kErrorSize = 80,
                      kNeedUpdate = 247, kNeedAccess = 248, kNeedOwner = 249, kPrivacy = 250;
constexpr int kMissingLimit = 15;

std::string Field(const SavedRecord& r, std::size_t at, std::size_t size) {
    const char* p = reinterpret_cast<const char*>(r.data() + at);
    return std::string(p, strnlen(p, size));
}

void PutField(SavedRecord& r, std::size_t at, std::size_t size, std::string_view bytes) {
    std::memcpy(r.data() + at, bytes.data(), std::min(bytes.size(), size - 1));
}

std::int32_t Int32(const SavedRecord& r, std::size_t at) {
    std::uint32_t v = 0;
    for (int i = 3; i >= 0; --i)
        v = (v << 8) | r[at + static_cast<std::size_t>(i)];
    return static_cast<std::int32_t>(v);
}

void PutInt32(SavedRecord& r, std::size_t at, std::int32_t v) {
    auto u = static_cast<std::uint32_t>(v);
    for (std::size_t i = 0; i < 4; ++i)
        r[at + i] = static_cast<std::uint8_t>(u >> (8 * i));
}

// The key the tree looks its parameters up by: (index << 16) | name hash.
std::uint32_t RecordKey(const SavedRecord& r) {
    std::string name = Cp866ToUtf8(Field(r, kName, kNameSize));
    return (static_cast<std::uint32_t>(Int32(r, kIndex)) << 16) | hash_name(name);
}

void ReportUnopenable(const std::string& path) {
    ShowMessage(Format("Проблемы с открытием файла '%s'\n", path.c_str()), {}, MessageIcon::Error,
                MessageButtons::Ok);
}

// A saved-value record from a row; blanks that pad the texts are dropped, or
// an enumeration value would no longer name its label.
SavedRecord RowToRecord(const DBF::DBFRecord& row) {
    SavedRecord r{};
    auto text = [&](const char* name, std::size_t at, std::size_t size) {
        std::string v;
        row.GetText(name, v);
        PutField(r, at, size, TrimRight(v));
    };
    auto number = [&](const char* name) {
        double v = 0;
        row.GetNumber(name, v);
        return std::isfinite(v) && std::fabs(v) < 2147483647.0
                   ? static_cast<std::int32_t>(std::trunc(v))
                   : 0;
    };
    auto flag = [&](const char* name) {
        bool v = false;
        row.GetLogical(name, v);
        return static_cast<std::uint8_t>(v ? 1 : 0);
    };
    text("NAME", kName, kNameSize);
    text("DESC", kDesc, kDescSize);
    text("VALUE", kValue, kValueSize);
    r[kHasIndex] = flag("HASLINDEX");
    PutInt32(r, kIndex, number("LINDEX"));
    PutInt32(r, kAddress, number("DADDRESS"));
    r[kWritable] = flag("CANWRITE");
    r[kAccess] = flag("ATRACCESS");
    r[kOwner] = flag("ATROWNER");
    text("ERROR", kError, kErrorSize);
    r[kNeedUpdate] = flag("NEEDUPDTE");
    r[kNeedAccess] = flag("NEEDU_ACC");
    r[kNeedOwner] = flag("NEEDU_OWN");
    r[kPrivacy] = static_cast<std::uint8_t>(number("PRIVACY"));
    return r;
}

}  // namespace

DBF::DBFRecordType ParameterTableType() {
    DBF::DBFRecordType t;
    t.Add("CONF_ID", 'N', 4);
    t.Add("NAME", 'C', 9);
    t.Add("DESC", 'C', 80);
    t.Add("VALUE", 'C', 64);
    t.Add("HASLINDEX", 'L', 1);
    t.Add("LINDEX", 'N', 8);
    t.Add("DADDRESS", 'N', 4);
    t.Add("CANWRITE", 'L', 1);
    t.Add("ATRACCESS", 'L', 1);
    t.Add("ATROWNER", 'L', 1);
    t.Add("ERROR", 'C', 80);
    t.Add("NEEDUPDTE", 'L', 1);
    t.Add("NEEDU_ACC", 'L', 1);
    t.Add("NEEDU_OWN", 'L', 1);
    t.Add("PRIVACY", 'N', 4);
    return t;
}

bool ExportParameters(const ObjectWithParameters& tree, const std::string& path) {
    DBF::DBFRecordType type = ParameterTableType();
    std::string temp = path + ".tmp." + std::to_string(getpid());
    DBF::DBFFile file;
    if (file.Open(temp, "wb+", type) != 0) {
        ReportUnopenable(path);
        return false;
    }
    std::vector<SavedRecord> records;
    tree.CollectRecords(records);
    bool ok = true;
    for (const SavedRecord& r : records) {
        DBF::DBFRecord row(type);
        row.SetNumber("CONF_ID", 0);
        row.SetText("NAME", Field(r, kName, kNameSize));
        row.SetText("DESC", Field(r, kDesc, kDescSize));
        row.SetText("VALUE", Field(r, kValue, kValueSize));
        row.SetLogical("HASLINDEX", r[kHasIndex]);
        row.SetNumber("LINDEX", static_cast<float>(Int32(r, kIndex)));
        row.SetNumber("DADDRESS", static_cast<float>(Int32(r, kAddress)));
        row.SetLogical("CANWRITE", r[kWritable]);
        row.SetLogical("ATRACCESS", r[kAccess]);
        row.SetLogical("ATROWNER", r[kOwner]);
        row.SetText("ERROR", Field(r, kError, kErrorSize));
        row.SetLogical("NEEDUPDTE", r[kNeedUpdate]);
        row.SetLogical("NEEDU_ACC", r[kNeedAccess]);
        row.SetLogical("NEEDU_OWN", r[kNeedOwner]);
        row.SetNumber("PRIVACY", static_cast<float>(static_cast<std::int8_t>(r[kPrivacy])));
        if (file.Append(row) < 0) ok = false;
    }
    ok = file.WriteEndMark() && ok;
    file.Close();
    if (!ok || std::rename(temp.c_str(), path.c_str()) != 0) {
        std::remove(temp.c_str());
        ReportUnopenable(path);
        return false;
    }
    return true;
}

bool ImportParameters(ObjectWithParameters& tree, const std::string& path) {
    DBF::DBFFile file;
    if (file.Open(path, "rb", {}) != 0) {
        ReportUnopenable(path);
        return false;
    }
    // Only rows the tree can take are kept: a table of millions of foreign
    // rows then costs neither memory nor the slow inserts of the small map.
    std::vector<SavedRecord> own;
    tree.CollectRecords(own);
    std::unordered_map<std::uint32_t, std::optional<SavedRecord>> rows;
    for (const SavedRecord& r : own)
        rows.emplace(RecordKey(r), std::nullopt);
    DBF::DBFRecord row(file.RecordType());
    for (long n = 1; n <= static_cast<long>(file.RecordCount()); ++n) {
        bool valid = false;
        if (!file.Read(n, row, valid)) break;
        if (!valid) continue;
        SavedRecord r = RowToRecord(row);
        auto it = rows.find(RecordKey(r));
        if (it == rows.end()) continue;
        it->second = r;  // a later row replaces an earlier one
    }
    RecordMap map(17);
    for (const auto& [key, r] : rows)
        if (r) map.Set(key, *r);
    int missing = 0;
    std::string text;
    tree.ApplyRecords(map, kMissingLimit, missing, text);
    if (missing > 0)
        ShowMessage("След. параметры небыли определены:\n" + text, "Предупреждение",
                    MessageIcon::Exclamation, MessageButtons::Ok);
    return true;
}
