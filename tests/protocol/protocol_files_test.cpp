#include "protocol/protocol_files.h"

#include <gtest/gtest.h>
#include <unistd.h>
#include <zlib.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <random>

#include "model/parameter.h"

namespace fs = std::filesystem;
using namespace Protocol;

namespace {

std::time_t LocalTime(int year, int month, int day, int hour, int minute, int second = 0) {
    std::tm t{};
    t.tm_year = year - 1900;
    t.tm_mon = month - 1;
    t.tm_mday = day;
    t.tm_hour = hour;
    t.tm_min = minute;
    t.tm_sec = second;
    t.tm_isdst = -1;
    return std::mktime(&t);
}

std::string ReadAll(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void WriteAll(const fs::path& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

// Log-like bytes that compress, with some noise so chunks differ.
std::string SampleLog(std::size_t size, unsigned seed) {
    std::mt19937 gen(seed);
    std::string bytes;
    bytes.reserve(size);
    while (bytes.size() < size) {
        LogRecord r;
        r.time = 1765000000 + static_cast<std::int64_t>(bytes.size());
        r.name = "in.sl";
        r.address = 3;
        r.data = {static_cast<std::uint8_t>(gen()), static_cast<std::uint8_t>(gen()), 0x41, 0x20};
        bytes += EncodeRecord(r);
    }
    bytes.resize(size);
    return bytes;
}

class ProtocolTest : public ::testing::Test {
  protected:
    void SetUp() override {
        dir = fs::temp_directory_path() /
              ("selvar-protocol-" + std::to_string(getpid()) + "-" +
               ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(dir);
        fs::create_directories(dir);
    }
    void TearDown() override { fs::remove_all(dir); }

    std::string Stream(const ArchiveFile& archive, const std::string& name, bool* ok = nullptr) {
        std::string bytes;
        bool good = ReadLogStream(archive, name, [&](std::string_view part) {
            bytes.append(part);
            return true;
        });
        if (ok) *ok = good;
        return bytes;
    }

    fs::path dir;
};

TEST_F(ProtocolTest, RecordsRoundTripThroughTheDailyLog) {
    // A failed poll with no answer data is a bare 19-byte record.
    LogRecord failed{0, "rEAd", 7, true, {}};
    std::string bytes = EncodeRecord(failed);
    ASSERT_EQ(bytes.size(), 19u);
    EXPECT_EQ(bytes[17], 1);
    EXPECT_EQ(bytes[18], 0);
    EXPECT_EQ(bytes.substr(8, 8), std::string("rEAd\0\0\0\0", 8));

    const std::time_t now = LocalTime(2026, 12, 7, 14, 30, 5);
    ProtocolFiles files(dir.string(), now);
    EXPECT_EQ(files.currentLogName(), "07-12-2026.log");

    Parameter p;
    p.name = "A.Len";
    p.deviceAddress = 0x1FE;  // only the low byte is kept
    p.rawLength = 3;
    p.rawData[0] = 0x01;
    p.rawData[1] = 0xFF;
    p.rawData[2] = 0x00;
    ASSERT_TRUE(files.AppendRecord(p, now));
    p.error = "timeout";
    p.rawLength = 0;
    ASSERT_TRUE(files.AppendRecord(p, now + 1));

    std::vector<LogRecord> records;
    ASSERT_TRUE(DecodeRecords(ReadAll(dir / "07-12-2026.log"), records));
    ASSERT_EQ(records.size(), 2u);
    EXPECT_EQ(records[0].time, now);
    EXPECT_EQ(records[0].name, "A.Len");
    EXPECT_EQ(records[0].address, 0xFE);
    EXPECT_FALSE(records[0].failed);
    EXPECT_EQ(records[0].data, (std::vector<std::uint8_t>{0x01, 0xFF, 0x00}));
    EXPECT_TRUE(records[1].failed);
    EXPECT_TRUE(records[1].data.empty());

    // A log cut inside a record keeps the whole records before it.
    std::string cut = ReadAll(dir / "07-12-2026.log");
    cut.pop_back();
    records.clear();
    EXPECT_FALSE(DecodeRecords(cut.substr(0, cut.size() - 10), records));
    EXPECT_EQ(records.size(), 1u);

    // No folder: the record is skipped, not thrown.
    ProtocolFiles nowhere((dir / "missing").string(), now);
    EXPECT_FALSE(nowhere.AppendRecord(p, now));
}

TEST_F(ProtocolTest, FileAndArchiveNames) {
    EXPECT_EQ(LogFileName(LocalTime(2026, 1, 5, 0, 0)), "05-01-2026.log");
    EXPECT_EQ(ArchiveNameFor("31-12-2026.log"), "12-2026.var");
    EXPECT_EQ(ArchiveNameFor("07-12-2026.LOG"), "12-2026.var");
    EXPECT_EQ(ArchiveNameFor("nodash.log"), "");
}

TEST_F(ProtocolTest, RolloverAtNineTwelvePacksYesterday) {
    ProtocolFiles files(dir.string(), LocalTime(2026, 12, 7, 20, 0));
    LogRecord r{LocalTime(2026, 12, 7, 20, 0), "r.co", 1, false, {1, 2}};
    ASSERT_TRUE(files.AppendRecord(r));
    const std::string yesterday = ReadAll(dir / "07-12-2026.log");

    EXPECT_FALSE(files.Tick(LocalTime(2026, 12, 8, 9, 11, 59)));
    EXPECT_EQ(files.currentLogName(), "07-12-2026.log");
    EXPECT_TRUE(fs::exists(dir / "07-12-2026.log"));

    EXPECT_TRUE(files.Tick(LocalTime(2026, 12, 8, 9, 12, 0)));
    EXPECT_EQ(files.currentLogName(), "08-12-2026.log");
    EXPECT_FALSE(fs::exists(dir / "07-12-2026.log"));
    // Later ticks of the same minute find nothing more to do.
    EXPECT_TRUE(files.Tick(LocalTime(2026, 12, 8, 9, 12, 30)));
    EXPECT_FALSE(files.Tick(LocalTime(2026, 12, 8, 9, 13, 0)));

    auto archive = OpenArchive((dir / "12-2026.var").string(), false);
    ASSERT_TRUE(archive);
    EXPECT_EQ(archive->Streams(), std::vector<std::string>{"07-12-2026.log"});
    EXPECT_EQ(Stream(*archive, "07-12-2026.log"), yesterday);

    // The current log is never packed, even from an earlier day.
    WriteAll(dir / "01-12-2026.log", "old");
    files.SetCurrentLogName("01-12-2026.log");
    EXPECT_EQ(files.PackOldLogs(), 0);
    EXPECT_TRUE(fs::exists(dir / "01-12-2026.log"));
}

TEST_F(ProtocolTest, PacksDaysIntoMonthsAndExtractsThemBack) {
    std::map<std::string, std::string> logs = {
        {"29-11-2026.log", SampleLog(1000, 1)},
        {"30-11-2026.log", ""},
        {"01-12-2026.log", SampleLog(2500000, 2)},
        {"31-12-2026.log", SampleLog(77777, 3)},
    };
    for (const auto& [name, bytes] : logs)
        WriteAll(dir / name, bytes);
    ProtocolFiles files(dir.string(), LocalTime(2027, 1, 2, 10, 0));
    EXPECT_EQ(files.PackOldLogs(), 4);
    for (const auto& [name, bytes] : logs)
        EXPECT_FALSE(fs::exists(dir / name)) << name;

    auto november = OpenArchive((dir / "11-2026.var").string(), false);
    auto december = OpenArchive((dir / "12-2026.var").string(), false);
    ASSERT_TRUE(november && december);
    EXPECT_EQ(november->Streams().size(), 2u);
    EXPECT_EQ(december->Streams().size(), 2u);

    // A large day is stored in bounded chunks.
    std::vector<std::size_t> chunks;
    ASSERT_TRUE(ReadLogStream(*december, "01-12-2026.log", [&](std::string_view part) {
        chunks.push_back(part.size());
        return true;
    }));
    EXPECT_EQ(chunks, (std::vector<std::size_t>{1000000, 1000000, 500000}));

    const fs::path out = dir / "export" / "nested";
    for (const auto& [name, bytes] : logs) {
        auto& archive = name.find("-11-") != std::string::npos ? *november : *december;
        ASSERT_TRUE(ExtractLogFile(archive, name, out.string())) << name;
        EXPECT_EQ(ReadAll(out / name), bytes) << name;
    }
    std::string error;
    EXPECT_FALSE(ExtractLogFile(*december, "15-12-2026.log", out.string(), &error));
    EXPECT_FALSE(error.empty());
    EXPECT_FALSE(fs::exists(out / "15-12-2026.log"));

    // Packing a day again replaces its stream and keeps the others.
    WriteAll(dir / "31-12-2026.log", "again");
    ASSERT_TRUE(PackLogFile(*december, "31-12-2026.log", (dir / "31-12-2026.log").string(), false));
    EXPECT_TRUE(fs::exists(dir / "31-12-2026.log"));
    EXPECT_EQ(december->Streams().size(), 2u);
    EXPECT_EQ(Stream(*december, "31-12-2026.log"), "again");
    EXPECT_EQ(Stream(*december, "01-12-2026.log"), logs["01-12-2026.log"]);
}

TEST_F(ProtocolTest, InterruptedPackingLosesNothing) {
    ProtocolFiles files(dir.string(), LocalTime(2026, 12, 20, 10, 0));
    const std::string first = SampleLog(5000, 4), second = SampleLog(6000, 5);
    WriteAll(dir / "01-12-2026.log", first);
    ASSERT_EQ(files.PackOldLogs(), 1);
    const std::string archiveBefore = ReadAll(dir / "12-2026.var");

    // A crash after the temporary archive was written but before the rename:
    // the old archive and the log are both still there.
    WriteAll(dir / "02-12-2026.log", second);
    WriteAll(dir / "12-2026.var.tmp", archiveBefore.substr(0, 700));
    EXPECT_EQ(ReadAll(dir / "12-2026.var"), archiveBefore);

    // The next run packs it again from the intact pieces.
    ASSERT_EQ(files.PackOldLogs(), 1);
    EXPECT_FALSE(fs::exists(dir / "12-2026.var.tmp"));
    auto archive = OpenArchive((dir / "12-2026.var").string(), false);
    ASSERT_TRUE(archive);
    EXPECT_EQ(Stream(*archive, "01-12-2026.log"), first);
    EXPECT_EQ(Stream(*archive, "02-12-2026.log"), second);

    // A file in the archive's place that is not a compound file is neither
    // replaced nor is the log removed.
    WriteAll(dir / "03-11-2026.log", first);
    WriteAll(dir / "11-2026.var", "not an archive, maybe a damaged one");
    std::string error;
    EXPECT_EQ(files.PackOldLogs(&error), 0);
    EXPECT_NE(error.find("not a compound file"), std::string::npos);
    EXPECT_EQ(ReadAll(dir / "03-11-2026.log"), first);
    EXPECT_EQ(ReadAll(dir / "11-2026.var"), "not an archive, maybe a damaged one");

    // A missing log fails the pack and leaves the archive as it was.
    const std::string archiveNow = ReadAll(dir / "12-2026.var");
    EXPECT_FALSE(PackLogFile(*archive, "09-12-2026.log", (dir / "09-12-2026.log").string(), true));
    EXPECT_EQ(ReadAll(dir / "12-2026.var"), archiveNow);
}

TEST_F(ProtocolTest, HostileStreamNamesStayInsideTheTarget) {
    for (std::string_view bad :
         {"", ".", "..", "../x.log", "..\\x.log", "/etc/passwd", "a/b.log", "C:x.log", "x..log"})
        EXPECT_FALSE(IsSafeStreamName(bad)) << bad;
    EXPECT_TRUE(IsSafeStreamName("07-12-2026.log"));

    // An archive whose stream was renamed to climb out of the folder.
    WriteAll(dir / "ab-12-2026.log", "payload");
    {
        auto archive = OpenArchive((dir / "12-2026.var").string(), true);
        ASSERT_TRUE(archive);
        ASSERT_TRUE(
            PackLogFile(*archive, "ab-12-2026.log", (dir / "ab-12-2026.log").string(), true));
    }
    std::string bytes = ReadAll(dir / "12-2026.var");
    const std::u16string from = u"ab-12-2026.log", to = u"../12-2026.log";
    std::string fromBytes(reinterpret_cast<const char*>(from.data()), from.size() * 2);
    auto at = bytes.find(fromBytes);
    ASSERT_NE(at, std::string::npos);
    std::memcpy(bytes.data() + at, to.data(), to.size() * 2);
    WriteAll(dir / "12-2026.var", bytes);

    auto archive = OpenArchive((dir / "12-2026.var").string(), false);
    ASSERT_TRUE(archive);
    const fs::path target = dir / "out" / "inner";
    for (const std::string& name : archive->Streams()) {
        EXPECT_EQ(name, "../12-2026.log");
        EXPECT_FALSE(ExtractLogFile(*archive, name, target.string()));
    }
    EXPECT_FALSE(fs::exists(dir / "out" / "12-2026.log"));
}

TEST_F(ProtocolTest, DamagedArchivesFailCleanly) {
    WriteAll(dir / "05-12-2026.log", SampleLog(3000, 6));
    {
        auto archive = OpenArchive((dir / "12-2026.var").string(), true);
        ASSERT_TRUE(archive);
        ASSERT_TRUE(
            PackLogFile(*archive, "05-12-2026.log", (dir / "05-12-2026.log").string(), false));
    }
    const std::string good = ReadAll(dir / "12-2026.var");
    const std::string original = ReadAll(dir / "05-12-2026.log");

    // Whatever the damage, the outcome is a failure or some bytes, never a
    // crash; a reported success never hands back altered log bytes.
    auto probe = [&](const std::string& bytes) {
        WriteAll(dir / "12-2026.var", bytes);
        auto archive = OpenArchive((dir / "12-2026.var").string(), false);
        if (!archive) return;
        for (const std::string& name : archive->Streams()) {
            bool ok = false;
            std::string got = Stream(*archive, name, &ok);
            if (ok && name == "05-12-2026.log" && !got.empty()) {
                EXPECT_EQ(got, original);
            }
            fs::remove_all(dir / "x");
            ExtractLogFile(*archive, name, (dir / "x").string());
        }
    };
    for (std::size_t len = 0; len < good.size(); len += 61)
        probe(good.substr(0, len));
    for (std::size_t pos = 0; pos < good.size(); pos += 37) {
        std::string flipped = good;
        flipped[pos] = static_cast<char>(flipped[pos] ^ 0x10);
        probe(flipped);
    }

    // Compound-file headers that claim billions of allocation sectors.
    for (std::size_t at : {0x2C, 0x40, 0x48}) {
        std::string bytes = good;
        const std::uint32_t lie = 0x7FFFFFFFu;
        std::memcpy(bytes.data() + at, &lie, 4);
        WriteAll(dir / "12-2026.var", bytes);
        std::string error;
        auto archive = OpenArchive((dir / "12-2026.var").string(), false, &error);
        if (archive)
            EXPECT_FALSE(ExtractLogFile(*archive, "05-12-2026.log", (dir / "z").string()));
        else
            EXPECT_NE(error.find("damaged archive"), std::string::npos) << error;
    }

    // A chunk header that claims a huge size is refused before any allocation.
    std::string lying = good;
    std::string header(8, '\0');
    const std::uint32_t plain = 3000;
    std::memcpy(header.data(), &plain, 4);
    auto at = lying.find(header.substr(0, 4));
    ASSERT_NE(at, std::string::npos);
    const std::uint32_t huge = 0xFFFFFFF0u;
    std::memcpy(lying.data() + at, &huge, 4);
    WriteAll(dir / "12-2026.var", lying);
    auto archive = OpenArchive((dir / "12-2026.var").string(), false);
    ASSERT_TRUE(archive);
    std::string error;
    EXPECT_FALSE(ReadLogStream(
        *archive, "05-12-2026.log", [](std::string_view) { return true; }, &error));
    EXPECT_NE(error.find("damaged chunk lengths"), std::string::npos);
    EXPECT_FALSE(ExtractLogFile(*archive, "05-12-2026.log", (dir / "y").string()));
    EXPECT_FALSE(fs::exists(dir / "y" / "05-12-2026.log"));
}

TEST(LogRecords, EveryCutKeepsTheWholeRecordsBeforeIt) {
    std::string log;
    std::vector<std::size_t> ends;
    for (std::size_t n : {0u, 255u, 3u}) {
        LogRecord r{1765000000, "r.co", 1, n == 0, std::vector<std::uint8_t>(n, 0xAB)};
        log += EncodeRecord(r);
        ends.push_back(log.size());
    }
    for (std::size_t len = 0; len <= log.size(); ++len) {
        std::vector<LogRecord> records;
        bool whole = DecodeRecords(std::string_view(log).substr(0, len), records);
        auto complete = static_cast<std::size_t>(std::upper_bound(ends.begin(), ends.end(), len) -
                                                 ends.begin());
        EXPECT_EQ(records.size(), complete) << len;
        EXPECT_EQ(whole, len == 0 || (complete > 0 && ends[complete - 1] == len)) << len;
    }
    // A name of eight bytes has no zero after it and stays eight bytes.
    std::vector<LogRecord> records;
    ASSERT_TRUE(DecodeRecords(EncodeRecord({0, "ABCDEFGHIJ", 0, false, {}}), records));
    EXPECT_EQ(records[0].name, "ABCDEFGH");
}

std::string Chunk(const std::string& plain, std::uint32_t claimedPlain, std::uint32_t claimedPacked,
                  std::size_t keep = std::string::npos) {
    std::string packed(compressBound(plain.size()), '\0');
    uLongf n = packed.size();
    compress2(reinterpret_cast<Bytef*>(packed.data()), &n,
              reinterpret_cast<const Bytef*>(plain.data()), plain.size(), Z_DEFAULT_COMPRESSION);
    packed.resize(n);
    if (claimedPacked == 0) claimedPacked = static_cast<std::uint32_t>(n);
    std::string out(8, '\0');
    std::memcpy(out.data(), &claimedPlain, 4);
    std::memcpy(out.data() + 4, &claimedPacked, 4);
    return (out + packed).substr(0, keep == std::string::npos ? std::string::npos : 8 + keep);
}

TEST(ArchiveChunks, DamagedChunksFailBeforeTheyCostMemory) {
    const std::string a = SampleLog(5000, 8), b = SampleLog(300, 9);
    auto inflate = [](const std::string& stream, std::string& out, std::string& error) {
        out.clear();
        error.clear();
        return InflateChunks(
            stream,
            [&](std::string_view part) {
                out.append(part);
                return true;
            },
            &error);
    };
    std::string out, error;
    const std::string good = Chunk(a, 5000, 0) + Chunk(b, 300, 0);
    ASSERT_TRUE(inflate(good, out, error)) << error;
    EXPECT_EQ(out, a + b);
    EXPECT_TRUE(inflate("", out, error));
    EXPECT_TRUE(out.empty());

    const std::string first = Chunk(a, 5000, 0);
    struct Case {
        std::string stream;
        const char* error;
    } cases[] = {
        {first + good.substr(first.size(), 5), "truncated chunk header"},
        {first + Chunk(b, 0xFFFFFFFFu, 0), "damaged chunk lengths"},    // gigabytes of output
        {first + Chunk(b, 300, 0x7FFFFFFFu), "damaged chunk lengths"},  // gigabytes of input
        {first + Chunk(b, 0, 0), "damaged chunk lengths"},
        {first + std::string("\x2C\x01\0\0\0\0\0\0", 8), "damaged chunk lengths"},
        {first + Chunk(b, 300, 0, 10), "damaged chunk lengths"},  // cut inside the data
        {first + Chunk(b, 299, 0), "damaged chunk data"},         // inflates to more
        {first + Chunk(b, 301, 0), "damaged chunk data"},         // inflates to less
        {first + Chunk(b, 300, 0).substr(0, 12) + "garbage" + Chunk(b, 300, 0).substr(19),
         "damaged chunk data"},
    };
    for (const Case& c : cases) {
        EXPECT_FALSE(inflate(c.stream, out, error)) << c.error;
        EXPECT_EQ(error, c.error);
        EXPECT_EQ(out, a) << c.error;  // the chunks before the damage were handed on
    }

    // The largest chunk a writer can store is read; one byte more is refused.
    const std::string full(kChunkSize, 'x');
    EXPECT_TRUE(inflate(Chunk(full, kChunkSize, 0), out, error));
    EXPECT_FALSE(inflate(Chunk(full + "x", kChunkSize + 1, 0), out, error));

    // A sink that stops ends the reading.
    int calls = 0;
    EXPECT_FALSE(InflateChunks(good, [&](std::string_view) { return ++calls < 1; }));
    EXPECT_EQ(calls, 1);
}

}  // namespace
