#include "protocol/export.h"

#include <sys/statvfs.h>

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <set>
#include <utility>

#include "description/desc_branch.h"
#include "model/parameter.h"
#include "platform/codepage.h"
#include "platform/text.h"
#include "protocol/export_rows.h"

namespace fs = std::filesystem;

namespace Protocol {

const std::vector<std::string>& FilterItems() {
    static const std::vector<std::string> items = {
        ExportText::kAllParameters, "read", "r.cal", "Set.P", "r.out", "r.oe"};
    return items;
}

std::string FilterName(int position) {
    const auto& items = FilterItems();
    if (position <= 0 || position >= static_cast<int>(items.size())) return {};
    return items[static_cast<std::size_t>(position)];
}

// --- dates ---

bool CivilDate::Valid() const {
    if (year < 1 || year > 9999 || month < 1 || month > 12 || day < 1) return false;
    static constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
    return day <= kDays[month - 1] + (month == 2 && leap ? 1 : 0);
}

std::int64_t CivilDate::Serial() const {
    // Days from the civil calendar, counted in eras of 400 years.
    const std::int64_t y = year - (month <= 2 ? 1 : 0);
    const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
    const std::int64_t yoe = y - era * 400;
    const std::int64_t doy = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
    const std::int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + doe - 719468;
}

CivilDate CivilDate::FromSerial(std::int64_t days) {
    days += 719468;
    const std::int64_t era = (days >= 0 ? days : days - 146096) / 146097;
    const std::int64_t doe = days - era * 146097;
    const std::int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const std::int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const std::int64_t mp = (5 * doy + 2) / 153;
    CivilDate d;
    d.day = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
    d.month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
    d.year = static_cast<int>(yoe + era * 400 + (d.month <= 2 ? 1 : 0));
    return d;
}

std::optional<CivilDate> CivilDate::Parse(std::string_view text) {
    if (text.size() != 10 || text[4] != '-' || text[7] != '-') return std::nullopt;
    auto number = [&](std::size_t at, std::size_t n, int& out) {
        out = 0;
        for (std::size_t i = at; i < at + n; ++i) {
            if (text[i] < '0' || text[i] > '9') return false;
            out = out * 10 + (text[i] - '0');
        }
        return true;
    };
    CivilDate d;
    if (!number(0, 4, d.year) || !number(5, 2, d.month) || !number(8, 2, d.day) || !d.Valid())
        return std::nullopt;
    return d;
}

std::string DayLogName(const CivilDate& date) {
    return Format("%02d-%02d-%04d.log", date.day, date.month, date.year);
}

// --- columns ---

ReportColumn ColumnOf(const Parameter& p) {
    ReportColumn c;
    c.name = p.name;
    c.address = static_cast<std::uint8_t>(p.deviceAddress & 0xFF);
    c.title = p.DisplayDescription() + " [" + p.name + "]";
    c.type = p.type;
    c.decimals = p.decimals;
    c.minValue = p.minValue;
    c.maxValue = p.maxValue;
    c.hasLinearIndex = p.hasLinearIndex;
    c.shownText = RecordsShownText(p);
    return c;
}

std::vector<ReportColumn> OperativeColumns(const DescBranch& operativeRoot) {
    std::vector<ReportColumn> columns;
    std::set<std::pair<std::string, int>> seen;
    operativeRoot.ForEachBranch([&](const DescBranch& b) {
        for (const Parameter* p : b.parameters) {
            if (!p || p->name.empty()) continue;
            if (seen.emplace(p->name, p->deviceAddress & 0xFF).second)
                columns.push_back(ColumnOf(*p));
        }
    });
    return columns;
}

std::vector<ReportColumn> FilterColumns(const std::vector<ReportColumn>& all,
                                        std::string_view filter) {
    std::vector<ReportColumn> out;
    for (const ReportColumn& c : all)
        if (filter.empty() || EqualsNoCase(c.name, filter)) out.push_back(c);
    return out;
}

ColumnIndex::ColumnIndex(const std::vector<ReportColumn>& columns) : columns_(columns) {
    for (std::size_t i = 0; i < columns.size(); ++i)
        byAddress_[columns[i].address].push_back(static_cast<int>(i));
}

int ColumnIndex::Find(const LogRecord& r) const {
    for (int i : byAddress_[r.address])
        if (columns_[static_cast<std::size_t>(i)].name == r.name) return i;
    int found = -1;
    for (std::size_t i = 0; i < columns_.size(); ++i) {
        if (columns_[i].name != r.name) continue;
        if (found >= 0) return -1;  // several channels of that name: none is right
        found = static_cast<int>(i);
    }
    return found;
}

// --- rows ---

RowBuilder::RowBuilder(const std::vector<ReportColumn>& columns, Emit emit)
    : columns_(columns), cells_(columns.size()), emit_(std::move(emit)) {
    scratch_.resize(columns.size());
    for (std::size_t i = 0; i < columns.size(); ++i) {
        MyConverter& s = scratch_[i];
        s.name = columns[i].name;
        s.type = columns[i].type;
        s.decimals = columns[i].decimals;
        s.minValue = columns[i].minValue;
        s.maxValue = columns[i].maxValue;
    }
}

void RowBuilder::Decode(int column, const LogRecord& r, Cell& cell) {
    const ReportColumn& c = columns_[static_cast<std::size_t>(column)];
    if (c.shownText) {
        // What the polling showed, kept as text; bytes that are no UTF-8
        // become '?' rather than reach the page raw.
        std::string_view text(reinterpret_cast<const char*>(r.data.data()), r.data.size());
        cell.text = Cp1251ToUtf8(Utf8ToCp1251(text));
        cell.kind = cell.text.empty() ? Cell::kEmpty : Cell::kValue;
        return;
    }
    MyConverter& s = scratch_[static_cast<std::size_t>(column)];
    s.value.clear();
    int result =
        s.ConvertFromData(r.data.data(), static_cast<int>(r.data.size()), c.hasLinearIndex);
    // An undecodable record shows nothing; a length error shows its text.
    cell.text = result != 0 ? s.value : std::string();
    cell.kind = cell.text.empty() ? Cell::kEmpty : Cell::kValue;
}

bool RowBuilder::Add(int column, const LogRecord& r) {
    if (pending_ && r.time != time_) {
        if (!Flush()) return false;
    }
    if (!pending_) {
        pending_ = true;
        time_ = r.time;
        for (Cell& c : cells_)
            c.kind = Cell::kEmpty;
    }
    Cell& cell = cells_[static_cast<std::size_t>(column)];
    if (cell.kind == Cell::kFailed) return true;  // the failure stays visible
    if (r.failed) {
        cell.kind = Cell::kFailed;
        cell.text = ExportText::kTimeout;
        return true;
    }
    Cell decoded;
    Decode(column, r, decoded);
    if (decoded.kind == Cell::kEmpty && cell.kind == Cell::kValue) return true;
    cell.kind = decoded.kind;
    cell.text.swap(decoded.text);
    return true;
}

bool RowBuilder::Flush() {
    if (!pending_) return true;
    pending_ = false;
    return emit_(time_, cells_);
}

LocalClock::Parts LocalClock::At(std::int64_t time) {
    if (time < start_ || time >= end_) {
        std::time_t t = static_cast<std::time_t>(time);
        std::tm local{};
        if (!localtime_r(&t, &local)) local = std::tm{};
        Parts p{local.tm_year + 1900,
                local.tm_mon + 1,
                local.tm_mday,
                local.tm_hour,
                local.tm_min,
                local.tm_sec,
                0};
        p.hourStart = time - local.tm_min * 60 - local.tm_sec;
        // The hour is remembered only when its last second is still in it
        // with the same offset: a zone shift inside the hour is converted
        // second by second.
        std::time_t last = static_cast<std::time_t>(p.hourStart + 3599);
        std::tm check{};
        if (!localtime_r(&last, &check) || check.tm_hour != local.tm_hour || check.tm_min != 59 ||
            check.tm_sec != 59) {
            start_ = end_ = 0;
            return p;
        }
        hour_ = p;
        start_ = p.hourStart;
        end_ = start_ + 3600;
    }
    Parts p = hour_;
    const std::int64_t into = time - start_;
    p.minute = static_cast<int>(into / 60);
    p.second = static_cast<int>(into % 60);
    return p;
}

// --- data files ---

std::string DataFileTitle(const std::string& name) {
    if (name.size() > 4 && EqualsNoCase(std::string_view(name).substr(name.size() - 4), ".log"))
        return name.substr(0, name.size() - 4);
    return name;
}

DayFile::DayFile(const std::string& protocolFolder, const std::string& scratchFolder,
                 const std::string& name, std::vector<std::string>& warnings)
    : name_(name), warnings_(warnings) {
    if (!IsSafeStreamName(name)) {
        warnings_.push_back(name + ": not a data file name");
        return;
    }
    const std::string log = (fs::path(protocolFolder) / name).string();
    std::error_code ec;
    const bool haveLog = fs::is_regular_file(log, ec);
    const std::string archiveName = ArchiveNameFor(name);
    if (!archiveName.empty()) {
        const std::string archivePath = (fs::path(protocolFolder) / archiveName).string();
        std::unique_ptr<ArchiveFile> archive;
        if (fs::exists(archivePath, ec)) {
            std::string error;
            archive = OpenArchive(archivePath, false, &error);
            if (!archive) warnings_.push_back(archiveName + ": " + error);
        }
        const auto streams = archive ? archive->Streams() : std::vector<std::string>();
        if (archive && std::find(streams.begin(), streams.end(), name) != streams.end()) {
            extracted_ = (fs::path(scratchFolder) / ("." + name + ".extracted")).string();
            std::ofstream out(extracted_, std::ios::binary | std::ios::trunc);
            std::uint64_t written = 0;
            std::string error;
            bool whole =
                out && ReadLogStream(
                           *archive, name,
                           [&](std::string_view bytes) {
                               out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
                               written += bytes.size();
                               return static_cast<bool>(out);
                           },
                           &error);
            out.close();
            if (!out) {
                whole = false;
                written = 0;
                if (error.empty()) error = "cannot write " + extracted_;
            }
            if (whole) {
                path_ = extracted_;
                return;
            }
            // Whole chunks come before the damage; the log, when it is still
            // there, holds the day as it was recorded.
            warnings_.push_back(name + " in " + archiveName + ": " +
                                (error.empty() ? std::string("unreadable") : error) +
                                (haveLog ? "; the log file is read instead"
                                         : "; only the records before the damage are reported"));
            warned_ = true;
            if (!haveLog && written > 0) {
                path_ = extracted_;
                return;
            }
        }
    }
    if (haveLog) path_ = log;
}

DayFile::~DayFile() {
    if (!extracted_.empty()) {
        std::error_code ec;
        fs::remove(extracted_, ec);
    }
}

bool DayFile::ForEachRecord(const std::function<bool(const LogRecord&)>& sink,
                            const std::function<void(int)>& progress) {
    if (path_.empty()) return true;
    std::ifstream in(path_, std::ios::binary);
    if (!in) {
        warnings_.push_back(name_ + ": cannot open " + path_);
        return true;
    }
    std::error_code ec;
    const std::uint64_t size = fs::file_size(path_, ec);
    std::vector<char> block(1 << 16);
    std::uint64_t read = 0;
    int shown = -1;
    LogDecoder decoder;
    bool stopped = false;
    while (in) {
        in.read(block.data(), static_cast<std::streamsize>(block.size()));
        const auto got = static_cast<std::size_t>(in.gcount());
        if (got == 0) break;
        read += got;
        if (!decoder.Feed(std::string_view(block.data(), got), sink)) {
            stopped = !decoder.damaged();
            break;
        }
        if (progress && size > 0) {
            int percent = static_cast<int>(std::min<std::uint64_t>(read, size) * 100 / size);
            if (percent != shown) progress(shown = percent);
        }
    }
    if (stopped) return false;
    if (in.bad()) warnings_.push_back(name_ + ": cannot read " + path_);
    // A file read twice (the pages) is reported once.
    if (!warned_ && decoder.damaged())
        warnings_.push_back(Format("%s: damaged at byte %llu; the records after it are left out",
                                   name_.c_str(),
                                   static_cast<unsigned long long>(decoder.offset())));
    else if (!warned_ && !decoder.AtBoundary())
        warnings_.push_back(name_ + ": the last record is cut short and left out");
    warned_ = warned_ || decoder.damaged() || !decoder.AtBoundary();
    if (progress && shown != 100) progress(100);
    return true;
}

// --- output files ---

PendingFiles::~PendingFiles() {
    if (committed_) return;
    std::error_code ec;
    for (const std::string& t : temps_)
        fs::remove(t, ec);
}

std::string PendingFiles::Add(const std::string& final) {
    finals_.push_back(final);
    temps_.push_back(final + ".part");
    return temps_.back();
}

bool PendingFiles::Commit(std::string* error) {
    std::error_code ec;
    for (std::size_t i = 0; i < temps_.size(); ++i) {
        fs::rename(temps_[i], finals_[i], ec);
        if (ec) {
            if (error) *error = "cannot replace " + finals_[i] + ": " + ec.message();
            // The files renamed already are whole; the rest are dropped.
            for (std::size_t j = i; j < temps_.size(); ++j)
                fs::remove(temps_[j], ec);
            committed_ = true;
            return false;
        }
    }
    committed_ = true;
    return true;
}

// --- the job ---

ExportJob::ExportJob(ExportRequest request, ExportHooks hooks)
    : request_(std::move(request)), hooks_(std::move(hooks)) {
    columns_ = FilterColumns(request_.columns, request_.filter);
    if (!hooks_.freeSpace) hooks_.freeSpace = FreeSpaceOf;
}

ExportResult ExportJob::CheckFreeSpace() const {
    ExportResult result;
    const std::string& folder =
        request_.outputFolder.empty() ? request_.protocolFolder : request_.outputFolder;
    std::optional<std::uint64_t> free = hooks_.freeSpace(folder);
    if (free && *free < kMinFreeSpace) {
        result.status = ExportStatus::NoSpace;
        result.message = ExportText::kNoSpace;
        result.caption = ExportText::kNoSpaceCaption;
        result.icon = MessageIcon::Error;
        result.detail = Format("%llu bytes free", static_cast<unsigned long long>(*free));
    }
    return result;
}

ExportResult ExportJob::Fail(std::string detail) const {
    ExportResult result;
    result.status = ExportStatus::Failed;
    result.message = ExportText::kCannotWrite;
    result.caption = ExportText::kCannotWriteCaption;
    result.icon = MessageIcon::Exclamation;
    result.detail = std::move(detail);
    return result;
}

ExportResult ExportJob::Run() {
    ExportResult space = CheckFreeSpace();
    if (space.status != ExportStatus::Done) return space;
    if (hooks_.stopRecording) hooks_.stopRecording();
    if (request_.byFile ? !IsSafeStreamName(request_.dataFile)
                        : !request_.from.Valid() || !request_.to.Valid())
        return Fail(request_.byFile ? "not a data file name: " + request_.dataFile
                                    : std::string("not a date"));
    if (!request_.byFile && request_.format == ExportFormat::Workbook &&
        request_.to.Serial() < request_.from.Serial())
        return Fail("the period ends before it begins");
    std::error_code ec;
    fs::create_directories(request_.outputFolder, ec);
    if (!fs::is_directory(request_.outputFolder, ec))
        return Fail("cannot create the folder " + request_.outputFolder);
    ExportResult result = request_.format == ExportFormat::Html ? RunHtml() : RunWorkbook();
    if (result.status == ExportStatus::Done && Cancelled()) {
        ExportResult cancelled;
        cancelled.status = ExportStatus::Cancelled;
        cancelled.warnings = std::move(result.warnings);
        return cancelled;
    }
    return result;
}

// --- the dialog's lists and clearing ---

namespace {

bool HasExtension(const std::string& name, std::string_view ext) {
    return name.size() > ext.size() &&
           EqualsNoCase(std::string_view(name).substr(name.size() - ext.size()), ext);
}

std::vector<std::string> FilesWithExtension(const std::string& folder, std::string_view ext) {
    std::vector<std::string> names;
    std::error_code ec;
    for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
        if (!it->is_regular_file(ec)) continue;
        std::string name = it->path().filename().string();
        if (HasExtension(name, ext)) names.push_back(std::move(name));
    }
    std::sort(names.begin(), names.end());
    return names;
}

// "MM-YYYY.var" as (year, month); false for any other name.
bool ArchiveMonth(const std::string& name, int& year, int& month) {
    if (name.size() != 11 || name[2] != '-' || !HasExtension(name, ".var")) return false;
    auto digits = [&](std::size_t at, std::size_t n, int& out) {
        out = 0;
        for (std::size_t i = at; i < at + n; ++i) {
            if (name[i] < '0' || name[i] > '9') return false;
            out = out * 10 + (name[i] - '0');
        }
        return true;
    };
    return digits(0, 2, month) && digits(3, 4, year) && month >= 1 && month <= 12;
}

}  // namespace

