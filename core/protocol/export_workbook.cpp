// The report as an .xlsx workbook, written row by row in constant memory.

#include <xlsxwriter.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "platform/semaphore.h"
#include "platform/text.h"
#include "protocol/export.h"
#include "protocol/export_rows.h"

namespace fs = std::filesystem;

namespace Protocol {
namespace {

constexpr lxw_row_t kMaxRows = 1048576;  // rows of one worksheet
constexpr const char* kSheetName = "Протокол измерений";

bool NumericType(const ReportColumn& c) {
    if (c.shownText) return true;
    for (const char* t : {"float", "STORED DOT", "DEC dot", "int16", "uint16", "byte", "DWORD"})
        if (EqualsNoCase(c.type, t)) return true;
    return false;
}

// Digits after the point of a number text, to show the number as it was.
int DecimalsOf(std::string_view text) {
    std::size_t point = text.find('.');
    if (point == std::string_view::npos) return 0;
    std::size_t n = 0;
    while (point + 1 + n < text.size() && text[point + 1 + n] >= '0' && text[point + 1 + n] <= '9')
        ++n;
    return static_cast<int>(std::min<std::size_t>(n, 15));
}

// Holds the link-idle semaphore while the workbook is built; gives up the
// wait when the export is cancelled.
class LinkHold {
  public:
    LinkHold(Semaphore* s, const std::atomic<bool>& stop) : s_(s) {
        if (!s_) return;
        while (!stop.load(std::memory_order_relaxed))
            if (s_->Acquire(std::chrono::milliseconds(100))) {
                held_ = true;
                return;
            }
    }
    ~LinkHold() {
        if (held_) s_->Release();
    }
    bool Held() const { return !s_ || held_; }

  private:
    Semaphore* s_;
    bool held_ = false;
};

class Sheets {
  public:
    Sheets(lxw_workbook* wb, const std::vector<ReportColumn>& columns)
        : wb_(wb), columns_(columns), widths_(columns.size() + 1, 0) {
        bold_ = workbook_add_format(wb);
        format_set_bold(bold_);
        time_ = workbook_add_format(wb);
        format_set_num_format(time_, "dd.mm.yyyy hh:mm:ss");
        failed_ = workbook_add_format(wb);
        format_set_bg_color(failed_, 0xFFBFBF);
        widths_[0] = 19;
    }

    // False when the row cannot be written.
    bool Row(const LocalClock::Parts& t, const std::vector<Cell>& cells) {
        if (!sheet_ || row_ >= kMaxRows) {
            if (!NewSheet()) return false;
        }
        lxw_datetime when{t.year, t.month, t.day, t.hour, t.minute, static_cast<double>(t.second)};
        if (worksheet_write_datetime(sheet_, row_, 0, &when, time_) != LXW_NO_ERROR) return false;
        for (std::size_t i = 0; i < cells.size(); ++i) {
            const Cell& cell = cells[i];
            const auto col = static_cast<lxw_col_t>(i + 1);
            lxw_error err = LXW_NO_ERROR;
            if (cell.kind == Cell::kEmpty) continue;
            if (cell.kind == Cell::kFailed) {
                err = worksheet_write_string(sheet_, row_, col, cell.text.c_str(), failed_);
            } else {
                double v = 0;
                if (NumericType(columns_[i]) && !cell.text.empty() &&
                    ParseLeadingReal(cell.text, v) == cell.text.size())
                    err = worksheet_write_number(sheet_, row_, col, v, NumberFormat(cell.text));
                else
                    err = worksheet_write_string(sheet_, row_, col, cell.text.c_str(), nullptr);
            }
            if (err != LXW_NO_ERROR) return false;
            widths_[i + 1] = std::max(widths_[i + 1], Utf8Length(cell.text));
        }
        ++row_;
        return true;
    }

    // Column widths that fit what was written.
    void FitColumns() {
        for (lxw_worksheet* s : sheets_)
            for (std::size_t i = 0; i < widths_.size(); ++i) {
                double width = static_cast<double>(std::clamp<std::size_t>(widths_[i] + 2, 8, 80));
                worksheet_set_column(s, static_cast<lxw_col_t>(i), static_cast<lxw_col_t>(i), width,
                                     nullptr);
            }
    }

    // The first sheet, even for a report without rows.
    bool Begin() { return NewSheet(); }

