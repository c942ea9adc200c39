#include "dbf/dbf.h"

#include <algorithm>
#include <cstring>
#include <ctime>

#include "platform/text.h"

namespace DBF {

namespace {

constexpr std::uint8_t kEndMark = 0x1A;
constexpr std::uint8_t kHeaderEnd = 0x0D;
constexpr char kValid = ' ';
constexpr std::size_t kDescriptorSize = 32;

void PutLe(std::uint8_t* p, std::uint32_t v, int bytes) {
    for (int i = 0; i < bytes; ++i)
        p[i] = static_cast<std::uint8_t>(v >> (8 * i));
}

std::uint32_t GetLe(const std::uint8_t* p, int bytes) {
    std::uint32_t v = 0;
    for (int i = bytes - 1; i >= 0; --i)
        v = (v << 8) | p[i];
    return v;
}

}  // namespace

void DBFRecordType::Add(std::string name, char type, std::uint8_t length, std::uint8_t decimals) {
    DBFRecordTypeField f;
    f.name = std::move(name);
    f.type = type;
    f.length = type == 'L' ? 1 : length;
    f.decimals = type == 'N' || type == 'F' ? decimals : 0;
    f.offset = fields_.empty() ? 1 : fields_.back().offset + fields_.back().length;
    fields_.push_back(std::move(f));
}

const DBFRecordTypeField* DBFRecordType::Find(std::string_view name) const {
    for (const DBFRecordTypeField& f : fields_)
        if (f.name == name) return &f;
    return nullptr;
}

int DBFRecordType::DataLength() const {
    int n = 0;
    for (const DBFRecordTypeField& f : fields_)
        n += f.length;
    return n;
}

DBFRecord::DBFRecord(const DBFRecordType& type)
    : type_(type), data_(static_cast<std::size_t>(type.DataLength()), ' ') {}

const DBFRecordTypeField* DBFRecord::Field(std::string_view name, bool number) const {
    const DBFRecordTypeField* f = type_.Find(name);
    if (!f) return nullptr;
    bool isNumber = f->type == 'N' || f->type == 'F';
    return isNumber == number ? f : nullptr;
}

void DBFRecord::Put(const DBFRecordTypeField& f, std::string_view text, bool rightAligned) {
    std::size_t length = f.length;
    // A text too long for its field keeps its last characters.
    if (text.size() > length) text = text.substr(text.size() - length);
    char* field = data_.data() + (f.offset - 1);
    // copy_n, not memcpy: a table without fields has no row buffer at all.
    std::fill_n(field, length, ' ');
    std::copy_n(text.data(), text.size(), field + (rightAligned ? length - text.size() : 0));
}

void DBFRecord::SetText(std::string_view name, std::string_view value) {
    const DBFRecordTypeField* f = type_.Find(name);
    if (f && f->type == 'C') Put(*f, value, false);
}

void DBFRecord::SetNumber(std::string_view name, float value) {
    if (const DBFRecordTypeField* f = Field(name, true))
        Put(*f, Format("%*.*f", int{f->length}, int{f->decimals}, static_cast<double>(value)),
            true);
}

void DBFRecord::SetLogical(std::string_view name, std::uint8_t value) {
    const DBFRecordTypeField* f = type_.Find(name);
    if (f && f->type == 'L') Put(*f, value ? "T" : "F", false);
}

bool DBFRecord::GetText(std::string_view name, std::string& out) const {
    const DBFRecordTypeField* f = type_.Find(name);
    if (!f || f->type != 'C') return false;
    std::string_view text(data_.data() + (f->offset - 1), f->length);
    while (!text.empty() && text.front() == ' ')
        text.remove_prefix(1);
    out.assign(text);
    return true;
}

bool DBFRecord::GetNumber(std::string_view name, double& out) const {
    const DBFRecordTypeField* f = Field(name, true);
    if (!f) return false;
    out = 0;
    ParseLeadingReal(std::string_view(data_.data() + (f->offset - 1), f->length), out);
    return true;
}

bool DBFRecord::GetLogical(std::string_view name, bool& out) const {
    const DBFRecordTypeField* f = type_.Find(name);
    if (!f || f->type != 'L') return false;
    out = data_[static_cast<std::size_t>(f->offset - 1)] != 'F';
    return true;
}

DBFFile::~DBFFile() {
    Close();
}

void DBFFile::Close() {
    if (file_) std::fclose(file_);
    file_ = nullptr;
}

int DBFFile::Open(const std::string& path, const char* mode, const DBFRecordType& type) {
    Close();
    file_ = std::fopen(path.c_str(), mode);
    if (!file_) return -1;
    std::fseek(file_, 0, SEEK_END);
    fileSize_ = std::ftell(file_);
    if (mode[0] == 'w' || fileSize_ == 0) {
        type_ = type;
        if (!WriteHeader()) {
            Close();
            return -1;
        }
        return 0;
    }
    if (!ReadHeader()) {
        Close();
        return -2;
    }
    return 0;
}

bool DBFFile::WriteHeader() {
    std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    date_[0] = static_cast<std::uint8_t>(local.tm_year);
    date_[1] = static_cast<std::uint8_t>(local.tm_mon + 1);
    date_[2] = static_cast<std::uint8_t>(local.tm_mday);
    recordCount_ = 0;
    std::size_t fields = type_.Fields().size();
    headerLength_ = static_cast<std::uint16_t>(kDescriptorSize * fields + 33);
    recordLength_ = static_cast<std::uint16_t>(type_.DataLength() + 1);
    std::vector<std::uint8_t> header(headerLength_, 0);
    header[0] = version_;
    std::memcpy(&header[1], date_, 3);
    PutLe(&header[4], recordCount_, 4);
    PutLe(&header[8], headerLength_, 2);
    PutLe(&header[10], recordLength_, 2);
    std::size_t at = kDescriptorSize;
    for (const DBFRecordTypeField& f : type_.Fields()) {
        std::memcpy(&header[at], f.name.data(), std::min<std::size_t>(f.name.size(), 10));
        header[at + 11] = static_cast<std::uint8_t>(f.type);
        PutLe(&header[at + 12], static_cast<std::uint32_t>(f.offset - 1), 4);
        header[at + 16] = f.length;
        header[at + 17] = f.decimals;
        at += kDescriptorSize;
    }
    header[at] = kHeaderEnd;
    std::rewind(file_);
    bool ok = std::fwrite(header.data(), 1, header.size(), file_) == header.size() &&
              std::fflush(file_) == 0;
    fileSize_ = static_cast<long>(header.size());
    return ok;
}

bool DBFFile::ReadHeader() {
    std::uint8_t head[32];
    std::rewind(file_);
    if (std::fread(head, 1, sizeof head, file_) != sizeof head) return false;
    version_ = head[0];
    std::memcpy(date_, &head[1], 3);
    recordCount_ = GetLe(&head[4], 4);
    headerLength_ = static_cast<std::uint16_t>(GetLe(&head[8], 2));
    recordLength_ = static_cast<std::uint16_t>(GetLe(&head[10], 2));
    if (headerLength_ < 33 || recordLength_ < 1 || headerLength_ > fileSize_) return false;
    type_ = DBFRecordType();
    long descriptors = (headerLength_ - 1) / 32 - 1;
    for (long i = 0; i < descriptors; ++i) {
        std::uint8_t d[kDescriptorSize];
        if (std::fread(d, 1, sizeof d, file_) != sizeof d) return false;
        if (d[0] == kHeaderEnd) break;  // fewer descriptors than the length suggests
        std::string name(reinterpret_cast<const char*>(d),
                         strnlen(reinterpret_cast<const char*>(d), 11));
        type_.Add(std::move(name), static_cast<char>(d[11]), d[16], d[17]);
    }
    // Rows that run past the record length would be read out of their buffer.
    if (type_.DataLength() + 1 > recordLength_) return false;
    // A count larger than the file can hold is cut to the rows present.
    long rows = (fileSize_ - headerLength_) / recordLength_;
    if (recordCount_ > static_cast<std::uint32_t>(std::max(rows, 0L)))
        recordCount_ = static_cast<std::uint32_t>(std::max(rows, 0L));
    return true;
}

long DBFFile::Append(const DBFRecord& row) {
    if (!file_ || recordCount_ == UINT32_MAX) return -1;
    ++recordCount_;
    std::uint8_t count[4];
    PutLe(count, recordCount_, 4);
    long at =
        static_cast<long>(headerLength_) + static_cast<long>(recordCount_ - 1) * recordLength_;
    char status = kValid;
    const std::vector<char>& data = row.Data();
    std::vector<char> padded(recordLength_ - 1u, ' ');
    std::copy_n(data.data(), std::min(data.size(), padded.size()), padded.data());
    bool ok = std::fseek(file_, 4, SEEK_SET) == 0 && std::fwrite(count, 1, 4, file_) == 4 &&
              std::fflush(file_) == 0 && std::fseek(file_, at, SEEK_SET) == 0 &&
              std::fwrite(&status, 1, 1, file_) == 1 &&
              std::fwrite(padded.data(), 1, padded.size(), file_) == padded.size() &&
              std::fputc(kEndMark, file_) != EOF && std::fflush(file_) == 0;
    return ok ? static_cast<long>(recordCount_) : -1;
}

bool DBFFile::WriteEndMark() {
    return file_ && std::fseek(file_, 0, SEEK_END) == 0 && std::fputc(kEndMark, file_) != EOF &&
           std::fflush(file_) == 0;
}

bool DBFFile::Read(long number, DBFRecord& row, bool& valid) {
    if (!file_ || number < 1 || static_cast<std::uint32_t>(number) > recordCount_) return false;
    long at = static_cast<long>(headerLength_) + (number - 1) * recordLength_;
    std::vector<char> raw(recordLength_);
    if (std::fseek(file_, at, SEEK_SET) != 0 ||
        std::fread(raw.data(), 1, raw.size(), file_) != raw.size())
        return false;
    valid = raw[0] == kValid;
    std::vector<char>& data = row.Data();
    std::size_t n = std::min(data.size(), raw.size() - 1);
    std::copy_n(raw.data() + 1, n, data.data());  // a table without fields has no data
    return true;
}

}  // namespace DBF
