#include "description/parameter_table.h"

#include <gtest/gtest.h>
#include <unistd.h>
#include <zlib.h>

#include <bit>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <vector>

#include "description/gzip_reader.h"
#include "description/record_layout.h"
#include "platform/codepage.h"
#include "support/deflate.h"

namespace {

using Bytes = std::vector<std::uint8_t>;
namespace R = TableRecord;

Bytes Gzip(const Bytes& data) {
    return Deflate(data, 31, Z_BEST_COMPRESSION);
}

void SetIsize(Bytes& file, std::uint32_t isize) {
    for (int i = 0; i < 4; ++i)
        file[file.size() - 4 + i] = static_cast<std::uint8_t>(isize >> (8 * i));
}

// One table record, built field by field at the layout's offsets.
struct Record {
    Bytes b = Bytes(R::kSize, 0);

    Record& Text(std::size_t at, std::size_t size, const std::string& utf8) {
        std::string cp = Utf8ToCp1251(utf8);
        EXPECT_LE(cp.size(), size);
        std::memcpy(b.data() + at, cp.data(), std::min(cp.size(), size));
        return *this;
    }
    Record& Int(std::size_t at, std::int32_t v) {
        for (int i = 0; i < 4; ++i)
            b[at + i] = static_cast<std::uint8_t>(static_cast<std::uint32_t>(v) >> (8 * i));
        return *this;
    }
    Record& Real(std::size_t at, float v) { return Int(at, std::bit_cast<std::int32_t>(v)); }
    Record& Byte(std::size_t at, std::uint8_t v) {
        b[at] = v;
        return *this;
    }
    Record& Name(const std::string& s) { return Text(R::kName, R::kNameSize, s); }
    Record& Type(const std::string& s) { return Text(R::kType, R::kTypeSize, s); }
    Record& Factory(const std::string& s) { return Text(R::kFactory, R::kFactorySize, s); }
    Record& Index(std::int32_t index, bool isAddress) {
        return Int(R::kIndex, index).Byte(R::kIndexIsAddress, isAddress ? 1 : 0);
    }
};

Bytes Join(const std::vector<Record>& records) {
    Bytes out;
    for (const Record& r : records)
        out.insert(out.end(), r.b.begin(), r.b.end());
    return out;
}

ParameterTable& Load(ParameterTable& table, const Bytes& file,
                     TableLoadStatus expected = TableLoadStatus::Ok) {
    EXPECT_EQ(LoadParameterTableFromMemory(table, file, "parameters2.zip"), expected);
    return table;
}

const Parameter& Single(ParameterTable& table, const Record& r) {
    Load(table, Gzip(r.b));
    EXPECT_EQ(table.Size(), 1u);
    return *table.At(0);
}

void ExpectConstructed(const Parameter& p) {
    EXPECT_EQ(p.name, "");
    EXPECT_EQ(p.description, Parameter::kNoDescription);
    EXPECT_EQ(p.type, MyConverter::kUnknownType);
    EXPECT_FALSE(p.autoReadPending);
}

TEST(ParameterTable, FillsEveryFieldOfARecord) {
    Record r;
    r.Name("in.sl")
        .Text(R::kDescription, R::kDescriptionSize, "Нижний предел")
        .Index(3, false)
        .Byte(R::kNotWritable, 1)
        .Byte(R::kFlag, 1)
        .Int(R::kBindingKind, 4)
        .Byte(R::kNeedUpdate, 1)
        .Int(R::kAttributeKind, 2)
        .Byte(R::kAccess, 0)
        .Byte(R::kOwner, 1)
        .Type("float")
        .Int(R::kDecimals, 2)
        .Real(R::kMin, -1.5f)
        .Real(R::kMax, 250.25f)
        .Text(R::kValue, R::kValueSize, "Нет данных")
        .Factory("12.5")
        .Text(R::kError, R::kErrorSize, "Ошибка");
    ParameterTable table;
    const Parameter& p = Single(table, r);
    EXPECT_EQ(p.name, "in.sl");
    EXPECT_EQ(p.description, "Нижний предел");
    EXPECT_TRUE(p.hasLinearIndex);
    EXPECT_EQ(p.linearIndex, 3);
    EXPECT_FALSE(p.writable);
    EXPECT_TRUE(p.tableFlag);
    EXPECT_EQ(p.bindingKind, 4);
    EXPECT_TRUE(p.needUpdate);
    EXPECT_EQ(p.attributeKind, 2);
    EXPECT_EQ(p.accessAttribute, 0);
    EXPECT_EQ(p.ownerAttribute, 1);
    EXPECT_EQ(p.type, "float");
    EXPECT_EQ(p.labelMarks, std::vector<std::string>{""});
    EXPECT_EQ(p.decimals, 2);
    EXPECT_EQ(p.minValue, -1.5);
    EXPECT_EQ(p.maxValue, 250.25);
    EXPECT_EQ(p.value, "Нет данных");
    EXPECT_EQ(p.defaultValue, "12.5");
    EXPECT_FALSE(p.forceWrite);
    EXPECT_EQ(p.error, "Ошибка");
    EXPECT_TRUE(p.autoReadPending);
    EXPECT_FALSE(p.needUpdateAccess);
    EXPECT_FALSE(p.needUpdateOwner);
    EXPECT_EQ(table.fileName, "parameters2.zip");
}

TEST(ParameterTable, AttributesAreTakenOnlyWithAnAttributeKind) {
    Record r;
    r.Name("x").Type("int16").Byte(R::kAccess, 0).Byte(R::kOwner, 1);
    ParameterTable table;
    const Parameter& p = Single(table, r);
    EXPECT_EQ(p.attributeKind, 0);
    EXPECT_EQ(p.accessAttribute, 1);
    EXPECT_EQ(p.ownerAttribute, 0);
    EXPECT_TRUE(p.writable);
}

TEST(ParameterTable, IndexRules) {
    struct Case {
        std::int32_t index;
        bool isAddress;
        bool indexed;
        int linearIndex;
        int deviceAddress;
    };
    const Case cases[] = {
        {-1, true, false, 0, 0},  {5, true, true, 5, 5},  {-2, true, true, -2, -2},
        {0, true, true, 0, 0},    {5, false, true, 5, 0}, {-1, false, false, 0, 0},
        {-7, false, false, 0, 0}, {0, false, true, 0, 0},
    };
    std::vector<Record> records;
    for (const Case& c : cases)
        records.push_back(Record().Name("p").Index(c.index, c.isAddress));
    ParameterTable table;
    Load(table, Gzip(Join(records)));
    ASSERT_EQ(table.Size(), std::size(cases));
    for (std::size_t i = 0; i < table.Size(); ++i) {
        const Case& c = cases[i];
        const Parameter& p = *table.At(i);
        SCOPED_TRACE(testing::Message() << c.index << (c.isAddress ? " address" : ""));
        EXPECT_EQ(p.hasLinearIndex, c.indexed);
        EXPECT_EQ(p.linearIndex, c.linearIndex);
        EXPECT_EQ(p.deviceAddress, c.deviceAddress);
    }
}

TEST(ParameterTable, TypeTextGivesLabelsAndVisibilityMarks) {
    struct Case {
        const char* text;
        const char* type;
        std::vector<std::string> marks;
    };
    const Case cases[] = {
        {"Выкл:Вкл<hide>:Авто<hide>(r.oe.s)", "Выкл:Вкл:Авто", {"", "h", "hr.oe.s"}},
        {"float", "float", {""}},
        {"STORED_DOT", "STORED DOT", {""}},
        {"Ручной_режим::Авто:", "Ручной режим:Авто", {"", ""}},
        {"<hide>a:b", "a:b", {"h", ""}},
        {"a<hide>(x)b:c", "ab:c", {"hx", ""}},
        {"a<hide>(unclosed:b", "a:b", {"hunclosed", ""}},
        {"<hide>:b", ":b", {"h", ""}},
        {"", "", {}},
    };
    for (const Case& c : cases) {
        ParameterTable table;
        const Parameter& p = Single(table, Record().Name("t").Type(c.text));
        EXPECT_EQ(p.type, c.type) << c.text;
        EXPECT_EQ(p.labelMarks, c.marks) << c.text;
    }
}

TEST(ParameterTable, FactoryValueRule) {
    struct Case {
        const char* type;
        const char* factory;
        bool forceWrite;
        const char* defaultValue;
    };
    const Case cases[] = {
        {"int16", "?10", true, "10"},
        {"int16", "10", false, "10"},
        {"string", "a_b_c", false, "a b c"},
        // An enumeration's data form is the label's index.
        {"Выкл:Вкл_авто", "1", false, "Вкл авто"},
        {"Выкл:Вкл_авто", "?0", true, "Выкл"},
        {"float", "?", true, ""},
        {"float", "", false, ""},
    };
    for (const Case& c : cases) {
        ParameterTable table;
        const Parameter& p = Single(table, Record().Name("f").Type(c.type).Factory(c.factory));
        EXPECT_EQ(p.forceWrite, c.forceWrite) << c.factory;
        EXPECT_EQ(p.defaultValue, c.defaultValue) << c.factory;
    }
}

TEST(ParameterTable, TextsWithoutTerminatorEndAtTheirField) {
    Record r;
    std::memset(r.b.data() + R::kName, 'N', R::kNameSize);
    std::memset(r.b.data() + R::kDescription, 'D', R::kDescriptionSize);
    std::memset(r.b.data() + R::kFactory, '?', R::kFactorySize);
    std::memset(r.b.data() + R::kError, 0xC0, R::kErrorSize);  // 'А' in code page 1251
    ParameterTable table;
    const Parameter& p = Single(table, r);
    EXPECT_EQ(p.name, std::string(R::kNameSize, 'N'));
    EXPECT_EQ(p.description, std::string(R::kDescriptionSize, 'D'));
    EXPECT_TRUE(p.forceWrite);
    EXPECT_EQ(p.defaultValue, std::string(R::kFactorySize - 1, '?'));
    EXPECT_EQ(Utf8ToCp1251(p.error), std::string(R::kErrorSize, '\xC0'));
}

TEST(ParameterTable, CountIsTheAnnouncedSizeInWholeRecords) {
    const std::vector<Record> two = {Record().Name("a"), Record().Name("b")};
    for (std::size_t tail : {std::size_t{0}, std::size_t{14}, R::kSize - 1}) {
        Bytes data = Join(two);
        data.resize(data.size() + tail, 0x55);
        ParameterTable table;
        Load(table, Gzip(data));
        ASSERT_EQ(table.Size(), 2u) << tail;
        EXPECT_EQ(table.At(0)->name, "a");
        EXPECT_EQ(table.At(1)->name, "b");
    }
}

TEST(ParameterTable, ADamagedFileKeepsTheAnnouncedCountWithWhatCouldBeRead) {
    // Three records announced, one and a half delivered.
    Bytes data = Join({Record().Name("a"), Record().Name("b")});
    data.resize(R::kSize + R::kSize / 2);
    Bytes file = Gzip(data);
    SetIsize(file, 3 * R::kSize);
    ParameterTable table;
    Load(table, file, TableLoadStatus::Damaged);
    ASSERT_EQ(table.Size(), 3u);
    EXPECT_EQ(table.At(0)->name, "a");
    ExpectConstructed(*table.At(1));
    ExpectConstructed(*table.At(2));
}

TEST(ParameterTable, AnUnreadableHeaderGivesConstructedParameters) {
    Bytes file = Gzip(Join({Record().Name("a"), Record().Name("b")}));
    file[2] = 7;  // method
    ParameterTable table;
    Load(table, file, TableLoadStatus::Damaged);
    ASSERT_EQ(table.Size(), 2u);
    ExpectConstructed(*table.At(0));
}

TEST(ParameterTable, AHugeTrailerCannotAllocateBeyondTheFile) {
    Bytes file = Gzip(Join({Record().Name("a")}));
    SetIsize(file, 0xFFFFFFFF);
    ParameterTable table;
    Load(table, file, TableLoadStatus::Damaged);
    EXPECT_LE(table.Size(), MaxInflatedSize(file.size()) / R::kSize);
    EXPECT_EQ(table.At(0)->name, "a");
}

TEST(ParameterTable, MissingFileEmptiesTheTableAndReplacesAnEarlierOne) {
    ParameterTable table;
    Load(table, Gzip(Join({Record().Name("a"), Record().Name("b")})));
    ASSERT_EQ(table.Size(), 2u);

    EXPECT_EQ(LoadParameterTable(table, "/nonexistent/parameters1.zip"), TableLoadStatus::Missing);
    EXPECT_EQ(table.Size(), 0u);
    EXPECT_EQ(table.fileName, "/nonexistent/parameters1.zip");
}

TEST(ParameterTable, LoadsFromAFile) {
    const std::string path = (std::filesystem::temp_directory_path() /
                              ("parameter_table_test_" + std::to_string(::getpid())))
                                 .string();
    Bytes file = Gzip(Join({Record().Name("r.co").Type("Выкл:Вкл"), Record().Name("A.Len")}));
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(file.data()),
               static_cast<std::streamsize>(file.size()));
    ParameterTable table;
    EXPECT_EQ(LoadParameterTable(table, path), TableLoadStatus::Ok);
    std::remove(path.c_str());
    ASSERT_EQ(table.Size(), 2u);
    EXPECT_EQ(table.fileName, path);
    EXPECT_EQ(table.Find("R.CO"), table.At(0));
    EXPECT_EQ(table.At(0)->type, "Выкл:Вкл");
    EXPECT_EQ(table.At(1)->name, "A.Len");
}

}  // namespace
