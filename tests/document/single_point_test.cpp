#include "document/single_point.h"

#include <gtest/gtest.h>

#include <bit>
#include <cstring>
#include <string>
#include <vector>

#include "description/desc_branch.h"
#include "description/parameter_table.h"
#include "link/device_io.h"
#include "link/frame.h"
#include "model/parameter.h"
#include "platform/app_state.h"
#include "support/scripted_peer.h"

namespace {

using SinglePoint::IndexPlacement;
using SinglePoint::Operation;
using SinglePoint::Request;
using Lines = std::vector<std::string>;

struct Row {
    const char* name;
    const char* type;
    const char* description = "";
    int bindingKind = 0;
    double min = 0;
    double max = 0;
    int decimals = 0;
};

void Fill(ParameterTable& table, const std::vector<Row>& rows) {
    table.Allocate(rows.size());
    for (std::size_t i = 0; i < rows.size(); ++i) {
        Parameter& p = *table.At(i);
        p.name = rows[i].name;
        p.type = rows[i].type;
        p.description = rows[i].description;
        p.bindingKind = rows[i].bindingKind;
        p.minValue = rows[i].min;
        p.maxValue = rows[i].max;
        p.decimals = rows[i].decimals;
    }
}

std::vector<std::uint8_t> FloatBytes(float x) {
    auto bits = std::bit_cast<std::uint32_t>(x);
    return {static_cast<std::uint8_t>(bits >> 24), static_cast<std::uint8_t>(bits >> 16),
            static_cast<std::uint8_t>(bits >> 8), static_cast<std::uint8_t>(bits)};
}

// Lines of the log that are not the exchange's own byte dumps.
Lines Summary(const Lines& log) {
    Lines out;
    for (const std::string& line : log) {
        if (line.rfind(">> ", 0) == 0 || line.rfind("<< ", 0) == 0 ||
            line.rfind("Размер инф-ой части", 0) == 0 || line.rfind("Инф-ная часть", 0) == 0)
            continue;
        out.push_back(line);
    }
    return out;
}

class SinglePointTest : public ::testing::Test {
  protected:
    void SetUp() override {
        SetLinkPauses({0, 0});
        Fill(table, {
                        {"vEr", "string", "Версия программы"},
                        {"r.co", "float", "Уставка", 0, 0, 100, 1},
                        {"R.CO", "float", "Уставка второго объекта"},
                        {"in.t", "выкл:вкл_сеть:авто", "Режим входа"},
                        {"x.P", "int16", "Координата X", 1},
                        {"y.P", "int16", "Координата Y", 2},
                        {"A.Val", "float", "Приведённое", 5},
                        {"Sel", "float", "Выбранное", 6},
                        {"n.Ch", "byte", "Число каналов", 3},
                    });
        table.At(3)->labelMarks = {"", "", "h"};
    }
    void TearDown() override { SetLinkPauses({-1, -1}); }

    Lines Run(ScriptedPeer& peer, const Request& r) {
        io.Port().portName = peer.Path();
        io.Port().speed = 115200;
        return SinglePoint::Execute(io, table, r);
    }

