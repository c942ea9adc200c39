#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/ui_services.h"

class DescBranch;
class Parameter;
class Semaphore;

namespace Protocol {

// The user's texts of the export.
namespace ExportText {
inline constexpr const char* kDialogTitle = "Экспорт протокола измерений";
inline constexpr const char* kAllParameters = "Все оперативные параметры протокола";
inline constexpr const char* kTimeColumn = "Время";
inline constexpr const char* kPageTitle = "Протокол измерений";
inline constexpr const char* kTimeout = "Таймаут при передаче данных";
inline constexpr const char* kNoSpace =
    "Недостаточно свободного места на диске!\nВозможное решение: удалить ненужные архивы данных "
    "с помощью кнопки \"Очистить\"!";
inline constexpr const char* kNoSpaceCaption = "Внимание";
inline constexpr const char* kCannotWrite = "Возможно, что отчет уже открыт!";
inline constexpr const char* kCannotWriteCaption = "Ошибка экспортирования отчета";
inline constexpr const char* kNoSpreadsheet = "Не удалось запустить MS Excel!";
inline constexpr const char* kNoSpreadsheetCaption = "Ошибка";
inline constexpr const char* kClearTitle = "Очистка данных";
inline constexpr const char* kClearPrompt =
    "Удалить все сохраненные данные до следующей даты, включительно:";
inline constexpr const char* kClearCaption = "Сообщение";
}  // namespace ExportText

// An export needs this much space free to the user on the output's drive.
inline constexpr std::uint64_t kMinFreeSpace = 400000000;
// The longest period the date pickers allow: "to" at most this many days
// after "from".
inline constexpr int kMaxPeriodDays = 50;

// The filter list: position 0 reports every operative parameter, the others
// one parameter name each (compared without regard to case).
const std::vector<std::string>& FilterItems();
// The parameter name of a filter position; empty for 0 or a position
// outside the list.
std::string FilterName(int position);

// A calendar date.
struct CivilDate {
    int year = 1970;
    int month = 1;
    int day = 1;
    bool Valid() const;
    // Days since 1970-01-01.
    std::int64_t Serial() const;
    static CivilDate FromSerial(std::int64_t days);
    // "YYYY-MM-DD"; nothing for another form or an impossible date.
    static std::optional<CivilDate> Parse(std::string_view text);
    friend bool operator==(const CivilDate&, const CivilDate&) = default;
};
// The daily log file name of a date: "07-12-2026.log".
std::string DayLogName(const CivilDate& date);

// What the export needs of one operative parameter, copied from the
// description when the export is set up: the worker never touches the
// document's live parameters.
struct ReportColumn {
    std::string name;
    std::uint8_t address = 0;  // low byte of the device address, as records hold it
    std::string title;         // "%s [%s]": displayed description, name
    std::string type;
    int decimals = 0;
    double minValue = 0;
    double maxValue = 0;
    bool hasLinearIndex = false;
    bool shownText = false;  // composite: records carry the shown text
};
ReportColumn ColumnOf(const Parameter& p);
// The operative parameters of a tree in tree order, one column per name and
// address.
std::vector<ReportColumn> OperativeColumns(const DescBranch& operativeRoot);
// The columns that pass a filter name (empty: all).
std::vector<ReportColumn> FilterColumns(const std::vector<ReportColumn>& all,
                                        std::string_view filter);

enum class ExportFormat { Html, Workbook };

struct ExportRequest {
    ExportFormat format = ExportFormat::Html;
    std::vector<ReportColumn> columns;  // every operative parameter; the filter picks
    std::string filter;                 // FilterName of the list's position
    bool byFile = false;                // file mode, else period mode
    std::string dataFile;               // file mode: a log or archive stream name
    CivilDate from, to;                 // period mode; the page report reads "from" only
    std::string protocolFolder;
    std::string outputFolder;  // "temp" of the program's home for the dialog
    // Page reports first delete every "*.html" of the output folder, as the
    // dialog's reports in "temp" do; leave off for a folder of the user's.
    bool clearOldPages = false;
};

// The dialog's side of a running export. Callbacks run on the worker thread.
struct ExportHooks {
    std::function<void(int percent)> dayProgress;     // share of the days done
    std::function<void(int percent)> recordProgress;  // position in the current file
    // Switches the document's protocol recording off; called once the
    // export starts.
    std::function<void()> stopRecording;
    // Bytes free to the user on the folder's drive; nothing when unknown.
    // The default asks the file system.
    std::function<std::optional<std::uint64_t>(const std::string& folder)> freeSpace;
    // Held while a workbook is built (the protocol layer's link-idle
    // semaphore); none: nothing is held.
    Semaphore* linkIdle = nullptr;
};

enum class ExportStatus { Done, Cancelled, NoSpace, Failed };

struct ExportResult {
    ExportStatus status = ExportStatus::Done;
    // The files written, the main page or the workbook first.
    std::vector<std::string> files;
    // Data that could be read only in part (a cut log, a damaged archive).
    std::vector<std::string> warnings;
    // The box the dialog shows, when there is one.
    std::string message;
    std::string caption;
    MessageIcon icon = MessageIcon::None;
    // The system's reason behind a failure, for logs and the tool.
    std::string detail;
};

// One export: built on the dialog's thread, run on a worker thread, cancelled
// from any thread. A cancelled or failed export leaves no new file under a
// final name: every file is written under a temporary name and renamed only
// when the whole report is complete.
class ExportJob {
  public:
    explicit ExportJob(ExportRequest request, ExportHooks hooks = {});

    // The free-space rule. Done when the export may start, else NoSpace
    // with the box to show.
    ExportResult CheckFreeSpace() const;
    // The whole export: the free-space rule, recording off, the report.
    ExportResult Run();
    // Asks a running export to stop between days or records.
    void Cancel() { cancelled_.store(true, std::memory_order_relaxed); }
    bool Cancelled() const { return cancelled_.load(std::memory_order_relaxed); }

    const ExportRequest& request() const { return request_; }
    // The columns the report has after the filter.
    const std::vector<ReportColumn>& columns() const { return columns_; }

  private:
    ExportResult RunHtml();
    ExportResult RunWorkbook();
    ExportResult Fail(std::string detail) const;

    ExportRequest request_;
    ExportHooks hooks_;
    std::vector<ReportColumn> columns_;
    std::atomic<bool> cancelled_{false};
};

// The data files the dialog offers: the streams of every "*.var" archive of
// the folder (archives by name), then every "*.log" file (by name).
std::vector<std::string> ListDataFiles(const std::string& protocolFolder);

// Bytes free to the user on the drive of a folder; nothing when unknown.
std::optional<std::uint64_t> FreeSpaceOf(const std::string& folder);

// Deletes every archive "MM-YYYY.var" of the folder whose month is not later
// than the one given. Other files stay; one that cannot be deleted is
// skipped and listed.
struct ClearResult {
    std::vector<std::string> deleted;
    std::vector<std::string> skipped;  // "name: reason"
    std::string Message() const;  // "Количество удаленных файлов: %i."
};
ClearResult ClearArchives(const std::string& protocolFolder, int month, int year);

}  // namespace Protocol
