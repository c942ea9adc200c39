#include "description/tooltips.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>

#include "model/parameter.h"
#include "platform/codepage.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes Stored(const std::string& utf8) {
    Bytes out;
    for (char c : Utf8ToCp1251(utf8))
        out.push_back(static_cast<std::uint8_t>(~c));
    return out;
}

class TooltipFile {
  public:
    explicit TooltipFile(const std::string& utf8) {
        static int counter = 0;
        path_ = (std::filesystem::temp_directory_path() /
                 ("tooltips_test_" + std::to_string(::getpid()) + "_" + std::to_string(counter++)))
                    .string();
        Write(utf8);
    }
    ~TooltipFile() { std::remove(path_.c_str()); }
    void Write(const std::string& utf8) const {
        Bytes b = Stored(utf8);
        std::ofstream(path_, std::ios::binary)
            .write(reinterpret_cast<const char*>(b.data()), static_cast<std::streamsize>(b.size()));
    }
    const std::string& path() const { return path_; }

  private:
    std::string path_;
};

struct NoTimer : PollTimer {
    bool Start(int) override { return true; }
    void Cancel() override {}
};

TEST(Tooltips, FindsTheFirstMatchingEntry) {
    TooltipFile file(
        "in.sl:2 Нижний_предел\\nвхода<<\n"
        "in.sl:2 второй<<\n"
        "R.CO Режим_работы<<\n"
        "r.co:1 не_дойдёт<<\n"
        "Входы_и_выходы Ветвь<<\n"
        "пуск:3 Пуск<<\n"
        "empty<<\n"
        "in.sl:x не_число<<\r\n"
        "tok\tодин два<<\n"
        "last без_конца");
    struct Case {
        const char* name;
        std::optional<int> index;
        const char* comment;
    };
    const Case cases[] = {
        {"in.sl", 2, "КОММЕНТАРИЙ: Нижний предел\nвхода"},
        {"in.sl", 3, ""},
        {"IN.SL", 2, "КОММЕНТАРИЙ: Нижний предел\nвхода"},
        {"in.sl", std::nullopt, ""},
        {"r.co", 1, "КОММЕНТАРИЙ: Режим работы"},
        {"r.co", std::nullopt, "КОММЕНТАРИЙ: Режим работы"},
        {"входы и выходы", std::nullopt, "КОММЕНТАРИЙ: Ветвь"},
        {"ПУСК", 3, "КОММЕНТАРИЙ: Пуск"},
        {"empty", 0, ""},
        {"last", 0, "КОММЕНТАРИЙ: без конца"},
        {"in", 2, ""},
        // An index that is no number matches no index.
        {"in.sl", 0, ""},
        // The comment is one token; what follows it is not part of it.
        {"tok", 1, "КОММЕНТАРИЙ: один"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(FindComment(file.path(), c.name, c.index), c.comment) << c.name;
}

TEST(Tooltips, MissingFileHasNoComments) {
    EXPECT_EQ(FindComment("/nonexistent/tooltip_b4.dat", "in.sl", 2), "");
}

TEST(Tooltips, TheFileIsReadOnceAndAgainForAnotherPath) {
    TooltipFile first("a первый<<");
    TooltipFile second("a второй<<");
    EXPECT_EQ(FindComment(first.path(), "a", 0), "КОММЕНТАРИЙ: первый");
    first.Write("a изменён<<");
    EXPECT_EQ(FindComment(first.path(), "a", 0), "КОММЕНТАРИЙ: первый");
    EXPECT_EQ(FindComment(second.path(), "a", 0), "КОММЕНТАРИЙ: второй");
    EXPECT_EQ(FindComment(first.path(), "a", 0), "КОММЕНТАРИЙ: изменён");
}

TEST(Tooltips, ParameterKeyIsTheAddressOfAnOperativeParameter) {
    TooltipFile file("in.sl:2 по_индексу<<in.sl:9 по_адресу<<");
    Parameter p;
    p.name = "in.sl";
    p.hasLinearIndex = true;
    p.linearIndex = 2;
    p.deviceAddress = 9;
    EXPECT_EQ(CommentKeyIndex(p), 2);
    EXPECT_EQ(FindComment(file.path(), p), "КОММЕНТАРИЙ: по индексу");
    p.pollTimer = std::make_unique<NoTimer>();
    EXPECT_EQ(CommentKeyIndex(p), 9);
    EXPECT_EQ(FindComment(file.path(), p), "КОММЕНТАРИЙ: по адресу");
}

TEST(Tooltips, DelHasFixedComments) {
    TooltipFile file("del из_файла<<");
    const std::string inspector =
        "КОММЕНТАРИЙ: Параметр блокирует переключение состояния Инспектора на заданное время.";
    const std::string regulator =
        "КОММЕНТАРИЙ: Параметр блокирует переключение состояния выхода On/Off-Регулятора на "
        "заданное время.";
    Parameter p;
    p.name = "del";
    for (int index : {0, 7}) {
        p.linearIndex = index;
        EXPECT_EQ(FindComment(file.path(), p), inspector) << index;
    }
    for (int index : {8, -1, 100}) {
        p.linearIndex = index;
        EXPECT_EQ(FindComment(file.path(), p), regulator) << index;
    }
    // Only parameters: a branch of that name reads the file.
    EXPECT_EQ(FindComment(file.path(), "del", std::nullopt), "КОММЕНТАРИЙ: из файла");
}

}  // namespace