    ParameterTable table;
    DeviceIO io;
};

TEST_F(SinglePointTest, CommandListHasEachNameOnceWithoutCompositeKinds) {
    EXPECT_EQ(SinglePoint::CommandNames(table), (Lines{"vEr", "r.co", "in.t", "n.Ch"}));
}

TEST_F(SinglePointTest, TypedNamesShowHashDescriptionAndLabels) {
    // The hash of the initial name at once, in capitals without padding.
    SinglePoint::CommandView ver =
        SinglePoint::DescribeCommand(table, SinglePoint::kInitialCommand);
    EXPECT_EQ(ver.hash, "0x2D5B");
    EXPECT_EQ(SinglePoint::DescribeCommand(table, "n.Err").hash, "0x233");
    EXPECT_EQ(ver.description, "Версия программы (string)");
    EXPECT_TRUE(ver.values.empty());

    // Case does not matter; the table's first spelling wins.
    EXPECT_EQ(SinglePoint::DescribeCommand(table, "R.co").description, "Уставка (float)");

    // Labels in quotes, '_' shown as a blank, the hidden one left out.
    SinglePoint::CommandView mode = SinglePoint::DescribeCommand(table, "IN.T");
    EXPECT_EQ(mode.description, "Режим входа (выкл:вкл_сеть:авто)");
    EXPECT_EQ(mode.values, (Lines{"\"выкл\"", "\"вкл сеть\""}));

    // A name the table lacks.
    SinglePoint::CommandView unknown = SinglePoint::DescribeCommand(table, "zz.q");
    EXPECT_EQ(unknown.description, "<неизвестный параметр> (<тип неопределен>)");
    EXPECT_TRUE(unknown.values.empty());
    EXPECT_EQ(unknown.hash.rfind("0x", 0), 0u);

    // Only a ':' after the first character makes a list.
    table.At(0)->type = ":a:b";
    EXPECT_TRUE(SinglePoint::DescribeCommand(table, "vEr").values.empty());
}

TEST_F(SinglePointTest, IndexFieldsAsNumbers) {
    EXPECT_EQ(SinglePoint::UpperIndexAfter("5", "2"), "5");
    EXPECT_EQ(SinglePoint::UpperIndexAfter("1", "2"), "2");
    EXPECT_EQ(SinglePoint::UpperIndexAfter("", "3"), "3");
    EXPECT_EQ(SinglePoint::UpperIndexAfter("10", "9x"), "10");
    EXPECT_EQ(SinglePoint::IndexNumber(" 12ab"), 12);
    EXPECT_EQ(SinglePoint::IndexNumber("-3"), 0);
    EXPECT_EQ(SinglePoint::IndexNumber("9999999999999"), SinglePoint::kMaxIndex);
}

TEST_F(SinglePointTest, IndexesInTheDataGiveOneReadEach) {
    ScriptedPeer peer([](const ScriptedPeer::Request& r) {
        std::vector<std::uint8_t> d = FloatBytes(2.5f);
        std::vector<std::uint8_t> req = r.Data();
        d.insert(d.end(), req.begin(), req.end());  // the index comes back
        return ScriptedPeer::Answer(r.Hash(), d);
    });
    Request r;
    r.command = "R.CO";
    r.linearIndex = true;
    r.indexFrom = "0";
    r.indexTo = "2";
    Lines log = Run(peer, r);
    Lines one = {"Индекс передается в посылке запроса", "r.co (Уставка)",
                 "Нет ошибок; строковая нотация ответа:", "2.5", ""};
    Lines expected;
    for (int i = 0; i < 3; ++i)
        expected.insert(expected.end(), one.begin(), one.end());
    EXPECT_EQ(Summary(log), expected);
    // The exchange's own lines are there too.
    EXPECT_NE(std::find(log.begin(), log.end(), "Размер инф-ой части посылки 2 байт."), log.end());

    auto requests = peer.Requests();
    ASSERT_EQ(requests.size(), 3u);
    for (std::uint8_t i = 0; i < 3; ++i) {
        EXPECT_TRUE(requests[i].IsRead());
        EXPECT_EQ(requests[i].Hash(), hash_name("r.co"));
        EXPECT_EQ(requests[i].Data(), (std::vector<std::uint8_t>{0, i}));
        EXPECT_EQ(requests[i].bytes[0], 16);
    }
}

TEST_F(SinglePointTest, IndexInTheAddressWarnsFromEightAndStillAsks) {
    ScriptedPeer peer([](const ScriptedPeer::Request& r) {
        return ScriptedPeer::Answer(r.Hash(), FloatBytes(1.0f), r.bytes[0]);
    });
    Request r;
    r.command = "r.co";
    r.linearIndex = true;
    r.placement = IndexPlacement::Address;
    r.indexFrom = "7";
    r.indexTo = "8";
    Lines log = Summary(Run(peer, r));
    EXPECT_EQ(log, (Lines{"Индекс передается в поле адреса запроса", "r.co (Уставка)",
                          "Нет ошибок; строковая нотация ответа:", "1.0", "",
                          "Индекс передается в поле адреса запроса",
                          "Предупреждение: адрес увеличен более чем на 7!", "r.co (Уставка)",
                          "Нет ошибок; строковая нотация ответа:", "1.0", ""}));
    auto requests = peer.Requests();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(requests[0].bytes[0], 16 + 7);
    EXPECT_EQ(requests[1].bytes[0], 16 + 8);
    EXPECT_TRUE(requests[1].Data().empty());  // no index in the data
}

TEST_F(SinglePointTest, WrittenValues) {
    // What the device was sent, in order (the peer answers on its own thread).
    ScriptedPeer peer(
        [&](const ScriptedPeer::Request& r) { return ScriptedPeer::Answer(r.Hash(), r.Data()); });
    auto Written = [&] {
        std::vector<std::vector<std::uint8_t>> data;
        for (const auto& q : peer.Requests())
            data.push_back(q.Data());
        return data;
    };
    Request r;
    r.operation = Operation::Write;

    // A label chosen from the list goes out without its quotes.
    r.command = "in.t";
    r.valueText = "\"вкл сеть\"";
    EXPECT_EQ(Summary(Run(peer, r)),
              (Lines{"in.t (Режим входа)", "Нет ошибок; записано. Обратно вернулось='вкл сеть'"}));
    ASSERT_EQ(Written().size(), 1u);
    EXPECT_EQ(Written()[0], (std::vector<std::uint8_t>{1}));

    // Within the range the device's rounding is announced and written.
    r.command = "r.co";
    r.valueText = "12.36";
    EXPECT_EQ(Summary(Run(peer, r)), (Lines{"r.co (Уставка)", "Значение было округлено до 12.4",
                                            "Нет ошибок; записано. Обратно вернулось='12.4'"}));
    EXPECT_EQ(Written().back(), FloatBytes(12.4f));

    // Only a number that reads back different is a rounding.
    r.valueText = "12";
    EXPECT_EQ(Summary(Run(peer, r))[1], "Нет ошибок; записано. Обратно вернулось='12.0'");
    EXPECT_EQ(Written().back(), FloatBytes(12.0f));

    // Outside the range the value goes out as typed.
    r.valueText = "150.55";
    EXPECT_EQ(Summary(Run(peer, r)),
              (Lines{"r.co (Уставка)", "Нет ошибок; записано. Обратно вернулось='150.6'"}));
    EXPECT_EQ(Written().back(), FloatBytes(150.55f));
    EXPECT_EQ(Written().size(), 4u);
}

TEST_F(SinglePointTest, FailuresAndUnknownNamesGoToTheLog) {
    // A name the table lacks is asked for by its own hash; the answer then
    // has no known layout.
    ScriptedPeer peer([](const ScriptedPeer::Request& r) {
        return ScriptedPeer::Answer(r.Hash(), {1, 2});
    });
    Request r;
    r.command = "Zq.1";
    Lines log = Summary(Run(peer, r));
    ASSERT_EQ(peer.Requests().size(), 1u);
    EXPECT_EQ(peer.Requests()[0].Hash(), hash_name("Zq.1"));
    EXPECT_EQ(log, (Lines{"Zq.1 (<неизвестный параметр>)", "Не могу раскодировать ответ"}));

    // A value without a wire form is not sent.
    r.command = "r.co";
    r.operation = Operation::Write;
    r.valueText = "abc";
    log = Summary(Run(peer, r));
    EXPECT_EQ(log, (Lines{"r.co (Уставка)", "Неверное значение (неудается закодировать данные)"}));
    EXPECT_EQ(peer.Requests().size(), 1u);

    // A device error answer.
    ScriptedPeer refusing([](const ScriptedPeer::Request&) {
        return ScriptedPeer::Answer(DeviceIO::kHashNErr, {0x33});
    });
    r.valueText = "5";
    log = Summary(Run(refusing, r));
    EXPECT_EQ(log,
              (Lines{"r.co (Уставка)", "Редактирование параметра запрещено атрибутами доступа"}));

    // A silent device.
    ScriptedPeer silent([](const ScriptedPeer::Request&) { return std::nullopt; });
    r.operation = Operation::Read;
    log = Summary(Run(silent, r));
    EXPECT_EQ(log, (Lines{"r.co (Уставка)", "Таймаут при передаче данных (нет связи)"}));
}

TEST_F(SinglePointTest, FindsInTheConfigurationThenTheOperativeTree) {
    Parameter indexed0, indexed1, polled;
    indexed0.name = indexed1.name = "r.co";
    indexed0.linearIndex = 0;
    indexed1.linearIndex = 1;
    polled.name = "rEAd";
    DescBranch configuration, operative;
    auto child = std::make_unique<DescBranch>();
    DescBranch* inner = child.get();
    inner->parameters = {&indexed0, &indexed1};
    configuration.branches.push_back(std::move(child));
    operative.parameters = {&polled};

    Request r;
    r.command = "R.CO";
    SinglePoint::Location any = SinglePoint::Find(&configuration, &operative, r);
    EXPECT_EQ(any.parameter, &indexed0);
    EXPECT_EQ(any.branch, inner);

    r.linearIndex = true;
    r.indexFrom = "1";
    r.indexTo = "0";
    EXPECT_EQ(SinglePoint::Find(&configuration, &operative, r).parameter, &indexed1);
    r.indexFrom = "2";
    EXPECT_EQ(SinglePoint::Find(&configuration, &operative, r).parameter, nullptr);

    r.command = "read";
    r.indexFrom = "0";
    SinglePoint::Location op = SinglePoint::Find(&configuration, &operative, r);
    EXPECT_EQ(op.parameter, &polled);
    EXPECT_EQ(op.branch, &operative);
    EXPECT_EQ(SinglePoint::Find(nullptr, nullptr, r).parameter, nullptr);
}

}  // namespace
