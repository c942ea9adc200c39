#include "description/desc_branch.h"

#include <gtest/gtest.h>

#include "description/parameter_table.h"
#include "description/tree_loader.h"
#include "platform/archive.h"
#include "support/recording_sink.h"
#include "support/tree_records.h"

namespace {

// A small table: each entry "name" or "name:index".
void Fill(ParameterTable& table, std::initializer_list<const char*> names) {
    table.Allocate(names.size());
    std::size_t i = 0;
    for (const char* n : names) {
        Parameter& p = *table.At(i++);
        std::string text = n;
        std::size_t colon = text.find(':');
        p.name = text.substr(0, colon);
        if (colon != std::string::npos) {
            p.hasLinearIndex = true;
            p.linearIndex = std::stoi(text.substr(colon + 1));
        }
        p.description = "d." + p.name;
    }
}

std::vector<std::string> Show(DescBranch& root) {
    RecordingSink sink;
    root.ShowTree(sink, nullptr, 0);
    return sink.lines;
}

class Device : public ParameterDevice {
  public:
    int ReadParameter(Parameter& p) override { return p.name == "bad" ? 1 : 0; }
    int WriteParameter(Parameter&, int) override { return 0; }
    int CompareParameter(Parameter&) override { return 0; }
    bool StopRequested() const override { return stop; }
    OperationCounters& Counters() override { return counters; }
    void LogLine(const std::string& text, bool, std::uint32_t, bool) override {
        log.push_back(text);
    }
    OperationCounters counters;
    std::vector<std::string> log;
    bool stop = false;
};

}  // namespace

TEST(DescBranch, ChildrenOfAllThreeCountsInFileOrder) {
    ParameterTable table;
    Fill(table, {"a", "b", "offs"});
    TreeRecords t;
    t.Branch("Прибор", 2, 0, 1, 7, 5, 6)
        .Param(0)
        .Branch("Один", 1)
        .Param(1, 0, 0, false, "Метка")
        .Connector("Связь", "Канал #", "a", 1, 8);
    auto root = BuildTree(table, t.bytes, "");
    EXPECT_EQ(root->elementName, "Прибор");
    EXPECT_EQ(root->valueA, 7);
    EXPECT_EQ(root->Image(), 5);
    EXPECT_EQ(root->SelectedImage(), 6);
    ASSERT_EQ(root->parameters.size(), 1u);
    ASSERT_EQ(root->branches.size(), 1u);
    ASSERT_EQ(root->connectors.size(), 1u);
    EXPECT_EQ(root->connectors[0]->ownerName, "Прибор");
    EXPECT_EQ(root->branches[0]->parameters[0]->treeLabel, "Метка");
    EXPECT_FALSE(root->ownsParameters);

    // The one-parameter child is shown as its parameter, under the child's name.
    EXPECT_EQ(Show(*root), (std::vector<std::string>{"B Прибор 5/6", "  P d.a [a]", "  P Один [b]",
                                                     "  C Связь = нет"}));
}

TEST(DescBranch, ReferenceBoundsWritabilityAndSkippedNames) {
    ParameterTable table;
    Fill(table, {"r1", "r2", "offs", "r3"});
    table.At(0)->minValue = 1;
    table.At(0)->maxValue = 2;
    table.At(1)->minValue = 1;
    TreeRecords t;
    t.Branch("x", 4).Param(0).Param(1, -10, 10, true).Param(2).Param(3, 0, 0, true);
    auto root = BuildTree(table, t.bytes, "");
    ASSERT_EQ(root->parameters.size(), 3u);  // "offs" never enters a tree
    EXPECT_EQ(table.At(0)->maxValue, 2);
    EXPECT_EQ(table.At(1)->minValue, -10);
    EXPECT_EQ(table.At(1)->maxValue, 10);
    EXPECT_FALSE(table.At(1)->treeWritable);
    EXPECT_TRUE(table.At(0)->treeWritable);

    ParameterTable hiddenTable;
    Fill(hiddenTable, {"h"});
    TreeRecords h;
    h.Branch("hidden", 1).Param(0, 0, 0, true);
    BuildTree(hiddenTable, h.bytes, "hidden");
    EXPECT_TRUE(hiddenTable.At(0)->treeWritable);
}