std::vector<std::string> ListDataFiles(const std::string& protocolFolder) {
    std::vector<std::string> names;
    for (const std::string& archive : FilesWithExtension(protocolFolder, ".var")) {
        auto opened = OpenArchive((fs::path(protocolFolder) / archive).string(), false);
        if (!opened) continue;
        for (std::string& stream : opened->Streams())
            names.push_back(std::move(stream));
    }
    for (std::string& log : FilesWithExtension(protocolFolder, ".log"))
        names.push_back(std::move(log));
    return names;
}

std::optional<std::uint64_t> FreeSpaceOf(const std::string& folder) {
    struct statvfs st {};
    if (::statvfs(folder.c_str(), &st) != 0) return std::nullopt;
    return static_cast<std::uint64_t>(st.f_bavail) * st.f_frsize;
}

std::string ClearResult::Message() const {
    return Format("Количество удаленных файлов: %i.", static_cast<int>(deleted.size()));
}

ClearResult ClearArchives(const std::string& protocolFolder, int month, int year) {
    ClearResult result;
    const int limit = year * 12 + (month - 1);
    for (const std::string& name : FilesWithExtension(protocolFolder, ".var")) {
        int y = 0, m = 0;
        if (!ArchiveMonth(name, y, m) || y * 12 + (m - 1) > limit) continue;
        std::error_code ec;
        if (fs::remove(fs::path(protocolFolder) / name, ec) && !ec)
            result.deleted.push_back(name);
        else
            result.skipped.push_back(name + ": " + (ec ? ec.message() : "not deleted"));
    }
    return result;
}

}  // namespace Protocol
