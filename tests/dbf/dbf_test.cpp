#include "dbf/dbf.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "dbf/parameter_export.h"
#include "model/object_with_parameters.h"
#include "support/message_recorder.h"

namespace fs = std::filesystem;

namespace {

class DbfTest : public ::testing::Test {
  protected:
    void SetUp() override {
        dir = fs::temp_directory_path() / ("selvar-dbf-" + std::to_string(getpid()));
        fs::create_directories(dir);
    }
    void TearDown() override { fs::remove_all(dir); }
    std::string Path(const char* name) { return (dir / name).string(); }
    std::string Bytes(const std::string& path) {
        std::ifstream in(path, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }
    fs::path dir;
};

Parameter* Add(ObjectWithParameters& tree, const char* name, const char* value, int index = -1) {
    auto* p = new Parameter;
    p->name = name;
    p->value = value;
    p->description = std::string("Описание ") + name;
    if (index >= 0) {
        p->hasLinearIndex = true;
        p->linearIndex = index;
    }
    tree.AddParameter(p);
    return p;
}

}  // namespace

TEST_F(DbfTest, ExportLayoutMatchesTheTable) {
    ObjectWithParameters tree;
    Add(tree, "r.co", "Сброс");
    Add(tree, "in.sl", "1.5", 12)->needUpdate = true;
    Add(tree, "x", "Нет данных")->privacy = -2;
    ASSERT_TRUE(ExportParameters(tree, Path("p.dbf")));
    std::string b = Bytes(Path("p.dbf"));
    ASSERT_EQ(b.size(), 513u + 3 * 261 + 2);
    EXPECT_EQ(b[0], 3);
    EXPECT_EQ(static_cast<unsigned char>(b[8]) | static_cast<unsigned char>(b[9]) << 8, 513);
    EXPECT_EQ(static_cast<unsigned char>(b[10]) | static_cast<unsigned char>(b[11]) << 8, 261);
    EXPECT_EQ(b[4], 3);
    EXPECT_EQ(b[512], '\x0D');
    EXPECT_EQ(b.substr(b.size() - 2), "\x1A\x1A");
    // Row 2: status, CONF_ID, NAME, DESC, VALUE, HASLINDEX, LINDEX.
    std::string row = b.substr(513 + 261, 261);
    EXPECT_EQ(row.substr(0, 5), "    0");
    EXPECT_EQ(row.substr(5, 9), "in.sl    ");
    EXPECT_EQ(row.substr(14 + 80, 3), "1.5");
    EXPECT_EQ(row[158], 'T');
    EXPECT_EQ(row.substr(159, 8), "      12");
    std::string first = b.substr(513, 261);
    EXPECT_EQ(first.substr(159, 8), "       0");
    EXPECT_EQ(first[158], 'F');
    // Texts travel in the OEM code page: "С" is 0x91.
    EXPECT_EQ(static_cast<unsigned char>(first[14 + 80]), 0x91);
}

TEST_F(DbfTest, ImportRestoresWhatWasExported) {
    ObjectWithParameters saved;
    Add(saved, "r.co", "Сброс");
    Parameter* slope = Add(saved, "in.sl", "1.5", 12);
    slope->needUpdate = true;
    slope->error = "Таймаут";
    ASSERT_TRUE(ExportParameters(saved, Path("p.dbf")));

    MessageRecorder boxes;
    ObjectWithParameters tree;
    Add(tree, "r.co", "x");
    Parameter* target = Add(tree, "in.sl", "y", 12);
    ASSERT_TRUE(ImportParameters(tree, Path("p.dbf")));
    EXPECT_TRUE(boxes.boxes.empty());
    EXPECT_EQ(tree.parameters[0]->value, "Сброс");
    EXPECT_EQ(tree.parameters[0]->name, "r.co");  // no padding left on names or values
    EXPECT_EQ(target->value, "1.5");
    EXPECT_EQ(target->error, "Таймаут");
    EXPECT_TRUE(target->needUpdate);
    EXPECT_EQ(target->linearIndex, 12);
}

TEST_F(DbfTest, MissingParametersAreResetAndListed) {
    ObjectWithParameters saved;
    Add(saved, "keep", "1");
    Add(saved, "extra", "2");
    ASSERT_TRUE(ExportParameters(saved, Path("p.dbf")));
    MessageRecorder boxes;
    ObjectWithParameters tree;
    Add(tree, "keep", "x");
    for (int i = 0; i < 16; ++i)
        Add(tree, "m", "v", i);
    ASSERT_TRUE(ImportParameters(tree, Path("p.dbf")));
    EXPECT_EQ(tree.parameters[0]->value, "1");
    EXPECT_EQ(tree.parameters[1]->value, "Нет данных");
    ASSERT_EQ(boxes.boxes.size(), 1u);
    const std::string& text = boxes.boxes[0].text;
    EXPECT_EQ(text.rfind("След. параметры небыли определены:\n m:0 (Описание m)", 0), 0u);
    EXPECT_NE(text.find(" m:13 (Описание m)\n и другие (не перечислены)"), std::string::npos);
    EXPECT_EQ(text.find("m:14"), std::string::npos);
}

TEST_F(DbfTest, UnreadableFilesChangeNothing) {
    ObjectWithParameters tree;
    Add(tree, "a", "1");
    std::ofstream(Path("junk.dbf")) << "not a table";
    std::ofstream(Path("short.dbf"), std::ios::binary)
        << std::string("\x03\x7E\x01\x01\xFF\xFF\xFF\x7F\x01\x02\x05\x01", 12);
    for (const char* name : {"absent.dbf", "junk.dbf", "short.dbf"}) {
        MessageRecorder boxes;
        EXPECT_FALSE(ImportParameters(tree, Path(name)));
        ASSERT_EQ(boxes.boxes.size(), 1u) << name;
        EXPECT_EQ(boxes.boxes[0].text, "Проблемы с открытием файла '" + Path(name) + "'\n");
        EXPECT_EQ(tree.parameters[0]->value, "1");
    }
}

TEST_F(DbfTest, DamagedCountsAndDeletedRows) {
    ObjectWithParameters saved;
    Add(saved, "a", "1");
    Add(saved, "b", "2");
    ASSERT_TRUE(ExportParameters(saved, Path("p.dbf")));
    std::string b = Bytes(Path("p.dbf"));
    b[4] = '\xFF';  // claims millions of rows
    b[7] = '\x7F';
    b[513 + 261] = '*';  // the second row is deleted
    std::ofstream(Path("d.dbf"), std::ios::binary) << b;
    MessageRecorder boxes;
    ObjectWithParameters tree;
    Add(tree, "a", "x");
    Add(tree, "b", "y");
    ASSERT_TRUE(ImportParameters(tree, Path("d.dbf")));
    EXPECT_EQ(tree.parameters[0]->value, "1");
    EXPECT_EQ(tree.parameters[1]->value, "Нет данных");
}

TEST_F(DbfTest, FailedExportLeavesTheOldFile) {
    ObjectWithParameters tree;
    Add(tree, "a", "1");
    std::ofstream(Path("keep.dbf")) << "old";
    fs::create_directories(dir / ("keep.dbf.tmp." + std::to_string(getpid())));
    MessageRecorder boxes;
    EXPECT_FALSE(ExportParameters(tree, Path("keep.dbf")));
    EXPECT_EQ(Bytes(Path("keep.dbf")), "old");
    ASSERT_EQ(boxes.boxes.size(), 1u);
}

TEST(DbfRecord, FieldsFormatAndRead) {
    DBF::DBFRecordType type;
    type.Add("T", 'C', 4);
    type.Add("N", 'N', 6, 2);
    type.Add("L", 'L', 7);
    EXPECT_EQ(type.Find("N")->offset, 5);
    EXPECT_EQ(type.Find("L")->length, 1);
    EXPECT_EQ(type.Find("n"), nullptr);
    DBF::DBFRecord row(type);
    row.SetText("T", "abcdef");  // keeps its last characters
    row.SetNumber("N", 3.14159f);
    row.SetLogical("L", 1);
    row.SetText("missing", "x");
    EXPECT_EQ(std::string(row.Data().begin(), row.Data().end()), "cdef  3.14T");
    std::string text;
    double number = 0;
    bool flag = false;
    ASSERT_TRUE(row.GetText("T", text));
    EXPECT_EQ(text, "cdef");
    ASSERT_TRUE(row.GetNumber("N", number));
    EXPECT_DOUBLE_EQ(number, 3.14);
    for (char c : {' ', '?', 'T', 'Y'}) {
        row.Data()[10] = c;
        ASSERT_TRUE(row.GetLogical("L", flag));
        EXPECT_TRUE(flag) << c;
    }
    row.Data()[10] = 'F';
    row.GetLogical("L", flag);
    EXPECT_FALSE(flag);
    EXPECT_FALSE(row.GetNumber("T", number));
}
