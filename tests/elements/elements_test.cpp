#include <gtest/gtest.h>

#include "description/desc_branch.h"
#include "elements/common_params.h"
#include "elements/connector.h"
#include "elements/invisible_element.h"
#include "platform/archive.h"
#include "support/recording_sink.h"

using Elements::CommonParams;
using Elements::Connector;
using Elements::InvisibleElement;

namespace {

Parameter* Add(ObjectWithParameters& owner, const char* name, const char* value,
               const char* type = "неизвестен") {
    auto* p = new Parameter;
    p->name = name;
    p->value = value;
    p->type = type;
    owner.AddParameter(p);
    return p;
}

class LoggingDevice : public ParameterDevice {
  public:
    int ReadParameter(Parameter&) override { return 0; }
    int WriteParameter(Parameter&, int) override { return 0; }
    int CompareParameter(Parameter&) override { return 0; }
    bool StopRequested() const override { return false; }
    OperationCounters& Counters() override { return counters; }
    void LogLine(const std::string& text, bool bold, std::uint32_t, bool) override {
        lines.push_back((bold ? "*" : "") + text);
    }
    OperationCounters counters;
    std::vector<std::string> lines;
};

}  // namespace

TEST(InvisibleElement, NameParameterRenamesTheElementOnly) {
    InvisibleElement e;
    Add(e, "Название", "x");
    EXPECT_TRUE(e.SetValue("Название", "Вход №1", true));
    EXPECT_EQ(e.elementName, "Вход №1");
    EXPECT_EQ(e.parameters[0]->value, "x");
    EXPECT_FALSE(e.parameters[0]->needUpdate);
    EXPECT_EQ(e.Title(), "Вход №1 (Невизуальный элемент)");
}

TEST(InvisibleElement, RowTextsAndImagesOfRenamedElements) {
    struct Case {
        const char* name;
        const char* line;
    } cases[] = {
        {"Диапазон №2", "B БУИМ типа \"Холодильник\" 44/44"},
        {"Диапазон №1", "B БУИМ типа \"Нагреватель\" 43/43"},
        {"Блокировки №3", "B Блокировка при запуске программы 0/0"},
        {"Выход", "B Выход 0/0"},
    };
    for (const Case& c : cases) {
        InvisibleElement e;
        e.elementName = c.name;
        Add(e, "r.co", "1");
        RecordingSink sink;
        e.ShowInTree(sink, nullptr, -1, 0);
        ASSERT_EQ(sink.lines.size(), 2u);
        EXPECT_EQ(sink.lines[0], c.line);
        EXPECT_EQ(sink.lines[1], "  P <неизвестный параметр> [r.co]");
    }
}

TEST(InvisibleElement, SettingsSummaryListsSixLines) {
    InvisibleElement e;
    Add(e, "bPS", "9600");
    Add(e, "LEn", "8");
    Add(e, "PrtY", "Нет");
    Add(e, "Sbit", "1");
    Add(e, "A.Len", "8");
    EXPECT_EQ(e.SettingsSummary(),
              "Скорость: 9600\r\nДлина слова данных: 8\r\nЧетность: Нет\r\nКол-во стоп-бит: 1\r\n"
              "Длина адреса: 8\r\nАдрес: \r\n");
}

TEST(InvisibleElement, WholeListOperationsNameTheBranchInTheLog) {
    InvisibleElement e;
    e.elementName = "Сеть";
    Add(e, "a", "1");
    LoggingDevice dev;
    e.ReadAll(dev);
    e.WriteAll(dev, 1);
    e.CompareAll(dev);
    EXPECT_EQ(dev.lines, (std::vector<std::string>{"*Читаем ветвь 'Сеть'", "*Пишем ветвь 'Сеть'",
                                                   "*Сравниваем ветвь 'Сеть'"}));
}

TEST(InvisibleElement, LoadingClearsThenFillsTheDescribedParameters) {
    InvisibleElement saved;
    saved.elementName = "Старое имя";
    Add(saved, "a", "1");
    Add(saved, "b", "2");
    Archive out;
    saved.Serialize(out);

    InvisibleElement shorter;
    shorter.elementName = "Новое";
    Add(shorter, "a", "x")->needUpdate = true;
    Archive in(out.Data());
    shorter.Serialize(in);
    EXPECT_TRUE(in.AtEnd());  // the surplus stored parameter was read past
    EXPECT_EQ(shorter.elementName, "Новое");
    EXPECT_EQ(shorter.parameters[0]->value, "1");
    EXPECT_FALSE(shorter.parameters[0]->needUpdate);

    InvisibleElement longer;
    Add(longer, "a", "x");
    Add(longer, "b", "y");
    Add(longer, "c", "z");
    Archive again(out.Data());
    longer.Serialize(again);
    EXPECT_EQ(longer.parameters[2]->value, "Нет данных");  // cleared, nothing stored for it
}

TEST(CommonParams, ServiceParametersAreBuiltAndRebuilt) {
    CommonParams common;
    ASSERT_EQ(common.parameters.size(), 3u);
    EXPECT_EQ(common.parameters[0]->name, " ");
    EXPECT_EQ(common.parameters[0]->description, "Версия");
    EXPECT_NE(common.parameters[0]->value.find("1.0.0.5"), std::string::npos);
    EXPECT_EQ(common.parameters[1]->description, "Копирайт");
    EXPECT_EQ(common.parameters[2]->name, "   ");
    EXPECT_NE(common.parameters[2]->value, "Нет данных");
    for (Parameter* p : common.parameters) {
        EXPECT_FALSE(p->writable);
        EXPECT_EQ(p->attributeKind, 0);
    }
    common.DeleteParameters();
    EXPECT_EQ(common.parameters.size(), 3u);
    EXPECT_EQ(common.Image(), 20);
    EXPECT_EQ(common.TypeName(), "Сервисные параметры программы");
}

TEST(Connector, StateFromTheSelectedParameters) {
    DescBranch branch;
    branch.elementName = "Регулятор";
    Parameter a, b;
    a.name = "Obj";
    a.type = "Нет:Первый:Второй:Третий:Четвёртый";
    a.value = "Нет данных";
    b.name = "obj";
    b.type = a.type;
    b.value = "Нет данных";
    branch.parameters = {&a, &b};
    Connector c("Связь", "Регулятор", "Объект#", "OBJ", 1, 4);

    EXPECT_EQ(c.ConnectorState(branch), "Нет данных");
    a.value = "Третий";  // position 3
    EXPECT_EQ(c.ConnectorState(branch), "Объект №3");
    b.value = "третий";
    EXPECT_EQ(c.ConnectorState(branch), "Объект №3");
    b.value = "Второй";
    EXPECT_EQ(c.ConnectorState(branch), "противоречия!");
    b.value = "Нет";  // position 0 lies outside 1..4
    EXPECT_EQ(c.ConnectorState(branch), "Объект №3");

    Connector noMark("Связь", "Регулятор", "Объект", "obj", 1, 4);
    EXPECT_EQ(noMark.ConnectorState(branch), "Объект №3");
    branch.parameters.clear();
}

TEST(Connector, ChildBranchesAndIntegerStates) {
    DescBranch root;
    auto child = std::make_unique<DescBranch>();
    Parameter n;
    n.name = "n.Ob";
    n.type = "DEC dot";
    n.value = "2";
    child->parameters = {&n};
    root.branches.push_back(std::move(child));
    Connector c("Вход", "", "Канал #", "n.Ob", 1, 8);
    EXPECT_EQ(c.ConnectorState(root), "Канал  №2");
    root.branches.front()->parameters.clear();
}