TEST(DescBranch, CurvePointBindings) {
    ParameterTable table;
    Fill(table, {"grtp:0", "X:0", "Y:0", "Grtr:5", "Y_1:5", "Y:9", "grtp:9"});
    table.At(1)->bindingKind = 1;
    table.At(2)->bindingKind = 1;
    table.At(4)->bindingKind = 2;
    table.At(5)->bindingKind = 1;
    TreeRecords t;
    t.Branch("curve", 4).Param(1).Param(2).Param(4).Param(5);
    auto root = BuildTree(table, t.bytes, "");
    EXPECT_EQ(table.At(1)->defaultValue, "-50");
    EXPECT_EQ(table.At(2)->defaultValue, "50");
    EXPECT_EQ(table.At(0)->defaultValue, "32801268");  // 0x01F481F4
    ASSERT_EQ(table.At(1)->linked.size(), 1u);
    EXPECT_EQ(table.At(1)->linked[0], table.At(0));
    // Kind 2 spells the name with spaces and uses the cold curve's sign at index 5.
    EXPECT_EQ(table.At(4)->name, "Y 1");
    EXPECT_EQ(table.At(3)->defaultValue, std::to_string((0x80AAu << 16) | 300u));
    // Index 9 has no curve point: linked, no defaults.
    EXPECT_EQ(table.At(5)->linked.size(), 1u);
    EXPECT_EQ(table.At(6)->defaultValue, "");
    EXPECT_EQ(table.At(5)->defaultValue, "");
}

TEST(DescBranch, PartnerBindingsAndNameRewrites) {
    ParameterTable table;
    Fill(table, {"in.sl:2", "read:2", "r_ea_d:2", "in.sh:3", "t_x", "rtC:4", "s.w:1", "Abor:2",
                 "a_b:2", "p_q", "z"});
    table.At(2)->bindingKind = 5;
    table.At(4)->bindingKind = 6;
    table.At(8)->bindingKind = 8;
    table.At(9)->bindingKind = 9;
    table.At(10)->bindingKind = 3;
    TreeRecords t;
    t.Branch("b", 5).Param(2).Param(4).Param(8).Param(9).Param(10);
    BuildTree(table, t.bytes, "");
    Parameter& scaled = *table.At(2);
    EXPECT_EQ(scaled.name, "read");
    EXPECT_EQ(scaled.linked, (std::vector<Parameter*>{table.At(0), table.At(1)}));  // no in.sh:2
    EXPECT_EQ(table.At(4)->name, "t x");
    EXPECT_EQ(table.At(4)->linked, (std::vector<Parameter*>{table.At(5), table.At(6)}));
    EXPECT_EQ(table.At(8)->name, "a b");
    EXPECT_EQ(table.At(8)->linked, (std::vector<Parameter*>{table.At(7)}));
    EXPECT_EQ(table.At(9)->name, "pq");
    EXPECT_TRUE(table.At(9)->hasLinearIndex);
    EXPECT_TRUE(table.At(10)->hasLinearIndex);

    // Shown twice, bound once.
    TreeRecords again;
    again.Branch("c", 1).Param(8);
    BuildTree(table, again.bytes, "");
    EXPECT_EQ(table.At(8)->linked.size(), 1u);
}

TEST(DescBranch, MarkedBranchIsTheLastToComplete) {
    ParameterTable table;
    Fill(table, {"a"});
    TreeRecords t;
    t.Branch("outer", 1, 0, 0, 0, 0, 0, 1).Branch("inner", 0, 0, 0, 0, 0, 0, 1);
    auto root = BuildTree(table, t.bytes, "");
    EXPECT_EQ(table.markedBranch, root.get());  // the outer completes after the inner
}

TEST(DescBranch, DamagedRecordsGiveWhatCouldBeRead) {
    ParameterTable table;
    Fill(table, {"a", "b"});

    TreeRecords notBranch;
    notBranch.Param(0);
    auto empty = BuildTree(table, notBranch.bytes, "");
    EXPECT_EQ(empty->elementName, "Корень");
    EXPECT_TRUE(empty->parameters.empty());

    TreeRecords overAnnounced;
    overAnnounced.Branch("x", 2000000000, 2000000000, 2000000000).Param(0).Param(-5).Param(99);
    overAnnounced.bytes.resize(overAnnounced.bytes.size() + 100);  // a partial record
    auto partial = BuildTree(table, overAnnounced.bytes, "");
    EXPECT_EQ(partial->parameters.size(), 1u);

    TreeRecords deep;
    for (int i = 0; i < 5000; ++i)
        deep.Branch("d", 1);
    auto nested = BuildTree(table, deep.bytes, "");
    int depth = 0;
    for (DescBranch* b = nested.get(); !b->branches.empty(); b = b->branches.front().get())
        ++depth;
    EXPECT_LT(depth, 100);

    auto none = BuildTree(table, {}, "");
    EXPECT_TRUE(none->branches.empty());
}

