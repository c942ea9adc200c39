#include "document/configuration_file.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <optional>
#include <random>
#include <set>
#include <utility>

#include "description/device_description.h"
#include "description/parameter_table.h"
#include "document/access_level.h"
#include "document/configuration_contents.h"
#include "elements/common_params.h"
#include "platform/archive.h"
#include "support/message_recorder.h"

namespace {

// A table built by hand; the "modification" switch just records the call.
class Steps : public Svx::LoadSteps {
  public:
    explicit Steps(std::string active = "Селвар-Б4") : active_(std::move(active)) { Fill(table); }
    std::string ActiveModification() override { return active_; }
    void SetUpConfiguration(const CDeviceDescription& d) override {
        setUp.push_back(d.displayName);
        active_ = d.displayName;
    }
    ParameterTable& Table() override { return table; }

    static void Fill(ParameterTable& t, std::size_t extra = 0) {
        t.Allocate(5 + extra);
        t.fileName = "/opt/x/parameters2.zip";
        const char* names[] = {"r.co", "in.sl", "in.sl", "rEAd", "in.sl"};
        for (std::size_t i = 0; i < 5; ++i) {
            Parameter& p = *t.At(i);
            p.name = names[i];
            p.type = "float";
        }
        t.At(1)->hasLinearIndex = true;
        t.At(1)->linearIndex = 0;
        t.At(2)->hasLinearIndex = true;
        t.At(2)->linearIndex = 1;
        struct Timer : PollTimer {
            bool Start(int) override { return true; }
            void Cancel() override {}
        };
        t.At(3)->pollTimer = std::make_unique<Timer>();
        for (std::size_t i = 5; i < 5 + extra; ++i)
            t.At(i)->name = "more";
    }

    ParameterTable table;
    std::vector<std::string> setUp;

  private:
    std::string active_;
};

std::vector<std::uint8_t> Saved(int level = Access::kFull, const std::string& mod = "Селвар-Б4") {
    ParameterTable t;
    Steps::Fill(t);
    t.At(0)->value = "Сброс";
    t.At(1)->value = "1.5";
    t.At(1)->error = "Таймаут";
    t.At(2)->value = "2.5";
    t.At(3)->value = "99";  // operative: never saved
    t.At(4)->value = "unindexed";
    Elements::CommonParams common;
    Archive ar;
    Svx::Save(ar, level, mod, common, t);
    return ar.Data();
}

class SvxTest : public ::testing::Test {
  protected:
    void TearDown() override { Access::SetLevel(Access::kFull); }
};

}  // namespace

TEST_F(SvxTest, SaveThenLoadPutsValuesBackByKey) {
    Steps steps;
    Archive ar(Saved());
    std::string error;
    ASSERT_EQ(Svx::Load(ar, "f.svx", steps, false, error), Svx::LoadResult::Loaded) << error;
    EXPECT_EQ(steps.table.At(0)->value, "Сброс");
    EXPECT_EQ(steps.table.At(1)->value, "1.5");
    EXPECT_EQ(steps.table.At(1)->error, "Таймаут");
    EXPECT_EQ(steps.table.At(2)->value, "2.5");
    EXPECT_EQ(steps.table.At(3)->value,
              "Нет данных");  // operative parameters keep their fresh state
    EXPECT_EQ(steps.table.At(4)->value, "unindexed");  // same name, no index: a key of its own
    EXPECT_EQ(steps.setUp, (std::vector<std::string>{"Селвар-Б4"}));
}

TEST_F(SvxTest, KeysSeparateIndexedFromUnindexed) {
    Parameter a, b;
    a.name = b.name = "in.sl";
    b.hasLinearIndex = true;
    b.linearIndex = 0;
    EXPECT_NE(Svx::RecordKey(a), Svx::RecordKey(b));
    EXPECT_EQ(Svx::RecordKey(a) >> 16, 0xFFFFu);
}

