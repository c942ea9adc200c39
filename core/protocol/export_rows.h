#pragma once

// The export's shared machinery: the data of one day found and read, records
// placed in the columns and rows of a report. Used by the page and the
// workbook writers only.

#include <array>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "model/my_converter.h"
#include "protocol/export.h"
#include "protocol/protocol_files.h"

namespace Protocol {

// Finds the column of a record: by name and address; by name alone when the
// address matches none and one column has that name.
class ColumnIndex {
  public:
    explicit ColumnIndex(const std::vector<ReportColumn>& columns);
    int Find(const LogRecord& r) const;

  private:
    const std::vector<ReportColumn>& columns_;
    std::array<std::vector<int>, 256> byAddress_;
};

struct Cell {
    enum Kind : std::uint8_t { kEmpty, kValue, kFailed };
    Kind kind = kEmpty;
    std::string text;
};

// Records of the same second share a row. A failed poll stays visible when a
// value of the same parameter follows within the second; of two values the
// later one is shown.
class RowBuilder {
  public:
    using Emit = std::function<bool(std::int64_t time, const std::vector<Cell>& cells)>;
    RowBuilder(const std::vector<ReportColumn>& columns, Emit emit);

    // False when the receiver of a finished row failed.
    bool Add(int column, const LogRecord& r);
    bool Flush();

  private:
    void Decode(int column, const LogRecord& r, Cell& cell);

    const std::vector<ReportColumn>& columns_;
    std::vector<MyConverter> scratch_;  // one per column, never a live parameter
    std::vector<Cell> cells_;
    std::int64_t time_ = 0;
    bool pending_ = false;
    Emit emit_;
};

// Local time of record times, with the last hour remembered: records come in
// order, so the system's conversion runs about once an hour of data.
class LocalClock {
  public:
    struct Parts {
        int year, month, day, hour, minute, second;
        // Seconds since 1970 UTC at which the local hour began: tells the
        // repeated hour at the end of daylight-saving time from the first.
        std::int64_t hourStart;
    };
    Parts At(std::int64_t time);

  private:
    std::int64_t start_ = 0;
    std::int64_t end_ = 0;  // empty cache while end_ <= start_
    Parts hour_{};
};

// The data of one data file: the stream of its month's archive extracted
// beside the report, else the log of the protocol folder. The extracted copy
// is deleted with the object.
class DayFile {
  public:
    DayFile(const std::string& protocolFolder, const std::string& scratchFolder,
            const std::string& name, std::vector<std::string>& warnings);
    ~DayFile();
    DayFile(const DayFile&) = delete;
    DayFile& operator=(const DayFile&) = delete;

    bool Found() const { return !path_.empty(); }
    // Feeds every whole record; the sink returns false to stop. Progress is
    // the share of the file read, in per cent. Warns once about a file that
    // ends inside a record or reaches bytes no record can start with.
    // False when the sink stopped or the file could not be read.
    bool ForEachRecord(const std::function<bool(const LogRecord&)>& sink,
                       const std::function<void(int)>& progress);

  private:
    std::string name_;
    std::string path_;
    std::string extracted_;  // the copy to delete; empty when none
    std::vector<std::string>& warnings_;
    bool warned_ = false;
};

// Text of a whole file name of a data file: its title without ".log".
std::string DataFileTitle(const std::string& name);

// Renames the temporary files over their final names once all are written,
// and removes the temporaries that are left otherwise.
class PendingFiles {
  public:
    ~PendingFiles();
    // The temporary name under which `final` is written.
    std::string Add(const std::string& final);
    // False (with every temporary removed and the reason in *error) when one
    // cannot be renamed.
    bool Commit(std::string* error);
    const std::vector<std::string>& Finals() const { return finals_; }

  private:
    std::vector<std::string> finals_;
    std::vector<std::string> temps_;
    bool committed_ = false;
};

}  // namespace Protocol
