#include "dbf/dbf.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>

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

namespace {

std::string Json(const std::string& text) {
    std::string out = "\"";
    for (char c : text) {
        if (c == '"' || c == '\\') out += '\\';
        out += c;
    }
    return out + "\"";
}

std::string Json(bool flag) {
    return flag ? "true" : "false";
}

std::string Json(int number) {
    return std::to_string(number);
}

// A table as another program would write it: its own field order and
// lengths, a field type this reader does not know, offsets it ignores, no
// end mark.
std::string HandBuiltTable() {
    struct F {
        const char* name;
        char type;
        int length;
    };
    const F fields[] = {{"NAME", 'C', 9},   {"VALUE", 'C', 20},    {"STAMP", 'D', 8},
                        {"LINDEX", 'N', 3}, {"NEEDUPDTE", 'L', 1}, {"ERROR", 'C', 10}};
    const int recordLength = 1 + 9 + 20 + 8 + 3 + 1 + 10;
    // "Пуск", "Стоп" and "Обрыв" in the OEM code page.
    const std::string start = "\x8F\xE3\xE1\xAA", stop = "\x91\xE2\xAE\xAF",
                      broken = "\x8E\xA1\xE0\xEB\xA2";
    auto pad = [](std::string text, std::size_t n) {
        text.resize(n, ' ');
        return text;
    };
    const std::string rows[] = {
        " " + pad("r.co", 9) + pad(start, 20) + "20261207" + "  0" + "T" + pad("", 10),
        "*" + pad("in.sl", 9) + pad("9", 20) + "20261207" + "  3" + "F" + pad("", 10),
        " " + pad("in.sl", 9) + pad("1.25", 20) + "        " + "3.9" + "?" + pad(broken, 10),
        " " + pad("zz", 9) + pad("5", 20) + "20261207" + "  0" + "F" + pad("", 10),
        " " + pad("r.co", 9) + pad(stop, 20) + "20261208" + "  0" + "F" + pad("", 10),
    };
    std::string b(32, '\0');
    b[0] = 0x03;
    b[4] = static_cast<char>(std::size(rows));
    const int headerLength = 32 * static_cast<int>(std::size(fields)) + 33;
    b[8] = static_cast<char>(headerLength & 0xFF);
    b[9] = static_cast<char>(headerLength >> 8);
    b[10] = static_cast<char>(recordLength);
    for (const F& f : fields) {
        std::string d(32, '\0');
        std::memcpy(d.data(), f.name, std::strlen(f.name));
        d[11] = f.type;
        d[12] = '\x55';  // an offset nobody should trust
        d[16] = static_cast<char>(f.length);
        b += d;
    }
    b += '\x0D';
    for (const std::string& row : rows)
        b += row;
    return b;
}

}  // namespace

TEST_F(DbfTest, ForeignReaderSeesEveryValue) {
    ObjectWithParameters tree;
    Parameter* reset = Add(tree, "r.co", "Сброс");
    reset->deviceAddress = 5;
    reset->writable = false;
    Parameter* slope = Add(tree, "in.sl", "-1.5e3", 12);
    slope->needUpdate = slope->needUpdateOwner = true;
    slope->error = "Таймаут \"ответа\"";
    slope->privacy = -2;
    Parameter* text = Add(tree, "A.Len", std::string(63, 'x').c_str(), 1234567);
    text->needUpdateAccess = true;
    text->deviceAddress = 255;
    text->privacy = 3;
    text->description = "Длина: ёЁ №1 \\ «кавычки»";  // not all of it is in the code page
    ASSERT_TRUE(ExportParameters(tree, Path("p.dbf")));

    // What each parameter held, in field order; a character the code page
    // lacks reaches the table as "?".
    std::string expected = "[";
    for (const Parameter* p : tree.parameters) {
        std::string description = p == text ? "Длина: ёЁ №1 \\ ?кавычки?" : p->description;
        expected += std::string(p == tree.parameters.front() ? "" : ",") + "[" + Json(0) + "," +
                    Json(p->name) + "," + Json(description) + "," + Json(p->value) + "," +
                    Json(p->hasLinearIndex) + "," + Json(p->linearIndex) + "," +
                    Json(p->deviceAddress) + "," + Json(p->writable) + ",false,false," +
                    Json(p->error) + "," + Json(p->needUpdate) + "," + Json(p->needUpdateAccess) +
                    "," + Json(p->needUpdateOwner) + "," + Json(p->privacy) + "]";
    }
    std::ofstream(Path("expected.json")) << expected << "]";
    const std::string command = "/usr/bin/python3 '" SELVAR_DBF_READER_CHECK "' '" + Path("p.dbf") +
                                "' '" + Path("expected.json") + "'";
    EXPECT_EQ(std::system(command.c_str()), 0) << command;
}