TEST_F(SvxTest, AnotherModificationIsAskedForAndMayBeDeclined) {
    MessageRecorder no(MessageResult::No);
    Steps steps("Селвар-А1");
    Archive ar(Saved());
    std::string error;
    EXPECT_EQ(Svx::Load(ar, "f.svx", steps, false, error), Svx::LoadResult::Declined);
    ASSERT_EQ(no.boxes.size(), 1u);
    EXPECT_EQ(no.boxes[0].text, "Переключить конфигуратор для работы с иной модификацией прибора?");
    EXPECT_TRUE(steps.setUp.empty());

    Steps quiet("Селвар-А1");
    Archive again(Saved());
    EXPECT_EQ(Svx::Load(again, "f.svx", quiet, true, error), Svx::LoadResult::Loaded);
    EXPECT_EQ(quiet.setUp, (std::vector<std::string>{"Селвар-Б4"}));
}

TEST_F(SvxTest, ForeignTablesAndSizesAreReported) {
    MessageRecorder boxes;
    Steps other;
    other.table.fileName = "parameters1.zip";
    Archive ar(Saved());
    std::string error;
    EXPECT_EQ(Svx::Load(ar, "f.svx", other, false, error), Svx::LoadResult::Refused);
    EXPECT_EQ(boxes.boxes.size(), 1u);
    EXPECT_EQ(error,
              "Файл сохранен на базе таблицы параметров 'parameters2.zip',\nа сейчас активна "
              "таблица 'parameters1.zip'!");

    boxes.boxes.clear();
    Steps bigger;
    Steps::Fill(bigger.table, 2);
    Archive again(Saved());
    EXPECT_EQ(Svx::Load(again, "f.svx", bigger, false, error), Svx::LoadResult::Loaded);
    ASSERT_EQ(boxes.boxes.size(), 1u);
    EXPECT_EQ(boxes.boxes[0].text,
              "В файле сохранено 5 параметров, а в активной таблице 7 параметров!");
    EXPECT_EQ(bigger.table.At(1)->value, "1.5");
}

TEST_F(SvxTest, PasswordRefusedKeepsTheLevelAndEndsEarly) {
    Access::SetLevel(Access::kMinimal);
    Steps steps;
    Archive ar(Saved(Access::kFull));
    std::string error;
    // No prompt installed: nobody can type the password.
    EXPECT_EQ(Svx::Load(ar, "f.svx", steps, false, error), Svx::LoadResult::LevelKept);
    EXPECT_EQ(Access::Level(), Access::kMinimal);
    EXPECT_TRUE(steps.setUp.empty());

    Archive low(Saved(Access::kMinimal));
    Access::SetLevel(Access::kFull);
    EXPECT_EQ(Svx::Load(low, "f.svx", steps, false, error), Svx::LoadResult::Loaded);
    EXPECT_EQ(Access::Level(), Access::kMinimal);
}

TEST_F(SvxTest, DamagedFilesFailWithTheirName) {
    std::vector<std::uint8_t> good = Saved();
    std::string error;
    // Every cut inside the header or a record fails; a cut between records does not.
    for (std::size_t n = 0; n < good.size(); n += 7) {
        Steps steps;
        Archive ar(std::vector<std::uint8_t>(good.begin(), good.begin() + static_cast<long>(n)));
        Svx::LoadResult r = Svx::Load(ar, "cut.svx", steps, true, error);
        if (r == Svx::LoadResult::Failed) {
            EXPECT_NE(error.find("'cut.svx'"), std::string::npos);
        }
    }
    // A length prefix claiming four gigabytes.
    std::vector<std::uint8_t> huge = {2, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 'x'};
    Steps steps;
    Archive ar(huge);
    EXPECT_EQ(Svx::Load(ar, "huge.svx", steps, true, error), Svx::LoadResult::Failed);
    Archive level(std::vector<std::uint8_t>{9, 0, 0, 0});
    EXPECT_EQ(Svx::Load(level, "lvl.svx", steps, true, error), Svx::LoadResult::Failed);

    std::mt19937 random(7);
    for (int i = 0; i < 300; ++i) {
        std::vector<std::uint8_t> bytes = good;
        for (int k = 0; k < 4; ++k)
            bytes[random() % bytes.size()] ^= static_cast<std::uint8_t>(1u << (random() % 8));
        Steps s;
        Archive a(bytes);
        Svx::Load(a, "flip.svx", s, true, error);  // any outcome but a crash
    }
    Access::SetLevel(Access::kFull);
}

