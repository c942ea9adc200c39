#include "description/description_writer.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

#include <bit>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "description/gzip_reader.h"
#include "description/parameter_table.h"
#include "description/record_layout.h"
#include "description/tooltips.h"
#include "description/tree_loader.h"
#include "platform/codepage.h"

namespace {

namespace W = DescriptionWriter;
using Bytes = std::vector<std::uint8_t>;

std::int32_t I32(const Bytes& b, std::size_t at) {
    std::uint32_t v = 0;
    for (std::size_t i = 0; i < 4; ++i)
        v |= std::uint32_t{b[at + i]} << (8 * i);
    return static_cast<std::int32_t>(v);
}

float F32(const Bytes& b, std::size_t at) {
    return std::bit_cast<float>(static_cast<std::uint32_t>(I32(b, at)));
}

// The zero-terminated field as UTF-8, and whether the rest of the field is zero.
std::string Field(const Bytes& b, std::size_t at, std::size_t size, bool* restZero = nullptr) {
    std::string cp;
    std::size_t i = 0;
    for (; i < size && b[at + i] != 0; ++i)
        cp += static_cast<char>(b[at + i]);
    if (restZero) {
        *restZero = true;
        for (; i < size; ++i)
            if (b[at + i] != 0) *restZero = false;
    }
    return Cp1251ToUtf8(cp);
}

// Plain zlib, header detection on (windowBits 15 + 32): what any gzip reader does.
Bytes Inflate(const Bytes& gz) {
    z_stream z{};
    EXPECT_EQ(inflateInit2(&z, 15 + 32), Z_OK);
    Bytes out(1 << 16);
    Bytes result;
    z.next_in = const_cast<Bytef*>(gz.data());
    z.avail_in = static_cast<uInt>(gz.size());
    int rc = Z_OK;
    while (rc == Z_OK) {
        z.next_out = out.data();
        z.avail_out = static_cast<uInt>(out.size());
        rc = inflate(&z, Z_NO_FLUSH);
        result.insert(result.end(), out.begin(), out.begin() + (out.size() - z.avail_out));
    }
    EXPECT_EQ(rc, Z_STREAM_END);  // the trailer's CRC and ISIZE were checked by zlib
    EXPECT_EQ(z.avail_in, 0u);    // nothing after the member
    inflateEnd(&z);
    return result;
}

W::TableFields SampleFields() {
    W::TableFields f;
    f.name = "in.sl";
    f.description = "Крутизна шкалы входа №3";
    f.index = 2;
    f.indexIsAddress = true;
    f.notWritable = true;
    f.flag = 1;
    f.bindingKind = 5;
    f.needUpdate = true;
    f.attributeKind = 16;
    f.access = 0;
    f.owner = 1;
    f.type = "Выкл:Вкл<hide>:Авто<hide>(r.oe.s)";
    f.decimals = 3;
    f.minValue = -12.5f;
    f.maxValue = 1000.25f;
    f.value = "Нет данных";
    f.factory = "1";
    f.forceWrite = true;
    f.error = "ошибка";
    return f;
}

// ---------------------------------------------------------------------------
// Table records

TEST(DescriptionWriter, TableRecordPutsEveryFieldAtItsOffset) {
    namespace R = TableRecord;
    Bytes out;
    std::string error;
    ASSERT_TRUE(W::AppendTableRecord(out, SampleFields(), &error)) << error;
    ASSERT_EQ(out.size(), R::kSize);
    bool zero = false;
    EXPECT_EQ(Field(out, R::kName, R::kNameSize, &zero), "in.sl");
    EXPECT_TRUE(zero);
    EXPECT_EQ(Field(out, R::kDescription, R::kDescriptionSize, &zero), "Крутизна шкалы входа №3");
    EXPECT_TRUE(zero);
    EXPECT_EQ(I32(out, R::kIndex), 2);
    EXPECT_EQ(out[R::kIndexIsAddress], 1);
    EXPECT_EQ(out[R::kNotWritable], 1);
    EXPECT_EQ(out[R::kFlag], 1);
    EXPECT_EQ(I32(out, R::kBindingKind), 5);
    EXPECT_EQ(out[R::kNeedUpdate], 1);
    EXPECT_EQ(I32(out, R::kAttributeKind), 16);
    EXPECT_EQ(out[R::kAccess], 0);
    EXPECT_EQ(out[R::kOwner], 1);
    EXPECT_EQ(Field(out, R::kType, R::kTypeSize), "Выкл:Вкл<hide>:Авто<hide>(r.oe.s)");
    EXPECT_EQ(I32(out, R::kDecimals), 3);
    EXPECT_EQ(F32(out, R::kMin), -12.5f);
    EXPECT_EQ(F32(out, R::kMax), 1000.25f);
    EXPECT_EQ(Field(out, R::kValue, R::kValueSize), "Нет данных");
    EXPECT_EQ(Field(out, R::kFactory, R::kFactorySize), "?1");
    EXPECT_EQ(Field(out, R::kError, R::kErrorSize, &zero), "ошибка");
    EXPECT_TRUE(zero);
    // Texts are code page 1251: one byte per Cyrillic letter.
    EXPECT_EQ(out[R::kDescription], 0xCA);  // 'К'
}

TEST(DescriptionWriter, UnusedBytesAreZeroAndIntegersLittleEndian) {
    namespace R = TableRecord;
    W::TableFields f;
    f.name = "X";
    f.index = -1;
    f.attributeKind = 0x01020304;
    Bytes out;
    ASSERT_TRUE(W::AppendTableRecord(out, f, nullptr));
    EXPECT_EQ(out[R::kIndex], 0xFF);
    EXPECT_EQ(out[R::kIndex + 3], 0xFF);
    EXPECT_EQ(out[R::kAttributeKind], 0x04);
    EXPECT_EQ(out[R::kAttributeKind + 3], 0x01);
    EXPECT_EQ(out[R::kAccess], 1);  // default "Редактируемый"
    std::size_t nonZero = 0;
    for (std::uint8_t b : out)
        nonZero += b != 0;
    EXPECT_EQ(nonZero, 1u + 4u + 4u + 1u);  // name, index, attribute kind, access
}

TEST(DescriptionWriter, RecordsAppendOneAfterAnother) {
    Bytes out;
    W::TableFields f;
    f.name = "a";
    ASSERT_TRUE(W::AppendTableRecord(out, f, nullptr));
    f.name = "b";
    ASSERT_TRUE(W::AppendTableRecord(out, f, nullptr));
    ASSERT_EQ(out.size(), 2 * TableRecord::kSize);
    EXPECT_EQ(out[TableRecord::kSize], 'b');
}

TEST(DescriptionWriter, TextsThatDoNotFitAreRefusedNotCut) {
    W::TableFields f;
    f.name = "abcdefgh";  // 8 bytes and the zero: fits
    Bytes out;
    std::string error;
    EXPECT_TRUE(W::AppendTableRecord(out, f, &error)) << error;
    f.name = "abcdefghi";
    out.clear();
    EXPECT_FALSE(W::AppendTableRecord(out, f, &error));
    EXPECT_TRUE(out.empty());
    EXPECT_NE(error.find("name"), std::string::npos) << error;
    EXPECT_NE(error.find("at most 8"), std::string::npos) << error;

    f.name = "a";
    f.description = std::string(255, 'x');
    EXPECT_TRUE(W::AppendTableRecord(out, f, &error));
    f.description = std::string(192, 'x');
    for (int i = 0; i < 64; ++i)
        f.description += "Ж";
    // 192 + 64 = 256 bytes in code page 1251 (the UTF-8 text is longer).
    out.clear();
    EXPECT_FALSE(W::AppendTableRecord(out, f, &error));
    EXPECT_NE(error.find("description"), std::string::npos) << error;
    EXPECT_NE(error.find("256 bytes"), std::string::npos) << error;
}

TEST(DescriptionWriter, CharactersOutsideCodePage1251AreRefused) {
    std::string cp;
    std::string error;
    EXPECT_TRUE(W::EncodeFieldText("°C «№» —", 32, "unit", cp, &error)) << error;
    EXPECT_FALSE(W::EncodeFieldText("A0 × x", 32, "comment", cp, &error));
    EXPECT_NE(error.find("code page 1251"), std::string::npos) << error;
    EXPECT_FALSE(W::EncodeFieldText(std::string("a\0b", 3), 32, "name", cp, &error));
}

// ---------------------------------------------------------------------------
// Tree records

TEST(DescriptionWriter, BranchRecordLayout) {
    namespace T = TreeRecord;
    W::BranchFields f;
    f.name = "Канал №1";
    f.count1 = 3;
    f.count2 = 1;
    f.count3 = 2;
    f.valueA = 1152;
    f.valueB = 8;
    f.valueC = 9;
    f.marked = true;
    Bytes out;
    ASSERT_TRUE(W::AppendBranchRecord(out, f, nullptr));
    ASSERT_EQ(out.size(), T::kSize);
    EXPECT_EQ(out[T::kKind], T::kBranch);
    EXPECT_EQ(I32(out, T::kChildCount1), 3);
    EXPECT_EQ(I32(out, T::kChildCount2), 1);
    EXPECT_EQ(I32(out, T::kChildCount3), 2);
    EXPECT_EQ(I32(out, T::kValueA), 1152);
    EXPECT_EQ(I32(out, T::kValueB), 8);
    EXPECT_EQ(I32(out, T::kValueC), 9);
    EXPECT_EQ(I32(out, T::kMarked), 1);
    EXPECT_EQ(Field(out, T::kBranchName, T::kBranchNameSize), "Канал №1");
}

TEST(DescriptionWriter, ParameterReferenceLayout) {
    namespace T = TreeRecord;
    W::ParameterRefFields f;
    f.tableIndex = 1234;
    f.lower = -10;
    f.upper = 10;
    f.readOnly = true;
    f.label = "Уставка";
    Bytes out;
    ASSERT_TRUE(W::AppendParameterRecord(out, f, nullptr));
    ASSERT_EQ(out.size(), T::kSize);
    EXPECT_EQ(out[T::kKind], T::kParameter);
    EXPECT_EQ(I32(out, T::kTableIndex), 1234);
    EXPECT_EQ(F32(out, T::kLower), -10.0f);
    EXPECT_EQ(F32(out, T::kUpper), 10.0f);
    EXPECT_EQ(out[T::kReadOnly], 1);
    EXPECT_EQ(I32(out, T::kReserved), 0);
    EXPECT_EQ(Field(out, T::kLabel, T::kLabelSize), "Уставка");
}

TEST(DescriptionWriter, ConnectorLayoutAndSelectorLimit) {
    namespace T = TreeRecord;
    W::ConnectorFields f;
    f.source = "Вход канала";
    f.state = "Вход#";
    f.selector = "ch.in";
    f.first = 1;
    f.last = 8;
    Bytes out;
    ASSERT_TRUE(W::AppendConnectorRecord(out, f, nullptr));
    ASSERT_EQ(out.size(), T::kSize);
    EXPECT_EQ(out[T::kKind], T::kConnector);
    EXPECT_EQ(Field(out, T::kSourceText, T::kSourceTextSize), "Вход канала");
    EXPECT_EQ(Field(out, T::kStateText, T::kStateTextSize), "Вход#");
    EXPECT_EQ(Field(out, T::kSelector, T::kSelectorSize), "ch.in");
    EXPECT_EQ(I32(out, T::kFirst), 1);
    EXPECT_EQ(I32(out, T::kLast), 8);

    f.selector = "123456789";
    std::string error;
    out.clear();
    EXPECT_FALSE(W::AppendConnectorRecord(out, f, &error));
    EXPECT_TRUE(out.empty());
    EXPECT_NE(error.find("selector"), std::string::npos) << error;
}

TEST(DescriptionWriter, RecordsReadBackThroughTheTreeLoader) {
    // Table: two parameters; tree: root with a parameter, a child branch with
    // the other one and a connector.
    Bytes table;
    W::TableFields p;
    p.name = "ch.in";
    p.index = 0;
    p.type = "Отключен:Вход_1:Вход_2";
    p.value = "Нет данных";
    p.factory = "1";
    ASSERT_TRUE(W::AppendTableRecord(table, p, nullptr));
    p.name = "ch.dF";
    p.type = "DEC dot";
    p.factory = "4";
    ASSERT_TRUE(W::AppendTableRecord(table, p, nullptr));
    Bytes gz;
    ASSERT_TRUE(W::GzipMember(table, gz, nullptr));
    ParameterTable t;
    ASSERT_EQ(LoadParameterTableFromMemory(t, gz, "test"), TableLoadStatus::Ok);
    ASSERT_EQ(t.Size(), 2u);
    EXPECT_EQ(t.At(0)->type, "Отключен:Вход 1:Вход 2");
    EXPECT_EQ(t.At(0)->defaultValue, "Вход 1");
    EXPECT_EQ(t.At(0)->value, "Нет данных");
    EXPECT_EQ(t.At(1)->defaultValue, "4");

    Bytes tree;
    ASSERT_TRUE(W::AppendBranchRecord(tree, {"Корень", 1, 1, 0, 0, 5, 6, false}, nullptr));
    ASSERT_TRUE(W::AppendParameterRecord(tree, {1, 0, 0, false, ""}, nullptr));
    ASSERT_TRUE(W::AppendBranchRecord(tree, {"Канал №1", 1, 0, 1, 1000, 8, 8, true}, nullptr));
    ASSERT_TRUE(W::AppendParameterRecord(tree, {0, 0, 0, true, "Вход"}, nullptr));
    ASSERT_TRUE(W::AppendConnectorRecord(tree, {"Вход канала", "Вход#", "ch.in", 1, 2}, nullptr));
    auto root = BuildTree(t, tree, "");
    ASSERT_EQ(root->parameters.size(), 1u);
    EXPECT_EQ(root->parameters[0], t.At(1));
    ASSERT_EQ(root->branches.size(), 1u);
    const DescBranch& ch = *root->branches[0];
    EXPECT_EQ(ch.elementName, "Канал №1");
    EXPECT_EQ(ch.valueA, 1000);
    EXPECT_EQ(ch.valueB, 8);
    ASSERT_EQ(ch.parameters.size(), 1u);
    EXPECT_EQ(ch.parameters[0]->treeLabel, "Вход");
    EXPECT_FALSE(ch.parameters[0]->treeWritable);
    EXPECT_EQ(ch.connectors.size(), 1u);
    EXPECT_EQ(t.markedBranch, &ch);
    StructureEntries s = CollectStructure(*root);
    EXPECT_EQ(s[0], t.At(0));
}

// ---------------------------------------------------------------------------
// gzip

TEST(DescriptionWriter, GzipInflatesWithPlainZlib) {
    Bytes data(100000);
    std::mt19937 random(7);
    for (std::size_t i = 0; i < data.size(); ++i)
        data[i] = static_cast<std::uint8_t>(i % 251 < 200 ? i % 13 : random());
    Bytes gz;
    std::string error;
    ASSERT_TRUE(W::GzipMember(data, gz, &error)) << error;
    EXPECT_LT(gz.size(), data.size());
    EXPECT_EQ(Inflate(gz), data);
}

TEST(DescriptionWriter, GzipHeaderAndTrailer) {
    const std::string text = "Селвар";
    Bytes data(text.begin(), text.end());
    Bytes gz;
    ASSERT_TRUE(W::GzipMember(data, gz, nullptr));
    ASSERT_GE(gz.size(), 18u);
    EXPECT_EQ(gz[0], 0x1F);
    EXPECT_EQ(gz[1], 0x8B);
    EXPECT_EQ(gz[2], 8);       // deflate
    EXPECT_EQ(gz[3], 0);       // no flags
    EXPECT_EQ(I32(gz, 4), 0);  // modification time 0: the same input gives the same file
    EXPECT_EQ(gz[9], 3);       // Unix
    auto crc = static_cast<std::uint32_t>(crc32(0, data.data(), static_cast<uInt>(data.size())));
    EXPECT_EQ(static_cast<std::uint32_t>(I32(gz, gz.size() - 8)), crc);
    EXPECT_EQ(I32(gz, gz.size() - 4), static_cast<std::int32_t>(data.size()));  // ISIZE
    EXPECT_EQ(Inflate(gz), data);

    Bytes again;
    ASSERT_TRUE(W::GzipMember(data, again, nullptr));
    EXPECT_EQ(again, gz);
}

TEST(DescriptionWriter, GzipWithStoredNameAndEmptyData) {
    Bytes data = {1, 2, 3};
    Bytes gz;
    ASSERT_TRUE(W::GzipMember(data, gz, nullptr, "parameters2.bin"));
    EXPECT_EQ(gz[3], 0x08);  // FNAME
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(&gz[10])), "parameters2.bin");
    EXPECT_EQ(Inflate(gz), data);

    Bytes empty;
    ASSERT_TRUE(W::GzipMember({}, empty, nullptr));
    EXPECT_EQ(I32(empty, empty.size() - 4), 0);
    EXPECT_TRUE(Inflate(empty).empty());
}