  private:
    bool NewSheet() {
        std::string name = sheets_.empty() ? std::string(kSheetName)
                                           : Format("%s (%zu)", kSheetName, sheets_.size() + 1);
        sheet_ = workbook_add_worksheet(wb_, name.c_str());
        if (!sheet_) return false;
        sheets_.push_back(sheet_);
        worksheet_freeze_panes(sheet_, 1, 0);
        row_ = 0;
        if (worksheet_write_string(sheet_, 0, 0, ExportText::kTimeColumn, bold_) != LXW_NO_ERROR)
            return false;
        for (std::size_t i = 0; i < columns_.size(); ++i) {
            if (worksheet_write_string(sheet_, 0, static_cast<lxw_col_t>(i + 1),
                                       columns_[i].title.c_str(), bold_) != LXW_NO_ERROR)
                return false;
            widths_[i + 1] = std::max(widths_[i + 1], Utf8Length(columns_[i].title));
        }
        row_ = 1;
        return true;
    }

    lxw_format* NumberFormat(std::string_view text) {
        int decimals = DecimalsOf(text);
        auto it = numbers_.find(decimals);
        if (it != numbers_.end()) return it->second;
        lxw_format* f = workbook_add_format(wb_);
        std::string pattern = decimals == 0 ? "0" : "0." + std::string(decimals, '0');
        format_set_num_format(f, pattern.c_str());
        numbers_[decimals] = f;
        return f;
    }

    lxw_workbook* wb_;
    const std::vector<ReportColumn>& columns_;
    std::vector<std::size_t> widths_;
    std::vector<lxw_worksheet*> sheets_;
    lxw_worksheet* sheet_ = nullptr;
    lxw_row_t row_ = 0;
    lxw_format* bold_ = nullptr;
    lxw_format* time_ = nullptr;
    lxw_format* failed_ = nullptr;
    std::map<int, lxw_format*> numbers_;
};

}  // namespace

ExportResult ExportJob::RunWorkbook() {
    ExportResult result;
    std::string title;
    if (request_.byFile)
        title = DataFileTitle(request_.dataFile);
    else if (request_.from == request_.to)
        title = DataFileTitle(DayLogName(request_.from));
    else
        title =
            DataFileTitle(DayLogName(request_.from)) + "_" + DataFileTitle(DayLogName(request_.to));
    PendingFiles pending;
    const std::string temp =
        pending.Add((fs::path(request_.outputFolder) / (title + ".xlsx")).string());

    LinkHold hold(hooks_.linkIdle, cancelled_);
    if (!hold.Held()) return result;  // cancelled while waiting

    lxw_workbook_options options{};
    options.constant_memory = LXW_TRUE;
    // Row data wait in files beside the report, not in a memory-backed /tmp.
    std::string tmpdir = request_.outputFolder;
    options.tmpdir = tmpdir.data();
    options.use_zip64 = LXW_TRUE;
    lxw_workbook* wb = workbook_new_opt(temp.c_str(), &options);
    if (!wb) return Fail("cannot create " + temp);
    bool closed = false;
    struct Dispose {
        lxw_workbook*& wb;
        bool& closed;
        ~Dispose() {
            if (!closed) lxw_workbook_free(wb);
        }
    } dispose{wb, closed};

    Sheets sheets(wb, columns_);
    if (!sheets.Begin()) return Fail("cannot write " + temp);
    ColumnIndex index(columns_);
    LocalClock clock;
    RowBuilder rows(columns_, [&](std::int64_t time, const std::vector<Cell>& cells) {
        return sheets.Row(clock.At(time), cells);
    });

    const std::int64_t first = request_.byFile ? 0 : request_.from.Serial();
    const std::int64_t days = request_.byFile ? 1 : request_.to.Serial() - first + 1;
    bool ok = true;
    for (std::int64_t i = 0; ok && i < days && !Cancelled(); ++i) {
        const std::string name =
            request_.byFile ? request_.dataFile : DayLogName(CivilDate::FromSerial(first + i));
        DayFile day(request_.protocolFolder, request_.outputFolder, name, result.warnings);
        if (request_.byFile && !day.Found())
            result.warnings.push_back(name + ": no log file or archive stream of that name");
        ok = day.ForEachRecord(
            [&](const LogRecord& r) {
                if (Cancelled()) return false;
                int column = index.Find(r);
                return column < 0 || rows.Add(column, r);
            },
            hooks_.recordProgress);
        ok = ok && rows.Flush();
        if (ok && hooks_.dayProgress) hooks_.dayProgress(static_cast<int>((i * 100 + 100) / days));
    }
    if (Cancelled()) return result;
    if (!ok) return Fail("cannot write " + temp);
    sheets.FitColumns();
    closed = true;
    lxw_error err = workbook_close(wb);
    if (err != LXW_NO_ERROR) return Fail("cannot write " + temp + ": " + lxw_strerror(err));
    std::string failure;
    if (!pending.Commit(&failure)) return Fail(failure);
    result.files = pending.Finals();
    return result;
}

}  // namespace Protocol