TEST_F(SvxTest, UnknownModificationIsAFormatError) {
    Steps steps;
    Archive ar(Saved(Access::kFull, "Селвар-Я9"));
    std::string error;
    EXPECT_EQ(Svx::Load(ar, "x.svx", steps, true, error), Svx::LoadResult::Failed);
    EXPECT_NE(error.find("'x.svx'"), std::string::npos);
}

TEST_F(SvxTest, TwoParametersWithOneKeyGiveTheRecordToTheFirst) {
    ParameterTable source;
    Steps::Fill(source, 2);
    source.At(5)->value = "first";
    source.At(6)->value = "second";
    Elements::CommonParams common;
    Archive ar;
    Svx::Save(ar, Access::kFull, "Селвар-Б4", common, source);
    ASSERT_EQ(Svx::RecordKey(*source.At(5)), Svx::RecordKey(*source.At(6)));

    Steps steps;
    steps.table.Allocate(0);
    Steps::Fill(steps.table, 2);
    Archive in(ar.Data());
    std::string error;
    ASSERT_EQ(Svx::Load(in, "x.svx", steps, true, error), Svx::LoadResult::Loaded) << error;
    // Both records land on the first "more"; the second keeps its fresh state.
    EXPECT_EQ(steps.table.At(5)->value, "second");
    EXPECT_EQ(steps.table.At(6)->value, Parameter::kNoData);
}

TEST_F(SvxTest, AFailedSaveLeavesTheOldFile) {
    namespace fs = std::filesystem;
    fs::path dir = fs::temp_directory_path() / ("selvar-svx-" + std::to_string(getpid()));
    fs::create_directories(dir);
    std::string path = (dir / "plant.svx").string();
    ParameterTable t;
    Steps::Fill(t);
    t.At(1)->value = "1.5";
    Elements::CommonParams common;
    std::string error;
    ASSERT_TRUE(Svx::SaveFile(path, Access::kFull, "Селвар-Б4", common, t, error));
    auto before = fs::file_size(path);

    // The new contents cannot be written (the temporary name is taken by a
    // folder): the save fails with the file's name and the old file stays.
    fs::create_directory(path + ".tmp." + std::to_string(getpid()));
    t.At(1)->value = "2.5";
    EXPECT_FALSE(Svx::SaveFile(path, Access::kFull, "Селвар-Б4", common, t, error));
    EXPECT_NE(error.find("plant.svx"), std::string::npos);
    EXPECT_EQ(fs::file_size(path), before);
    Steps steps;
    EXPECT_EQ(Svx::LoadFile(path, steps, true, error), Svx::LoadResult::Loaded);
    EXPECT_EQ(steps.table.At(1)->value, "1.5");
    fs::remove_all(dir);
}

namespace {

// The end of each record, as the viewer reads the file.
std::vector<std::size_t> RecordEnds(const std::vector<std::uint8_t>& bytes) {
    Archive ar(bytes);
    Svx::Contents contents;
    std::vector<std::size_t> ends;
    contents.onRecord = [&](std::uint32_t, const Parameter&) { ends.push_back(ar.Position()); };
    std::string error;
    EXPECT_TRUE(Svx::ReadContents(ar, "f.svx", contents, error)) << error;
    return ends;
}

class NoticeRecorder : public MainWindowNotifications {
  public:
    NoticeRecorder() { SetMainWindowNotifications(this); }
    ~NoticeRecorder() override { SetMainWindowNotifications(nullptr); }
    void ProgressOn() override { events.push_back("on"); }
    void ProgressPosition(int percent) override { events.push_back(std::to_string(percent)); }
    void ProgressOff() override { events.push_back("off"); }
    std::vector<std::string> events;
};

// Types the given answer once; afterwards the user cancels.
class OnePassword : public PasswordPrompt {
  public:
    explicit OnePassword(std::optional<std::string> answer) : answer_(std::move(answer)) {
        SetPasswordPrompt(this);
    }
    ~OnePassword() override { SetPasswordPrompt(nullptr); }
    std::optional<std::string> Ask(const std::string&) override {
        ++asked;
        return std::exchange(answer_, std::nullopt);
    }
    int asked = 0;