TEST(DescBranch, SubtreeQueries) {
    ParameterTable table;
    Fill(table, {"n:1", "n:2", "n:3", "m:1", "e"});
    TreeRecords t;
    t.Branch("root", 2).Param(0).Branch("child", 3).Param(1).Param(2).Param(3);
    auto root = BuildTree(table, t.bytes, "");

    std::vector<Parameter*> selected;
    EXPECT_EQ(root->SelectByNames({{"n", "1;3"}}, selected), 2);
    EXPECT_EQ(selected, (std::vector<Parameter*>{table.At(0), table.At(2)}));
    selected.clear();
    EXPECT_EQ(root->SelectByNames({{"n", "all"}, {"m", "7"}}, selected), 3);

    const DescBranch* owner = nullptr;
    EXPECT_EQ(root->FindParameter("N", 3, &owner), table.At(2));
    EXPECT_EQ(owner, root->branches[0].get());
    EXPECT_EQ(root->FindParameter("n", -1, &owner), table.At(0));
    EXPECT_EQ(owner, root.get());
    EXPECT_EQ(root->FindParameter("e", -1, &owner), nullptr);
    EXPECT_EQ(root->FindOwner(table.At(3)), root->branches[0].get());

    table.At(1)->error = "x";
    table.At(2)->error = Parameter::kNotInitialised;
    table.At(3)->needUpdate = true;
    std::vector<Parameter*> errors;
    EXPECT_EQ(root->CollectErrors(errors), 1);
    EXPECT_EQ(root->CountChanged(false), 1);
    EXPECT_EQ(root->CountChanged(true), 4);
}

TEST(DescBranch, OperativeTimersAndPolling) {
    ParameterTable table;
    Fill(table, {"rEAd:0", "rEAd:1"});
    TreeRecords t;
    t.Branch("op", 1).Branch("in", 1).Param(1);
    auto root = BuildTree(table, t.bytes, "");
    root->branches[0]->parameters.push_back(table.At(0));

    struct NullTimer : PollTimer {
        bool Start(int) override { return true; }
        void Cancel() override {}
    };
    root->PrepareOperative([] { return std::make_unique<NullTimer>(); });
    std::vector<Parameter*> polled;
    EXPECT_EQ(root->CollectPolled(polled), 2);
    EXPECT_FALSE(table.At(1)->hasLinearIndex);
    EXPECT_EQ(root->IsPolling(), 0);
    table.At(0)->StartPollTimer();
    EXPECT_EQ(root->IsPolling(), 1);
    table.At(0)->StopPollTimer();
}

TEST(DescBranch, TraversalLogsAndSums) {
    ParameterTable table;
    Fill(table, {"a", "bad", "c"});
    TreeRecords t;
    t.Branch("root", 2).Param(0).Branch("kid", 2).Param(1).Param(2);
    auto root = BuildTree(table, t.bytes, "");
    Device dev;
    EXPECT_EQ(root->ReadAll(dev), (ListResult{3, 1}));
    EXPECT_EQ(dev.log, (std::vector<std::string>{"Читаем ветвь 'root'", "Читаем ветвь 'kid'"}));

    // Changed-only writing names just the branches that have something to write.
    dev.log.clear();
    table.At(2)->needUpdate = true;
    EXPECT_EQ(root->WriteAll(dev, 0), (ListResult{1, 0}));
    EXPECT_EQ(dev.log, (std::vector<std::string>{"Пишем ветвь 'kid'"}));

    dev.log.clear();
    dev.stop = true;
    EXPECT_EQ(root->CompareAll(dev), (ListResult{0, 0}));
    EXPECT_TRUE(dev.log.empty());
}

TEST(DescBranch, ShowTreeBitRowsFirstRowsAndConnectorsOnce) {
    ParameterTable table;
    Fill(table, {"r.cn", "nPC", "q"});
    TreeRecords t;
    t.Branch("root", 3).Branch("Входы", 1).Param(0).Param(2).Param(1);
    auto root = BuildTree(table, t.bytes, "");
    root->connectors.push_back(std::make_unique<Elements::Connector>("К", "root", "#", "q", 1, 2));
    std::vector<std::string> lines = Show(*root);
    ASSERT_EQ(lines.size(), 13u);
    EXPECT_EQ(lines[2], "  P d.nPC [nPC] first");
    EXPECT_EQ(lines[3], "  P Входы [r.cn]");
    EXPECT_EQ(lines[4], "    S вход 1");
    EXPECT_EQ(lines[11], "    S вход 8");
    EXPECT_EQ(lines[12], "  C К = нет");
    EXPECT_TRUE(root->connectorsShown);
    EXPECT_EQ(Show(*root).size(), 12u);  // connector rows are added once
}

