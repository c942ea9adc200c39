// Packing under contention and with names an archive cannot hold, and the
// log decoder that reads logs of any size in bounded memory.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <thread>

#include "protocol/protocol_files.h"

namespace fs = std::filesystem;
using namespace Protocol;

namespace {

void WriteAll(const fs::path& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

std::string Day(int day, int seed) {
    std::string bytes;
    for (int i = 0; i < 200; ++i)
        bytes += EncodeRecord({1765000000 + i,
                               "rEAd",
                               static_cast<std::uint8_t>(day),
                               false,
                               {static_cast<std::uint8_t>(seed), 0x41, 0x20, 0x00}});
    return bytes;
}

class Packing : public ::testing::Test {
  protected:
    void SetUp() override {
        dir = fs::temp_directory_path() /
              ("selvar-packing-" + std::to_string(getpid()) + "-" +
               ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(dir);
        fs::create_directories(dir);
    }
    void TearDown() override { fs::remove_all(dir); }

    // Every stream of an archive with its inflated bytes.
    std::map<std::string, std::string> Contents(const std::string& archiveName) {
        std::map<std::string, std::string> out;
        auto archive = OpenArchive((dir / archiveName).string(), false);
        if (!archive) return out;
        for (const std::string& name : archive->Streams()) {
            std::string bytes;
            EXPECT_TRUE(ReadLogStream(*archive, name, [&](std::string_view part) {
                bytes.append(part);
                return true;
            })) << name;
            out[name] = bytes;
        }
        return out;
    }

    fs::path dir;
};

TEST_F(Packing, PackersRunningAtOnceLoseNoDay) {
    // Each round: a month of logs, two packers started together. Without the
    // lock both rewrite the same archive from the same old copy and one
    // packer's days vanish from it after their logs were deleted.
    for (int round = 0; round < 3; ++round) {
        fs::remove_all(dir);
        fs::create_directories(dir);
        std::map<std::string, std::string> logs;
        for (int day = 1; day <= 24; ++day) {
            char name[32];
            std::snprintf(name, sizeof name, "%02d-11-2026.log", day);
            logs[name] = Day(day, round);
            WriteAll(dir / name, logs[name]);
        }
        int packed[2] = {0, 0};
        auto pack = [&](int who) {
            ProtocolFiles files(dir.string(), std::time(nullptr));
            packed[who] = files.PackOldLogs();
        };
        std::thread a(pack, 0), b(pack, 1);
        a.join();
        b.join();
        EXPECT_EQ(packed[0] + packed[1], 24) << "round " << round;
        std::map<std::string, std::string> stored = Contents("11-2026.var");
        EXPECT_EQ(stored, logs) << "round " << round;
        for (const auto& [name, bytes] : logs)
            EXPECT_FALSE(fs::exists(dir / name)) << name;
    }
}

TEST_F(Packing, ArchiveOpenedBeforeAnotherPackerStillKeepsItsStreams) {
    WriteAll(dir / "01-12-2026.log", Day(1, 1));
    WriteAll(dir / "02-12-2026.log", Day(2, 2));
    const std::string path = (dir / "12-2026.var").string();
    auto early = OpenArchive(path, true);
    auto late = OpenArchive(path, true);
    ASSERT_TRUE(early && late);
    ASSERT_TRUE(PackLogFile(*late, "02-12-2026.log", (dir / "02-12-2026.log").string(), true));
    // The first handle still sees the archive as it was when opened; packing
    // through it must not drop the day packed meanwhile.
    ASSERT_TRUE(PackLogFile(*early, "01-12-2026.log", (dir / "01-12-2026.log").string(), true));
    std::map<std::string, std::string> stored = Contents("12-2026.var");
    EXPECT_EQ(stored.size(), 2u);
    EXPECT_EQ(stored["02-12-2026.log"], Day(2, 2));
    EXPECT_EQ(stored["01-12-2026.log"], Day(1, 1));
}

TEST_F(Packing, NamesAnArchiveCannotHoldAreLeftAndReported) {
    // 31 UTF-16 units fit an entry name; the 32nd does not, and names cut
    // there would lose their difference.
    const std::string fits = std::string(17, 'a') + "01-12-2026.log";
    const std::string longA = std::string(18, 'a') + "01-12-2026.log";
    const std::string longB = std::string(19, 'a') + "01-12-2026.log";
    ASSERT_EQ(fits.size(), 31u);
    // Names differing only in case would become one entry.
    const std::string lower = "05-12-2026.log", upper = "05-12-2026.LOG";
    for (const std::string& name : {fits, longA, longB, lower, upper})
        WriteAll(dir / name, Day(static_cast<int>(name.size()), name.back()));

    ProtocolFiles files(dir.string(), std::time(nullptr));
    std::vector<SkippedLog> skipped;
    std::string error;
    EXPECT_EQ(files.PackOldLogs(&error, &skipped), 1) << error;
    std::map<std::string, std::string> reasons;
    for (const SkippedLog& s : skipped)
        reasons[s.name] = s.reason;
    EXPECT_EQ(reasons.size(), 4u);
    EXPECT_NE(reasons[longA].find("longer"), std::string::npos) << reasons[longA];
    EXPECT_NE(reasons[longB].find("longer"), std::string::npos);
    EXPECT_NE(reasons[lower].find(upper), std::string::npos) << reasons[lower];
    EXPECT_NE(reasons[upper].find(lower), std::string::npos);
    for (const std::string& name : {longA, longB, lower, upper})
        EXPECT_TRUE(fs::exists(dir / name)) << name;
    EXPECT_FALSE(fs::exists(dir / fits));
    std::map<std::string, std::string> stored = Contents("12-2026.var");
    ASSERT_EQ(stored.size(), 1u);
    EXPECT_EQ(stored.begin()->first, fits);

    // With one of the pair gone, the other still meets the stream of the
    // same name in another case.
    fs::remove(dir / upper);
    WriteAll(dir / "06-12-2026.log", Day(6, 6));
    ASSERT_TRUE(PackLogFile(*OpenArchive((dir / "12-2026.var").string(), true), lower,
                            (dir / lower).string(), true));
    WriteAll(dir / upper, Day(7, 7));
    fs::remove(dir / lower);
    skipped.clear();
    EXPECT_EQ(files.PackOldLogs(&error, &skipped), 1);  // 06-12-2026.log only
    ASSERT_EQ(skipped.size(), 3u);
    EXPECT_TRUE(fs::exists(dir / upper));
    stored = Contents("12-2026.var");
    EXPECT_EQ(stored[lower], Day(static_cast<int>(lower.size()), lower.back()));
    EXPECT_EQ(stored.count(upper), 0u);

    // PackLogFile itself refuses the same names and keeps the log.
    auto archive = OpenArchive((dir / "12-2026.var").string(), true);
    ASSERT_TRUE(archive);
    error.clear();
    EXPECT_FALSE(PackLogFile(*archive, upper, (dir / upper).string(), true, &error));
    EXPECT_NE(error.find("differs only in case"), std::string::npos) << error;
    EXPECT_FALSE(PackLogFile(*archive, longA, (dir / longA).string(), true));
    EXPECT_TRUE(fs::exists(dir / upper));
    EXPECT_TRUE(fs::exists(dir / longA));
}

TEST(StreamNames, CountUtf16UnitsAndRefuseWhatEntriesCannotHold) {
    EXPECT_EQ(StreamNameProblem("07-12-2026.log"), "");
    EXPECT_EQ(StreamNameProblem(std::string(31, 'x')), "");
    EXPECT_NE(StreamNameProblem(std::string(32, 'x')), "");
    // Cyrillic letters are two bytes but one unit each.
    std::string cyrillic;
    for (int i = 0; i < 31; ++i)
        cyrillic += "ж";
    EXPECT_EQ(StreamNameProblem(cyrillic), "");
    EXPECT_NE(StreamNameProblem(cyrillic + "ж"), "");
    // Outside the basic plane a character takes two units.
    std::string wide;
    for (int i = 0; i < 15; ++i)
        wide += "\xF0\x9F\x98\x80";
    EXPECT_EQ(StreamNameProblem(wide + "x"), "");
    EXPECT_NE(StreamNameProblem(wide + "xy"), "");
    for (std::string_view bad : {std::string_view("a\xFF.log"), std::string_view("a\xD0.log"),
                                 std::string_view("\xC0\xAF.log"), std::string_view("a!b.log"),
                                 std::string_view("a\tb.log")})
        EXPECT_NE(StreamNameProblem(bad), "") << bad;
}

TEST_F(Packing, OnlyRegularFilesAreOpenedAsArchives) {
    fs::create_directories(dir / "12-2026.var");
    std::string error;
    EXPECT_FALSE(OpenArchive((dir / "12-2026.var").string(), true, &error));
    EXPECT_NE(error.find("not a regular file"), std::string::npos) << error;
    // A FIFO would block the reader forever if it were opened.
    ASSERT_EQ(::mkfifo((dir / "11-2026.var").c_str(), 0600), 0);
    error.clear();
    EXPECT_FALSE(OpenArchive((dir / "11-2026.var").string(), false, &error));
    EXPECT_NE(error.find("not a regular file"), std::string::npos) << error;
    WriteAll(dir / "03-11-2026.log", Day(3, 3));
    ProtocolFiles files(dir.string(), std::time(nullptr));
    EXPECT_EQ(files.PackOldLogs(), 0);
    EXPECT_TRUE(fs::exists(dir / "03-11-2026.log"));
}

TEST(LogDecoding, PiecesOfAnySizeGiveTheSameRecords) {
    std::string log;
    for (std::size_t n : {0u, 255u, 3u, 17u})
        log += EncodeRecord({1765000000, "r.oe", 2, n == 0, std::vector<std::uint8_t>(n, 0x5A)});
    std::vector<LogRecord> whole;
    ASSERT_TRUE(DecodeRecords(log, whole));
    ASSERT_EQ(whole.size(), 4u);
    for (std::size_t piece : {1u, 7u, 19u, 20u, 300u}) {
        LogDecoder decoder;
        std::vector<LogRecord> got;
        for (std::size_t at = 0; at < log.size(); at += piece)
            ASSERT_TRUE(
                decoder.Feed(std::string_view(log).substr(at, piece), [&](const LogRecord& r) {
                    got.push_back(r);
                    return true;
                }));
        EXPECT_TRUE(decoder.AtBoundary());
        EXPECT_EQ(decoder.offset(), log.size());
        ASSERT_EQ(got.size(), whole.size()) << piece;
        for (std::size_t i = 0; i < got.size(); ++i) {
            EXPECT_EQ(got[i].data, whole[i].data);
            EXPECT_EQ(got[i].failed, whole[i].failed);
            EXPECT_EQ(got[i].name, "r.oe");
        }
    }
}

TEST(LogDecoding, StopsAtTheFirstRecordNoWriterMakes) {
    const std::string good = EncodeRecord({1765000000, "rEAd", 1, false, {1, 2, 3, 4}});
    auto damage = [&](std::size_t at, char byte) {
        std::string bad = good;
        bad[at] = byte;
        return bad;
    };
    const std::string cases[] = {
        std::string(1 << 20, '\0'),  // zeros: an empty name
        damage(17, 2),               // a failure flag of 2
        damage(13, 'x'),             // a byte after the name's padding
        damage(9, '\n'),             // a control character in the name
        damage(8, '\0'),             // a real record with its name cut away
    };
    for (const std::string& bad : cases) {
        LogDecoder decoder;
        int records = 0;
        auto sink = [&](const LogRecord&) {
            ++records;
            return true;
        };
        EXPECT_FALSE(decoder.Feed(good + bad + good, sink));
        EXPECT_TRUE(decoder.damaged());
        EXPECT_EQ(records, 1);
        EXPECT_EQ(decoder.offset(), good.size());
        // Nothing more is taken once damaged.
        EXPECT_FALSE(decoder.Feed(good, sink));
        EXPECT_EQ(records, 1);
        std::vector<LogRecord> out;
        EXPECT_FALSE(DecodeRecords(good + bad, out));
        EXPECT_EQ(out.size(), 1u);
    }
}

}  // namespace