  private:
    std::optional<std::string> answer_;
};

}  // namespace

TEST_F(SvxTest, AFileCutBetweenRecordsIsDamagedAndSaysHowManyWereRead) {
    std::vector<std::uint8_t> good = Saved();
    std::vector<std::size_t> ends = RecordEnds(good);
    ASSERT_EQ(ends.size(), 4u);
    ASSERT_EQ(ends.back(), good.size());
    std::vector<std::uint8_t> cut(good.begin(), good.begin() + static_cast<long>(ends[1]));

    Access::SetLevel(Access::kMiddle);
    Steps steps;
    Archive ar(cut);
    std::string error;
    EXPECT_EQ(Svx::Load(ar, "cut.svx", steps, true, error), Svx::LoadResult::Failed);
    EXPECT_NE(error.find("'cut.svx'"), std::string::npos) << error;
    EXPECT_NE(error.find("прочитано 2 из 4"), std::string::npos) << error;
    // Nothing was touched: no set-up, no values, the level as it was.
    EXPECT_TRUE(steps.setUp.empty());
    EXPECT_EQ(steps.table.At(0)->value, Parameter::kNoData);
    EXPECT_EQ(Access::Level(), Access::kMiddle);

    Archive viewed(cut);
    Svx::Contents contents;
    EXPECT_FALSE(Svx::ReadContents(viewed, "cut.svx", contents, error));
    EXPECT_EQ(contents.recordsRead, 2);

    // A count beyond what the file holds: every record is read, then the
    // shortfall is told.
    std::vector<std::uint8_t> boastful = good;
    Archive header(good);
    Svx::Contents first;
    ASSERT_TRUE(Svx::ReadContents(header, "f.svx", first, error));
    boastful[first.recordsStart - 2] = 0x7F;  // about eight million records
    Archive bragging(boastful);
    Svx::Contents all;
    EXPECT_FALSE(Svx::ReadContents(bragging, "f.svx", all, error));
    EXPECT_EQ(all.recordsRead, 4);
    EXPECT_NE(error.find("прочитано 4 из 8323076"), std::string::npos) << error;
}

TEST_F(SvxTest, TheLevelChangesOnlyWhenTheLoadCompletes) {
    Access::SetLevel(Access::kMinimal);
    std::string error;
    {
        // Another modification declined.
        MessageRecorder no(MessageResult::No);
        Steps steps("Селвар-А1");
        Archive ar(Saved(Access::kFull));
        EXPECT_EQ(Svx::Load(ar, "f.svx", steps, false, error), Svx::LoadResult::Declined);
        EXPECT_EQ(Access::Level(), Access::kMinimal);
    }
    {
        // An unknown modification and a file of four bytes.
        Steps steps;
        Archive unknown(Saved(Access::kFull, "Селвар-Я9"));
        EXPECT_EQ(Svx::Load(unknown, "f.svx", steps, true, error), Svx::LoadResult::Failed);
        Archive tiny(std::vector<std::uint8_t>{2, 0, 0, 0});
        EXPECT_EQ(Svx::Load(tiny, "f.svx", steps, true, error), Svx::LoadResult::Failed);
        EXPECT_EQ(Access::Level(), Access::kMinimal);
    }
    {
        // Another table: refused before the set-up, in a command-line run too.
        MessageRecorder boxes;
        Steps steps;
        steps.table.fileName = "parameters1.zip";
        Archive ar(Saved(Access::kFull));
        EXPECT_EQ(Svx::Load(ar, "f.svx", steps, true, error), Svx::LoadResult::Refused);
        EXPECT_TRUE(steps.setUp.empty());
        EXPECT_EQ(Access::Level(), Access::kMinimal);
    }
    {
        // A set-up that brings another table than the modification names.
        class OddSetUp : public Steps {
          public:
            void SetUpConfiguration(const CDeviceDescription& d) override {
                Steps::SetUpConfiguration(d);
                table.fileName = "parameters7.zip";
            }
        };
        MessageRecorder boxes;
        OddSetUp steps;
        Archive ar(Saved(Access::kFull));
        EXPECT_EQ(Svx::Load(ar, "f.svx", steps, true, error), Svx::LoadResult::Refused);
        EXPECT_EQ(steps.setUp.size(), 1u);
        EXPECT_EQ(Access::Level(), Access::kMinimal);
    }
    {
        // The password given: the level is the file's.
        MessageRecorder boxes;
        OnePassword prompt("7");
        Steps steps;
        Archive ar(Saved(Access::kFull));
        EXPECT_EQ(Svx::Load(ar, "f.svx", steps, false, error), Svx::LoadResult::Loaded) << error;
        EXPECT_EQ(prompt.asked, 1);
        EXPECT_EQ(Access::Level(), Access::kFull);
    }
}

