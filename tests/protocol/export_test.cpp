#include "protocol/export.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <thread>

#include "model/parameter.h"
#include "platform/codepage.h"
#include "platform/semaphore.h"
#include "protocol/protocol_files.h"

namespace fs = std::filesystem;
using namespace Protocol;

namespace {

const fs::path kChecks = SELVAR_EXPORT_CHECKS;

std::string ReadAll(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::vector<std::uint8_t> Float(float v) {
    std::uint32_t bits;
    std::memcpy(&bits, &v, 4);
    return {std::uint8_t(bits >> 24), std::uint8_t(bits >> 16), std::uint8_t(bits >> 8),
            std::uint8_t(bits)};
}

std::vector<std::uint8_t> Text(std::string_view s) {
    return {s.begin(), s.end()};
}

ReportColumn Column(std::string name, int address, std::string title, std::string type,
                    int decimals, bool shownText = false) {
    ReportColumn c;
    c.name = std::move(name);
    c.address = static_cast<std::uint8_t>(address);
    c.title = std::move(title);
    c.type = std::move(type);
    c.decimals = decimals;
    c.shownText = shownText;
    return c;
}

// Sets the zone for one test; records carry UTC seconds, pages local hours.
class ZoneGuard {
  public:
    explicit ZoneGuard(const char* zone) {
        if (const char* old = std::getenv("TZ")) old_ = old;
        setenv("TZ", zone, 1);
        tzset();
    }
    ~ZoneGuard() {
        if (old_)
            setenv("TZ", old_->c_str(), 1);
        else
            unsetenv("TZ");
        tzset();
    }

  private:
    std::optional<std::string> old_;
};

// 2026-12-07 09:59:58 UTC.
constexpr std::int64_t kT0 = 1796637598;

class ExportTest : public ::testing::Test {
  protected:
    void SetUp() override {
        root = fs::temp_directory_path() /
               ("selvar-export-" + std::to_string(getpid()) + "-" +
                ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(root);
        fs::create_directories(root / "protocol");
        fs::create_directories(root / "temp");
        columns = {Column("rEAd", 0, "Вход 1", "float", 1),
                   Column("rEAd", 1, "Вход \"2\" <&>", "float", 2),
                   Column("r.cn", 0, "Дискретные входы", "bin", 0),
                   Column("v.in", 0, "Шкала", "float", 3, true)};
    }
    void TearDown() override { fs::remove_all(root); }

    void Log(const std::string& name, const std::vector<LogRecord>& records,
             std::size_t cutLast = 0) {
        std::string bytes;
        for (const LogRecord& r : records)
            bytes += EncodeRecord(r);
        bytes.resize(bytes.size() - cutLast);
        std::ofstream(root / "protocol" / name, std::ios::binary) << bytes;
    }

    ExportRequest Request(ExportFormat format) {
        ExportRequest r;
        r.format = format;
        r.columns = columns;
        r.protocolFolder = (root / "protocol").string();
        r.outputFolder = (root / "temp").string();
        r.from = r.to = CivilDate{2026, 12, 7};
        return r;
    }

    static ExportHooks Roomy() {
        ExportHooks h;
        h.freeSpace = [](const std::string&) {
            return std::optional<std::uint64_t>(kMinFreeSpace);
        };
        return h;
    }

    // The second judge's reading of the pages; empty with the reason in
    // *error when it refuses them.
    std::string Judge(const std::string& mainPage, std::string* error = nullptr) {
        const fs::path out = root / "judge.out";
        const fs::path err = root / "judge.err";
        std::string command = "/usr/bin/python3 '" + (kChecks / "export_html_check.py").string() +
                              "' '" + (root / "temp").string() + "' '" + mainPage + "' >'" +
                              out.string() + "' 2>'" + err.string() + "'";
        int status = std::system(command.c_str());
        if (error) *error = ReadAll(err);
        return status == 0 ? ReadAll(out) : std::string();
    }

    std::vector<std::string> Files(const fs::path& folder) {
        std::vector<std::string> names;
        for (const auto& e : fs::directory_iterator(folder))
            names.push_back(e.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    }

    fs::path root;
    std::vector<ReportColumn> columns;
};

// The known log: three hours, two records of one second in a row, a failure
// and a good value in one second, a "bin" value, a composite value, records
// that do not decode, a record of no column and a last record cut short.
std::vector<LogRecord> KnownLog() {
    return {
        {kT0, "rEAd", 0, false, Float(20.5f)},
        {kT0, "rEAd", 1, false, Float(1.25f)},
        {kT0 + 1, "rEAd", 1, true, {}},
        {kT0 + 1, "rEAd", 1, false, Float(3.0f)},
        {kT0 + 1, "r.cn", 0, false, {0x05}},
        {kT0 + 2, "v.in", 0, false, Text("12.345")},
        {kT0 + 2, "rEAd", 0, false, {}},         // no data: nothing to show
        {kT0 + 3, "rEAd", 0, false, {0x41, 0}},  // a length the type never has
        {kT0 + 3, "zzz", 9, false, {1}},         // no column: no row
        {kT0 + 3602, "v.in", 0, false, Text("a<b&c")},
        {kT0 + 3603, "rEAd", 1, false, Float(7.0f)},
    };
}

constexpr const char* kHead =
    "<html><head>\n<title>Протокол измерений</title>\n<meta http-equiv=Content-Type "
    "content=\"text/html; charset=windows-1251\">\n</head><body>\n";
constexpr const char* kTable =
    "<TABLE cellSpacing=\"0\" cellPadding=\"1\" width=\"100%\" border=\"1\">\n<TR>\n"
    "<TD bgColor=\"#33cc99\" 0 align=\"center\"><STRONG>Время</STRONG></TD>"
    "<TD bgColor=\"#33cc99\" 1 align=\"center\"><STRONG>Вход 1</STRONG></TD>"
    "<TD bgColor=\"#33cc99\" 2 align=\"center\"><STRONG>Вход &quot;2&quot; "
    "&lt;&amp;&gt;</STRONG></TD>"
    "<TD bgColor=\"#33cc99\" 3 align=\"center\"><STRONG>Дискретные входы</STRONG></TD>"
    "<TD bgColor=\"#33cc99\" 4 align=\"center\"><STRONG>Шкала</STRONG></TD></TR>\n";
constexpr const char* kTail = "</TABLE>\n</body>\n</html>";

TEST_F(ExportTest, PagesOfAKnownLogByteForByte) {
    ZoneGuard zone("UTC");
    Log("07-12-2026.log", KnownLog(), 5);
    // A record of the same day left in a page folder of an earlier report.
    std::ofstream(root / "temp" / "old.html") << "old";
    ExportRequest request = Request(ExportFormat::Html);
    request.clearOldPages = true;
    bool recordingStopped = false;
    ExportHooks hooks = Roomy();
    hooks.stopRecording = [&] { recordingStopped = true; };
    ExportJob job(request, hooks);
    ExportResult result = job.Run();
    ASSERT_EQ(result.status, ExportStatus::Done) << result.detail;
    EXPECT_TRUE(recordingStopped);
    ASSERT_EQ(result.files.size(), 3u);
    EXPECT_EQ(fs::path(result.files[0]).filename(), "07-12-2026.html");
    EXPECT_EQ(fs::path(result.files[1]).filename(), "07-12-2026(1).html");
    EXPECT_EQ(fs::path(result.files[2]).filename(), "07-12-2026(2).html");
    // Only the three pages remain: the old page and the extracted copy are gone.
    EXPECT_EQ(
        Files(root / "temp"),
        (std::vector<std::string>{"07-12-2026(1).html", "07-12-2026(2).html", "07-12-2026.html"}));
    ASSERT_EQ(result.warnings.size(), 1u);
    EXPECT_NE(result.warnings[0].find("cut short"), std::string::npos);

    const std::string nav0 =
        "<P>Часы:&nbsp;<FONT color=\"#006600\"><STRONG>09</STRONG></FONT>&nbsp;<A "
        "href=\"07-12-2026(1).html\">10</A>&nbsp;<A href=\"07-12-2026(2).html\">11</A></P>\n";
    const std::string page0 =
        std::string(kHead) + nav0 + kTable +
        "<TR>\n<TD bgColor=\"#ccffff\">09:59:58</TD><TD bgColor=\"#ccffff\">20.500</TD>"
        "<TD bgColor=\"#ccffff\">1.250</TD><TD bgColor=\"#ccffff\">&nbsp;</TD>"
        "<TD bgColor=\"#ccffff\">&nbsp;</TD></TR>\n"
        "<TR>\n<TD bgColor=\"#ffffcc\">09:59:59</TD><TD bgColor=\"#ffffcc\">&nbsp;</TD>"
        "<TD bgColor=\"#ffbfbf\">Таймаут при передаче данных</TD>"
        "<TD bgColor=\"#ffffcc\">10100000</TD><TD bgColor=\"#ffffcc\">&nbsp;</TD></TR>\n" +
        kTail;
    EXPECT_EQ(ReadAll(result.files[0]), Utf8ToCp1251(page0));

    const std::string nav1 =
        "<P>Часы:&nbsp;<A href=\"07-12-2026.html\">09</A>&nbsp;<FONT "
        "color=\"#006600\"><STRONG>10</STRONG></FONT>&nbsp;<A "
        "href=\"07-12-2026(2).html\">11</A></P>\n";
    // A length the type never has shows the conversion's error text.
    const std::string page1 =
        std::string(kHead) + nav1 + kTable +
        "<TR>\n<TD bgColor=\"#ccffff\">10:00:00</TD><TD bgColor=\"#ccffff\">&nbsp;</TD>"
        "<TD bgColor=\"#ccffff\">&nbsp;</TD><TD bgColor=\"#ccffff\">&nbsp;</TD>"
        "<TD bgColor=\"#ccffff\">12.345</TD></TR>\n"
        "<TR>\n<TD bgColor=\"#ffffcc\">10:00:01</TD>"
        "<TD bgColor=\"#ffffcc\">Ошибка; (Непонятная длина ответа:2)</TD>"
        "<TD bgColor=\"#ffffcc\">&nbsp;</TD><TD bgColor=\"#ffffcc\">&nbsp;</TD>"
        "<TD bgColor=\"#ffffcc\">&nbsp;</TD></TR>\n" +
        kTail;
    // The record without data must not show the 20.500 decoded before it.
    EXPECT_EQ(ReadAll(result.files[1]), Utf8ToCp1251(page1));

    const std::string nav2 =
        "<P>Часы:&nbsp;<A href=\"07-12-2026.html\">09</A>&nbsp;<A "
        "href=\"07-12-2026(1).html\">10</A>&nbsp;<FONT "
        "color=\"#006600\"><STRONG>11</STRONG></FONT></P>\n";
    const std::string page2 =
        std::string(kHead) + nav2 + kTable +
        "<TR>\n<TD bgColor=\"#ccffff\">11:00:00</TD><TD bgColor=\"#ccffff\">&nbsp;</TD>"
        "<TD bgColor=\"#ccffff\">&nbsp;</TD><TD bgColor=\"#ccffff\">&nbsp;</TD>"
        "<TD bgColor=\"#ccffff\">a&lt;b&amp;c</TD></TR>\n" +
        kTail;
    EXPECT_EQ(ReadAll(result.files[2]), Utf8ToCp1251(page2));

    // The second judge: a browser's parser, every hour link opening a page.
    std::string why;
    const std::string seen = Judge("07-12-2026.html", &why);
    ASSERT_FALSE(seen.empty()) << why;
    EXPECT_NE(seen.find("hours *09 10 11\n"), std::string::npos) << seen;
    EXPECT_NE(seen.find("head Время|Вход 1|Вход \"2\" <&>|Дискретные входы|Шкала\n"),
              std::string::npos)
        << seen;
    EXPECT_NE(seen.find("row 09:59:59|_|~Таймаут при передаче данных|10100000|_\n"),
              std::string::npos)
        << seen;
    EXPECT_NE(seen.find("row 11:00:00|_|_|_|a<b&c\n"), std::string::npos) << seen;
}

TEST_F(ExportTest, DataComesFromTheArchiveStreamAndDamageKeepsTheWholeRecords) {
    ZoneGuard zone("UTC");
    // About 2.5 MB: three chunks in the archive; 110 seconds of data.
    std::vector<LogRecord> records;
    for (int i = 0; i < 110000; ++i)
        records.push_back({kT0 + i / 1000, "rEAd", 0, false, Float(float(i % 1000))});
    Log("07-12-2026.log", records);
    ASSERT_GT(fs::file_size(root / "protocol" / "07-12-2026.log"), 2000000u);
    {
        auto archive = OpenArchive((root / "protocol" / "12-2026.var").string(), true);
        ASSERT_TRUE(archive);
        ASSERT_TRUE(PackLogFile(*archive, "07-12-2026.log",
                                (root / "protocol" / "07-12-2026.log").string(), true));
    }
    ASSERT_FALSE(fs::exists(root / "protocol" / "07-12-2026.log"));
    EXPECT_EQ(ListDataFiles((root / "protocol").string()),
              std::vector<std::string>{"07-12-2026.log"});

    ExportRequest request = Request(ExportFormat::Html);
    request.byFile = true;
    request.dataFile = "07-12-2026.log";
    request.filter = "READ";
    ExportJob job(request, Roomy());
    ExportResult result = job.Run();
    ASSERT_EQ(result.status, ExportStatus::Done) << result.detail;
    EXPECT_TRUE(result.warnings.empty());
    ASSERT_EQ(result.files.size(), 2u);  // 09:59:58 .. 10:01:49
    std::string why;
    std::string seen = Judge("07-12-2026.html", &why);
    ASSERT_FALSE(seen.empty()) << why;
    EXPECT_EQ(std::count(seen.begin(), seen.end(), '\n'), 2 * 3 + 110);
    EXPECT_NE(seen.find("row 10:01:47|999.000|_\n"), std::string::npos) << seen.substr(0, 400);
    // The extracted copy is gone with the export.
    EXPECT_EQ(Files(root / "temp"),
              (std::vector<std::string>{"07-12-2026(1).html", "07-12-2026.html"}));

    // The second chunk no longer inflates: the first chunk's whole records
    // are reported (43478 of 23 bytes, the last one cut at the chunk's end).
    std::string archive = ReadAll(root / "protocol" / "12-2026.var");
    const std::string header("\x40\x42\x0F\x00", 4);
    std::size_t second = archive.find(header, archive.find(header) + 1);
    ASSERT_NE(second, std::string::npos);
    for (std::size_t i = second + 8; i < second + 200; ++i)
        archive[i] = static_cast<char>(archive[i] ^ 0x5A);
    std::ofstream(root / "protocol" / "12-2026.var", std::ios::binary) << archive;
    ExportJob damaged(request, Roomy());
    result = damaged.Run();
    ASSERT_EQ(result.status, ExportStatus::Done) << result.detail;
    ASSERT_EQ(result.warnings.size(), 1u);
    EXPECT_NE(result.warnings[0].find("damaged chunk"), std::string::npos) << result.warnings[0];
    seen = Judge("07-12-2026.html", &why);
    ASSERT_FALSE(seen.empty()) << why;
    EXPECT_EQ(std::count(seen.begin(), seen.end(), '\n'), 2 * 3 + 44);
    EXPECT_NE(seen.find("row 10:00:41|477.000|_\n"), std::string::npos);
}

TEST_F(ExportTest, APeriodWithoutDataGivesTheHeaderRowOnly) {
    ExportRequest request = Request(ExportFormat::Html);
    request.to = CivilDate{2026, 12, 9};
    request.filter = "R.OE";
    request.columns.push_back(Column("r.oe", 0, "Выход 1", "float", 1));
    request.columns.push_back(Column("r.OE", 1, "Выход 2", "float", 1));
    ExportJob job(request, Roomy());
    ASSERT_EQ(job.columns().size(), 2u);  // the filter in any case, nothing else
    ExportResult result = job.Run();
    ASSERT_EQ(result.status, ExportStatus::Done) << result.detail;
    ASSERT_EQ(result.files.size(), 1u);
    EXPECT_TRUE(result.warnings.empty());
    std::string why;
    EXPECT_EQ(Judge("07-12-2026.html", &why),
              "page 07-12-2026.html\nhours \nhead Время|Выход 1|Выход 2\n")
        << why;
}

TEST_F(ExportTest, TheRepeatedHourOfTheClockChangeHasItsOwnPage) {
    // Central European time: on 2026-10-25 the clock goes from 03:00 back to
    // 02:00, so 00:30 and 01:30 UTC are both 02:30 local.
    ZoneGuard zone("CET-1CEST,M3.5.0,M10.5.0/3");
    const std::int64_t first = 1792888200;  // 2026-10-25 00:30:00 UTC
    Log("25-10-2026.log",
        {{first, "rEAd", 0, false, Float(1.0f)}, {first + 3600, "rEAd", 0, false, Float(2.0f)}});
    ExportRequest request = Request(ExportFormat::Html);
    request.from = request.to = CivilDate{2026, 10, 25};
    ExportJob job(request, Roomy());
    ExportResult result = job.Run();
    ASSERT_EQ(result.status, ExportStatus::Done) << result.detail;
    ASSERT_EQ(result.files.size(), 2u);
    std::string why;
    std::string seen = Judge("25-10-2026.html", &why);
    ASSERT_FALSE(seen.empty()) << why;
    EXPECT_NE(seen.find("page 25-10-2026.html\nhours *02 02\n"), std::string::npos) << seen;
    EXPECT_NE(seen.find("page 25-10-2026(1).html\nhours 02 *02\n"), std::string::npos) << seen;
    EXPECT_NE(seen.find("row 02:30:00|1.000|"), std::string::npos) << seen;
    EXPECT_NE(seen.find("row 02:30:00|2.000|"), std::string::npos) << seen;
}

TEST_F(ExportTest, TheFreeSpaceRule) {
    Log("07-12-2026.log", KnownLog());
    for (std::uint64_t free : {kMinFreeSpace - 1, kMinFreeSpace}) {
        bool stopped = false;
        ExportHooks hooks;
        hooks.freeSpace = [&](const std::string& folder) {
            EXPECT_EQ(folder, (root / "temp").string());
            return std::optional<std::uint64_t>(free);
        };
        hooks.stopRecording = [&] { stopped = true; };
        ExportJob job(Request(ExportFormat::Html), hooks);
        ExportResult result = job.Run();
        if (free < kMinFreeSpace) {
            EXPECT_EQ(result.status, ExportStatus::NoSpace);
            EXPECT_EQ(result.message,
                      "Недостаточно свободного места на диске!\nВозможное решение: удалить "
                      "ненужные архивы данных с помощью кнопки \"Очистить\"!");
            EXPECT_EQ(result.caption, "Внимание");
            EXPECT_EQ(result.icon, MessageIcon::Error);
            EXPECT_FALSE(stopped);
            EXPECT_TRUE(Files(root / "temp").empty());
        } else {
            EXPECT_EQ(result.status, ExportStatus::Done) << result.detail;
            EXPECT_TRUE(stopped);
            EXPECT_FALSE(Files(root / "temp").empty());
        }
    }
}

TEST_F(ExportTest, ClearingDeletesTheArchivesUpToTheMonth) {
    for (const char* name :
         {"12-2025.var", "03-2026.var", "04-2026.var", "notes.var", "3-2026.var", "01-2026.log"})
        std::ofstream(root / "protocol" / name) << "x";
    fs::create_directories(root / "protocol" / "02-2026.var");  // a folder is no archive
    ClearResult result = ClearArchives((root / "protocol").string(), 3, 2026);
    EXPECT_EQ(result.deleted, (std::vector<std::string>{"03-2026.var", "12-2025.var"}));
    EXPECT_TRUE(result.skipped.empty());
    EXPECT_EQ(result.Message(), "Количество удаленных файлов: 2.");
    EXPECT_EQ(Files(root / "protocol"),
              (std::vector<std::string>{"01-2026.log", "02-2026.var", "04-2026.var", "3-2026.var",
                                        "notes.var"}));
}

TEST_F(ExportTest, CancelLeavesNoFileUnderAFinalName) {
    std::vector<LogRecord> records;
    for (int i = 0; i < 200000; ++i)
        records.push_back({kT0 + i / 4, "rEAd", 0, false, Float(float(i))});
    Log("07-12-2026.log", records);
    // A report of an earlier export that must stay as it was.
    std::ofstream(root / "temp" / "07-12-2026.html") << "earlier";
    std::ofstream(root / "temp" / "07-12-2026.xlsx") << "earlier";
    for (ExportFormat format : {ExportFormat::Html, ExportFormat::Workbook}) {
        ExportHooks hooks = Roomy();
        ExportJob* running = nullptr;
        int calls = 0;
        hooks.recordProgress = [&](int) {
            // Cancelled from the dialog's side while records are being read.
            if (++calls == 3) std::thread([&] { running->Cancel(); }).join();
        };
        ExportJob job(Request(format), hooks);
        running = &job;
        ExportResult result;
        std::thread worker([&] { result = job.Run(); });
        worker.join();
        EXPECT_EQ(result.status, ExportStatus::Cancelled);
        EXPECT_TRUE(result.files.empty());
        EXPECT_EQ(Files(root / "temp"),
                  (std::vector<std::string>{"07-12-2026.html", "07-12-2026.xlsx"}));
        EXPECT_EQ(ReadAll(root / "temp" / "07-12-2026.html"), "earlier");
        EXPECT_EQ(ReadAll(root / "temp" / "07-12-2026.xlsx"), "earlier");
    }
}

TEST_F(ExportTest, TheWorkbookReadBackByAnotherReader) {
    ZoneGuard zone("UTC");
    Log("07-12-2026.log", KnownLog(), 5);
    // The next day holds a record at the same time of day: its own row.
    Log("08-12-2026.log", {{kT0 + 86400, "rEAd", 0, false, Float(-4.5f)}});
    ExportRequest request = Request(ExportFormat::Workbook);
    request.to = CivilDate{2026, 12, 9};
    Semaphore linkIdle(1, 1);
    ExportHooks hooks = Roomy();
    hooks.linkIdle = &linkIdle;
    bool heldWhileBuilding = true;
    std::vector<int> days;
    hooks.recordProgress = [&](int) { heldWhileBuilding &= !linkIdle.TryAcquire(); };
    hooks.dayProgress = [&](int percent) { days.push_back(percent); };
    ExportJob job(request, hooks);
    ExportResult result = job.Run();
    ASSERT_EQ(result.status, ExportStatus::Done) << result.detail;
    EXPECT_TRUE(heldWhileBuilding);
    EXPECT_TRUE(linkIdle.TryAcquire()) << "the link-idle semaphore was not given back";
    EXPECT_EQ(days, (std::vector<int>{33, 66, 100}));
    ASSERT_EQ(result.files.size(), 1u);
    EXPECT_EQ(fs::path(result.files[0]).filename(), "07-12-2026_09-12-2026.xlsx");
    EXPECT_EQ(Files(root / "temp"), (std::vector<std::string>{"07-12-2026_09-12-2026.xlsx"}));

    const fs::path out = root / "book.out";
    int status =
        std::system(("/usr/bin/python3 '" + (kChecks / "export_workbook_check.py").string() +
                     "' '" + result.files[0] + "' >'" + out.string() + "' 2>&1")
                        .c_str());
    if (WIFEXITED(status) && WEXITSTATUS(status) == 77)
        GTEST_SKIP() << "python3-openpyxl is not installed";
    ASSERT_EQ(status, 0) << ReadAll(out);
    EXPECT_EQ(ReadAll(out),
              "sheet Протокол измерений frozen=A2 bold=yes widths=ok\n"
              "Время|Вход 1|Вход \"2\" <&>|Дискретные входы|Шкала\n"
              "2026-12-07 09:59:58|n:20.5|n:1.25||\n"
              "2026-12-07 09:59:59||Таймаут при передаче данных|10100000|\n"
              "2026-12-07 10:00:00||||n:12.345\n"
              "2026-12-07 10:00:01|Ошибка; (Непонятная длина ответа:2)|||\n"
              "2026-12-07 11:00:00||||a<b&c\n"
              "2026-12-08 09:59:58|n:-4.5|||\n");
}

TEST_F(ExportTest, CancelWhileWaitingForTheLink) {
    Semaphore linkIdle(0, 1);  // the link is busy and stays so
    ExportHooks hooks = Roomy();
    hooks.linkIdle = &linkIdle;
    ExportJob job(Request(ExportFormat::Workbook), hooks);
    ExportResult result;
    std::thread worker([&] { result = job.Run(); });
    job.Cancel();
    worker.join();
    EXPECT_EQ(result.status, ExportStatus::Cancelled);
    EXPECT_TRUE(Files(root / "temp").empty());
}

TEST_F(ExportTest, CompositeValuesAreRecordedAsShownAndOthersAsAnswered) {
    ProtocolFiles files((root / "protocol").string(), static_cast<std::time_t>(kT0));
    Parameter scaled;
    scaled.name = "v.in";
    scaled.bindingKind = 5;  // a scaled reading of its partners
    scaled.value = "12.345";
    scaled.rawLength = 0;
    ASSERT_TRUE(files.AppendRecord(scaled, static_cast<std::time_t>(kT0)));
    scaled.error = "timeout";  // a failed poll carries nothing
    ASSERT_TRUE(files.AppendRecord(scaled, static_cast<std::time_t>(kT0)));
    Parameter plain;
    plain.name = "rEAd";
    plain.value = "shown";
    plain.rawLength = 2;
    plain.rawData[0] = 0xAB;
    plain.rawData[1] = 0xCD;
    ASSERT_TRUE(files.AppendRecord(plain, static_cast<std::time_t>(kT0)));
    std::vector<LogRecord> records;
    ASSERT_TRUE(DecodeRecords(ReadAll(root / "protocol" / files.currentLogName()), records));
    ASSERT_EQ(records.size(), 3u);
    EXPECT_EQ(records[0].data, Text("12.345"));
    EXPECT_FALSE(records[0].failed);
    EXPECT_TRUE(records[1].data.empty());
    EXPECT_TRUE(records[1].failed);
    EXPECT_EQ(records[2].data, (std::vector<std::uint8_t>{0xAB, 0xCD}));
}

}  // namespace
