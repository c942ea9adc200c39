#pragma once

#include <cstdint>
#include <cstdio>
#include <list>
#include <string>
#include <string_view>
#include <vector>

// A small dBase III reader and writer: the file with its header, the ordered
// field descriptors, and one row buffer. Field texts are bytes as the table
// holds them (the caller converts code pages).
namespace DBF {

struct DBFRecordTypeField {
    std::string name;  // at most 10 characters
    char type = 'C';   // 'C' text, 'N'/'F' number, 'L' logical
    int offset = 1;    // in the row, counted from 1 (0 is the deletion byte)
    std::uint8_t length = 0;
    std::uint8_t decimals = 0;
};

class DBFRecordType {
  public:
    // Appends a descriptor; its offset follows the previous field. A logical
    // field always has length 1, decimals only numbers keep.
    void Add(std::string name, char type, std::uint8_t length, std::uint8_t decimals = 0);
    // Exact, case-sensitive comparison of the whole name.
    const DBFRecordTypeField* Find(std::string_view name) const;
    const std::list<DBFRecordTypeField>& Fields() const { return fields_; }
    // The sum of the field lengths (the row without its deletion byte).
    int DataLength() const;

  private:
    std::list<DBFRecordTypeField> fields_;
};

class DBFRecord {
  public:
    explicit DBFRecord(const DBFRecordType& type);

    void SetText(std::string_view name, std::string_view value);
    void SetNumber(std::string_view name, float value);
    void SetLogical(std::string_view name, std::uint8_t value);

    // 'C': leading blanks removed; false for an unknown name or another type.
    bool GetText(std::string_view name, std::string& out) const;
    // 'N', 'F': the text read as a real (0 when it holds none).
    bool GetNumber(std::string_view name, double& out) const;
    // 'L': true for any character but "F".
    bool GetLogical(std::string_view name, bool& out) const;

    std::vector<char>& Data() { return data_; }
    const std::vector<char>& Data() const { return data_; }

  private:
    const DBFRecordTypeField* Field(std::string_view name, bool number) const;
    void Put(const DBFRecordTypeField& f, std::string_view text, bool rightAligned);

    const DBFRecordType& type_;
    std::vector<char> data_;
};

class DBFFile {
  public:
    DBFFile() = default;
    ~DBFFile();
    DBFFile(const DBFFile&) = delete;
    DBFFile& operator=(const DBFFile&) = delete;

    // Mode beginning with 'w' (or an empty file): a new header from `type`
    // (0 records, today's date). Otherwise the header and the descriptors are
    // read into RecordType(). 0 on success, -1 when the file cannot be
    // opened, -2 when its header is not one of a dBase III table.
    int Open(const std::string& path, const char* mode, const DBFRecordType& type = {});
    void Close();

    // Appends a row: 0x20, the data, then the end mark. The new count, or -1.
    long Append(const DBFRecord& row);
    // Reads row `number` (from 1): false when it cannot be read; `valid`
    // tells whether its status byte marks it as not deleted.
    bool Read(long number, DBFRecord& row, bool& valid);
    // Writes one more end mark (the export finishes with it).
    bool WriteEndMark();

    std::uint32_t RecordCount() const { return recordCount_; }
    const DBFRecordType& RecordType() const { return type_; }
    std::uint16_t HeaderLength() const { return headerLength_; }
    std::uint16_t RecordLength() const { return recordLength_; }

  private:
    bool WriteHeader();
    bool ReadHeader();

    std::FILE* file_ = nullptr;
    std::uint8_t version_ = 3;
    std::uint8_t date_[3] = {};
    std::uint32_t recordCount_ = 0;
    std::uint16_t headerLength_ = 0;
    std::uint16_t recordLength_ = 0;
    DBFRecordType type_;
    long fileSize_ = 0;
};

}  // namespace DBF