TEST(DescriptionWriter, GzipReadsBackThroughTheProjectReader) {
    Bytes data(3 * TableRecord::kSize, 0x5A);
    Bytes gz;
    ASSERT_TRUE(W::GzipMember(data, gz, nullptr));
    GzipBuffer back = GunzipMemory(gz);
    EXPECT_EQ(back.status, GzipStatus::Ok);
    EXPECT_EQ(back.announced, data.size());
    EXPECT_EQ(Bytes(back.bytes.get(), back.bytes.get() + back.size), data);
}

// ---------------------------------------------------------------------------
// Tool tips

TEST(DescriptionWriter, TooltipTextIsKeysAndCommentsWithUnderscores) {
    const W::TooltipEntry entries[] = {
        {"in.sl", 2, "Нижний предел\nвхода"},
        {"Канал №1", -1, "Первый канал"},
        {"X r", -1, "точка"},
    };
    std::string text;
    std::string error;
    ASSERT_TRUE(W::TooltipText(entries, text, &error)) << error;
    EXPECT_EQ(Cp1251ToUtf8(text),
              "in.sl:2 Нижний_предел\\nвхода<<Канал_№1 Первый_канал<<X_r точка<<");
}

TEST(DescriptionWriter, TooltipFileIsInvertedAndRoundTrips) {
    const W::TooltipEntry entries[] = {
        {"in.sl", 2, "Нижний предел\\nвхода"},  // the two characters \n pass as they are
        {"del", -1, "Задержка"},
    };
    Bytes file;
    ASSERT_TRUE(W::TooltipFile(entries, file, nullptr));
    std::string text;
    ASSERT_TRUE(W::TooltipText(entries, text, nullptr));
    ASSERT_EQ(file.size(), text.size());
    for (std::size_t i = 0; i < file.size(); ++i)
        ASSERT_EQ(file[i], static_cast<std::uint8_t>(~static_cast<unsigned char>(text[i])));
    Bytes back = file;
    W::InvertBytes(back);
    EXPECT_EQ(std::string(back.begin(), back.end()), text);

    // The program's own reader gets the entries back.
    std::vector<TooltipEntry> parsed = ParseTooltips(file);
    ASSERT_EQ(parsed.size(), 2u);
    EXPECT_EQ(parsed[0].name, "in.sl");
    EXPECT_FALSE(parsed[0].anyIndex);
    EXPECT_EQ(parsed[0].index, 2);
    EXPECT_EQ(parsed[0].comment, "Нижний предел\nвхода");
    EXPECT_EQ(parsed[1].name, "del");
    EXPECT_TRUE(parsed[1].anyIndex);
    EXPECT_EQ(parsed[1].comment, "Задержка");
}

