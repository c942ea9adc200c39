#include "reports/parameter_list.h"

#include <gtest/gtest.h>

#include <sstream>

#include "description/desc_branch.h"
#include "support/message_recorder.h"

namespace {

struct Tree {
    DescBranch root;
    std::vector<std::unique_ptr<Parameter>> owned;

    Parameter* Add(DescBranch& b, const char* name, int index, const char* type = "float",
                   double min = 0, double max = 0) {
        owned.push_back(std::make_unique<Parameter>());
        Parameter* p = owned.back().get();
        p->name = name;
        p->linearIndex = index;
        p->hasLinearIndex = index >= 0;
        p->type = type;
        p->minValue = min;
        p->maxValue = max;
        p->description = std::string("Описание ") + name;
        b.parameters.push_back(p);
        return p;
    }
    DescBranch& Child(DescBranch& parent, const char* name) {
        parent.branches.push_back(std::make_unique<DescBranch>());
        parent.branches.back()->elementName = name;
        return *parent.branches.back();
    }
};

std::string Row(const ParameterLine& line) {
    std::ostringstream out;
    WriteRow(line, out, 1);
    return out.str();
}

}  // namespace

TEST(ParameterList, IndexesMergeIntoOneRow) {
    Tree t;
    for (int i = 0; i < 8; ++i)
        t.Add(t.root, "in.sl", i);
    t.Add(t.root, "x.y", 0);
    t.Add(t.root, "x.y", 4);
    t.Add(t.root, "solo", -1);
    std::vector<ParameterLine> lines;
    CollectLines(t.root, "", lines);
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_NE(Row(lines[0]).find("<td>0, 1 .. 7\t</td>"), std::string::npos);
    EXPECT_NE(Row(lines[1]).find("<td>0, 4\t</td>"), std::string::npos);
    EXPECT_NE(Row(lines[2]).find("<td>нет индекса\t</td>"), std::string::npos);
}

TEST(ParameterList, AijCountsInPairsAndIndexOneStandsAlone) {
    Tree t;
    for (int i : {0, 2, 4, 6})
        t.Add(t.root, "A.i.j", i);
    std::vector<ParameterLine> lines;
    CollectLines(t.root, "", lines);
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_NE(Row(lines[0]).find("<td>0, 4 .. 5\t</td>"), std::string::npos);

    Tree u;
    u.Add(u.root, "A.i.j", 1);
    u.Add(u.root, "A.i.j", 3);
    std::vector<ParameterLine> more;
    CollectLines(u.root, "", more);
    ASSERT_EQ(more.size(), 1u);
    EXPECT_EQ(more[0].lastIndex, 3);
}

TEST(ParameterList, CellsByType) {
    Tree t;
    t.Add(t.root, "n.Err", -1, "byte");
    t.Add(t.root, "f", -1, "float", 0, 100);
    t.Add(t.root, "c", -1, "CLK frm", 0, 5999);
    t.Add(t.root, "e", -1, "Выкл:Вкл<на>:Вход №1 & №2");
    t.Add(t.root, "z", -1, "float", 0, 0)->attributeKind = 3;
    std::vector<ParameterLine> lines;
    CollectLines(t.root, "", lines);
    std::string nerr = Row(lines[0]);
    EXPECT_NE(nerr.find("<td>0233\t</td>"), std::string::npos);
    EXPECT_NE(nerr.find("<ol start=0>\n\t\t<li> byte\n\t</ol>"), std::string::npos);
    EXPECT_NE(nerr.find("нет атрибутов"), std::string::npos);
    EXPECT_NE(Row(lines[1]).find("<td>от 0 до 100\t</td>"), std::string::npos);
    EXPECT_NE(Row(lines[1]).find("Число с плавающей точкой"), std::string::npos);
    EXPECT_NE(Row(lines[2]).find("<td>от 00:00 до 99:59\t</td>"), std::string::npos);
    EXPECT_NE(Row(lines[3]).find("<li> Вкл&lt;на&gt;"), std::string::npos);
    // A label names one choice: its number stays, only the markup is escaped.
    EXPECT_NE(Row(lines[3]).find("<li> Вход №1 &amp; №2\n"), std::string::npos);
    EXPECT_NE(Row(lines[4]).find("нет ограничений"), std::string::npos);
    EXPECT_NE(Row(lines[4]).find("дерево атр-ов обрезано (кратность индекcов 3)"),
              std::string::npos);
    EXPECT_EQ(Row(lines[4]).substr(Row(lines[4]).size() - 13), "\t</td>\n</tr>\n");
}

TEST(ParameterList, PathsHeadingsAndEscaping) {
    Tree t;
    DescBranch& inputs = t.Child(t.root, "Входы & выходы");
    DescBranch& one = t.Child(inputs, "Канал №1");
    t.Add(one, "a", -1)->description = "Канал №1 <главный>";
    t.Add(one, "b", -1);
    DescBranch& collapsed = t.Child(inputs, "Один");
    t.Add(collapsed, "c", -1);
    std::string page = ParameterListPage(t.root);
    EXPECT_NE(page.find("<b>Входы &amp; выходы \\ Канал №...</b>"), std::string::npos);
    EXPECT_NE(page.find("Канал №... &lt;главный&gt;"), std::string::npos);
    std::vector<ParameterLine> lines;
    CollectLines(t.root, "", lines);
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[2].path, "Входы & выходы");  // a one-parameter branch keeps its parent's path
    EXPECT_NE(page.find("<h4>Список оперативных параметров</h4>"), std::string::npos);
    EXPECT_EQ(page.substr(page.size() - 16), "</body>\n</html>\n");
}

TEST(ParameterList, NoTreeNoPage) {
    MessageRecorder boxes;
    EXPECT_FALSE(WriteParameterList(nullptr, "/tmp/never.html"));
    ASSERT_EQ(boxes.boxes.size(), 1u);
    EXPECT_EQ(boxes.boxes[0].caption, "Операция невозможна");
    EXPECT_EQ(boxes.boxes[0].text, "Дерево не определено");
}