TEST(DescBranch, SerializeKeepsTheDescribedShape) {
    ParameterTable table;
    Fill(table, {"a", "b"});
    TreeRecords t;
    t.Branch("root", 2).Param(0).Branch("kid", 1).Param(1);
    auto root = BuildTree(table, t.bytes, "");
    table.At(0)->value = "1";
    table.At(1)->value = "2";
    root->valueA = 42;
    Archive out;
    root->Serialize(out);

    ParameterTable fresh;
    Fill(fresh, {"a", "b"});
    auto again = BuildTree(fresh, t.bytes, "");
    Archive in(out.Data());
    again->Serialize(in);
    EXPECT_TRUE(in.AtEnd());
    EXPECT_EQ(fresh.At(0)->value, "1");
    EXPECT_EQ(fresh.At(1)->value, "2");
    EXPECT_EQ(again->valueA, 42);
    EXPECT_EQ(again->elementName, "root");
}

TEST(DescBranch, StructureEntriesComeFromMarkedHiddenBranches) {
    ParameterTable table;
    Fill(table, {"c.in:0", "c.in:1", "k.n:0"});
    TreeRecords t;
    t.Branch("hidden", 2)
        .Branch("Входы каналов", 2, 0, 0, StructureTable::kStructureMark + 0)
        .Param(0)
        .Param(1)
        .Branch("Ключи", 1, 0, 0, StructureTable::kStructureMark + 144)
        .Param(2);
    auto root = BuildTree(table, t.bytes, "hidden");
    StructureEntries e = CollectStructure(*root);
    EXPECT_EQ(e[0], table.At(0));
    EXPECT_EQ(e[1], table.At(1));
    EXPECT_EQ(e[2], nullptr);
    EXPECT_EQ(e[144], table.At(2));
}

TEST(DescBranch, InverterBitsFollowTheValue) {
    Parameter p;
    p.name = "Inv.d";
    p.value = "5";
    std::array<std::string, 8> texts;
    ASSERT_TRUE(InverterBitTexts(p, texts));
    EXPECT_EQ(texts[0], "инвертор");
    EXPECT_EQ(texts[1], "повторитель");
    EXPECT_EQ(texts[2], "инвертор");
    EXPECT_EQ(texts[7], "повторитель");
    p.value = "Нет данных";
    EXPECT_FALSE(InverterBitTexts(p, texts));
    p.name = "r.cn";
    p.value = "5";
    EXPECT_FALSE(InverterBitTexts(p, texts));
}

TEST(DescriptionTrees, BuiltOrdinaryThenOperativeThenHidden) {
    struct Timer : PollTimer {
        bool Start(int) override { return true; }
        void Cancel() override {}
    };
    ParameterTable table;
    Fill(table, {"set:0", "rEAd:0", "rEAd:1", "Addr"});
    TreeRecords ordinary, operative, hidden;
    ordinary.Branch("Параметры", 1, 0, 0, 0, 0, 0, 1).Param(0);
    operative.Branch("Опрос", 2, 0, 0, 0, 0, 0, 1).Param(1).Param(2);
    hidden.Branch("Скрытые", 1, 0, 0, 0, 0, 0, 1).Param(3);
    int timers = 0;
    DescriptionTrees trees =
        BuildDescriptionTrees(table, ordinary.bytes, operative.bytes, hidden.bytes, [&] {
            ++timers;
            return std::make_unique<Timer>();
        });
    // Each later tree's marked branch replaces the earlier one: the hidden
    // tree is built last.
    EXPECT_EQ(table.markedBranch, trees.hidden.get());
    EXPECT_EQ(trees.ordinary->elementName, "Параметры");
    EXPECT_EQ(trees.operative->elementName, "Опрос");
    // The operative tree is ready for polling: timers, and no index bytes
    // in its requests.
    EXPECT_EQ(timers, 2);
    for (std::size_t i : {1u, 2u}) {
        EXPECT_NE(table.At(i)->pollTimer, nullptr);
        EXPECT_FALSE(table.At(i)->hasLinearIndex);
    }
    EXPECT_TRUE(table.At(0)->hasLinearIndex);
    EXPECT_EQ(table.At(0)->pollTimer, nullptr);

    // Without a hidden mark the operative tree's mark stands over the
    // ordinary one.
    ParameterTable again;
    Fill(again, {"set:0", "rEAd:0", "rEAd:1", "Addr"});
    TreeRecords plain;
    plain.Branch("Скрытые", 1).Param(3);
    trees = BuildDescriptionTrees(again, ordinary.bytes, operative.bytes, plain.bytes, nullptr);
    EXPECT_EQ(again.markedBranch, trees.operative.get());
    EXPECT_EQ(again.At(1)->pollTimer, nullptr);  // no timer maker, no timers
    EXPECT_FALSE(again.At(1)->hasLinearIndex);
}