TEST_F(DbfTest, ImportReadsTablesOfOtherWriters) {
    std::ofstream(Path("other.dbf"), std::ios::binary) << HandBuiltTable();
    DBF::DBFFile file;
    ASSERT_EQ(file.Open(Path("other.dbf"), "rb"), 0);
    EXPECT_EQ(file.RecordCount(), 5u);
    EXPECT_EQ(file.RecordType().Find("LINDEX")->offset, 38);
    file.Close();

    MessageRecorder boxes;
    ObjectWithParameters tree;
    Parameter* reset = Add(tree, "r.co", "x");
    Parameter* slope = Add(tree, "in.sl", "y", 3);
    Add(tree, "absent", "z");
    ASSERT_TRUE(ImportParameters(tree, Path("other.dbf")));
    // The later row of a name replaces the earlier one.
    EXPECT_EQ(reset->value, "Стоп");
    EXPECT_FALSE(reset->needUpdate);
    // The deleted row is skipped; a number is cut to its integer part; "?" is true.
    EXPECT_EQ(slope->value, "1.25");
    EXPECT_EQ(slope->linearIndex, 3);
    EXPECT_TRUE(slope->needUpdate);
    EXPECT_EQ(slope->error, "Обрыв");
    EXPECT_EQ(tree.parameters[2]->value, "Нет данных");
    ASSERT_EQ(boxes.boxes.size(), 1u);
    EXPECT_EQ(boxes.boxes[0].text.rfind("След. параметры небыли определены:\n absent", 0), 0u);
}

TEST_F(DbfTest, DamagedTablesImportOrFailCleanly) {
    const std::string good = HandBuiltTable();
    std::mt19937 gen(7);
    auto import = [&](const std::string& bytes) {
        std::ofstream(Path("bad.dbf"), std::ios::binary | std::ios::trunc) << bytes;
        MessageRecorder boxes;
        ObjectWithParameters tree;
        Add(tree, "r.co", "x");
        Add(tree, "in.sl", "y", 3);
        bool ok = ImportParameters(tree, Path("bad.dbf"));
        // A refused file is reported and changes nothing.
        if (!ok) {
            EXPECT_EQ(boxes.boxes.size(), 1u);
            EXPECT_EQ(tree.parameters[0]->value, "x");
        }
    };
    for (std::size_t len = 0; len <= good.size(); ++len)
        import(good.substr(0, len));
    for (int i = 0; i < 400; ++i) {
        std::string bytes = good;
        bytes[gen() % bytes.size()] ^= static_cast<char>(1u << (gen() % 8));
        bytes[gen() % 32] = static_cast<char>(gen());
        import(bytes);
    }

    // Lengths a damaged header may claim: the largest header, rows shorter
    // than their fields, billions of rows.
    std::string bytes = good;
    bytes[8] = bytes[9] = '\xFF';
    import(bytes);
    DBF::DBFFile file;
    EXPECT_EQ(file.Open(Path("bad.dbf"), "rb"), -2);
    bytes = good;
    bytes[10] = 20;
    std::ofstream(Path("bad.dbf"), std::ios::binary | std::ios::trunc) << bytes;
    EXPECT_EQ(file.Open(Path("bad.dbf"), "rb"), -2);
    bytes = good;
    std::memset(bytes.data() + 4, 0xFF, 4);
    std::ofstream(Path("bad.dbf"), std::ios::binary | std::ios::trunc) << bytes;
    ASSERT_EQ(file.Open(Path("bad.dbf"), "rb"), 0);
    EXPECT_EQ(file.RecordCount(), 5u);  // the rows the file holds
    file.Close();

    // A table without fields: its rows are status bytes alone.
    std::string empty(32, '\0');
    empty[0] = 3;
    empty[4] = 2;
    empty[8] = 33;
    empty[10] = 1;
    import(empty + "\x0D  \x1A");
    ASSERT_EQ(file.Open(Path("bad.dbf"), "rb"), 0);
    DBF::DBFRecord row(file.RecordType());
    bool valid = false;
    EXPECT_TRUE(file.Read(2, row, valid));
    EXPECT_TRUE(valid);
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