TEST(DescriptionWriter, TooltipRefusesWhatCannotBeReadBack) {
    std::string text;
    std::string error;
    auto refused = [&](W::TooltipEntry e, const char* why) {
        const W::TooltipEntry one[] = {e};
        EXPECT_FALSE(W::TooltipText(one, text, &error)) << e.name << " / " << e.comment;
        EXPECT_NE(error.find(why), std::string::npos) << error;
    };
    refused({"a_b", -1, "x"}, "'_'");
    refused({"ab", -1, "x_y"}, "'_'");
    refused({"ab", -1, "x<<y"}, "<<");
    refused({"ab", -1, "x<"}, "<<");
    refused({"ab", -1, ""}, "empty");
    refused({"a:b", -1, "x"}, "':'");
    refused({"ab", -1, "a\tb"}, "control");
    refused({"ab", -1, "A0 × x"}, "code page 1251");
}

// ---------------------------------------------------------------------------
// Atomic writing

TEST(DescriptionWriter, WritesFilesAtomicallyAndCreatesFolders) {
    namespace fs = std::filesystem;
    fs::path dir = fs::temp_directory_path() / ("descw_" + std::to_string(::getpid()));
    fs::remove_all(dir);
    std::string path = (dir / "sub" / "tooltip_b4.dat").string();
    Bytes first = {1, 2, 3};
    std::string error;
    ASSERT_TRUE(W::WriteFileAtomically(path, first, &error)) << error;
    Bytes second(5000, 7);
    ASSERT_TRUE(W::WriteFileAtomically(path, second, &error)) << error;
    std::ifstream in(path, std::ios::binary);
    Bytes back((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_EQ(back, second);
    // Nothing else is left in the folder, and everyone may read the file.
    EXPECT_EQ(std::distance(fs::directory_iterator(dir / "sub"), fs::directory_iterator()), 1);
    struct stat st {};
    ASSERT_EQ(::stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0644u);
    fs::remove_all(dir);
}

TEST(DescriptionWriter, WriteFailureIsReported) {
    std::string error;
    Bytes data = {1};
    EXPECT_FALSE(W::WriteFileAtomically("/proc/selvar-no-such/dir/file", data, &error));
    EXPECT_FALSE(error.empty());
}

}  // namespace