TEST_F(SvxTest, SavingAndLoadingShowTheirProgress) {
    namespace fs = std::filesystem;
    fs::path dir = fs::temp_directory_path() / ("selvar-svx-progress-" + std::to_string(getpid()));
    fs::create_directories(dir);
    const std::string path = (dir / "p.svx").string();
    ParameterTable t;
    Steps::Fill(t);
    Elements::CommonParams common;
    std::string error;
    NoticeRecorder notices;
    ASSERT_TRUE(Svx::SaveFile(path, Access::kFull, "Селвар-Б4", common, t, error));
    ASSERT_GE(notices.events.size(), 3u);
    EXPECT_EQ(notices.events.front(), "on");
    EXPECT_EQ(notices.events[notices.events.size() - 2], "100");
    EXPECT_EQ(notices.events.back(), "off");

    notices.events.clear();
    Steps steps;
    ASSERT_EQ(Svx::LoadFile(path, steps, true, error), Svx::LoadResult::Loaded) << error;
    ASSERT_GE(notices.events.size(), 3u);
    EXPECT_EQ(notices.events.front(), "on");
    EXPECT_EQ(notices.events.back(), "off");
    fs::remove_all(dir);
}

TEST_F(SvxTest, OnlyStaleTemporariesOfEndedSavesAreRemoved) {
    namespace fs = std::filesystem;
    fs::path dir = fs::temp_directory_path() / ("selvar-svx-stale-" + std::to_string(getpid()));
    fs::remove_all(dir);
    fs::create_directories(dir);
    // A process that has ended: its pid is free.
    pid_t child = fork();
    if (child == 0) _exit(0);
    ASSERT_GT(child, 0);
    waitpid(child, nullptr, 0);
    const std::string dead = std::to_string(child);
    const std::string alive = std::to_string(getppid());
    auto touch = [&](const std::string& name) { std::ofstream(dir / name) << "x"; };
    touch("plant.svx.tmp." + dead);   // left by a killed save
    touch("Plant.SVX.tmp." + dead);   // the same, another spelling
    touch("plant.svx.tmp." + alive);  // a save still running
    touch("plant.dbf.tmp." + dead);   // not a configuration's
    touch("plant.svx.tmp.12ab");      // not a pid
    touch("notes.txt");
    touch(".svx.tmp." + dead);  // no name before the extension
    fs::create_directory(dir / ("folder.svx.tmp." + dead));

    ParameterTable t;
    Steps::Fill(t);
    Elements::CommonParams common;
    std::string error;
    ASSERT_TRUE(
        Svx::SaveFile((dir / "plant.svx").string(), Access::kFull, "Селвар-Б4", common, t, error));
    std::set<std::string> left;
    for (const auto& e : fs::directory_iterator(dir))
        left.insert(e.path().filename().string());
    EXPECT_EQ(left,
              (std::set<std::string>{"plant.svx", "plant.svx.tmp." + alive, "plant.dbf.tmp." + dead,
                                     "plant.svx.tmp.12ab", "notes.txt", ".svx.tmp." + dead,
                                     "folder.svx.tmp." + dead}));
    fs::remove_all(dir);
}
