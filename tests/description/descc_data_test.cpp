// Compile, load, compare: the real description sources in data/ are compiled
// into a temporary folder and loaded the way the program loads them.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <functional>
#include <memory>
#include <set>
#include <string>

#include "descc.h"
#include "description/device_description.h"
#include "description/parameter_table.h"
#include "description/structure_table.h"
#include "description/tooltips.h"
#include "description/tree_loader.h"
#include "platform/text.h"

namespace {

namespace fs = std::filesystem;

std::string DataDir() {
#ifdef SELVAR_DATA_SOURCE_DIR
    return SELVAR_DATA_SOURCE_DIR;
#else
    return (fs::path(__FILE__).parent_path().parent_path().parent_path() / "data").string();
#endif
}

// One modification compiled and loaded.
struct Loaded {
    const CDeviceDescription* description = nullptr;
    descc::Modification source;
    ParameterTable table;
    std::unique_ptr<DescBranch> tree;
    std::unique_ptr<DescBranch> operative;
    std::unique_ptr<DescBranch> hidden;
    std::string tooltipPath;

    Parameter* Find(std::string_view name, int index = -1) const { return table.Find(name, index); }
};

class DesccData : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        out_ = fs::temp_directory_path() / ("descc_data_" + std::to_string(::getpid()));
        fs::remove_all(out_);
        for (const char* alias : {"a1", "b4", "b2"}) {
            auto loaded = std::make_unique<Loaded>();
            descc::Diagnostics diag;
            std::optional<descc::Modification> mod = descc::CompileModification(
                (fs::path(DataDir()) / alias).string(), descc::DiskReader(), diag);
            descc::EncodedFiles files;
            bool ok = mod && descc::EncodeModification(*mod, files, diag) &&
                      descc::WriteModification(*mod, files, out_.string(), diag);
            for (const std::string& m : diag.Messages())
                messages_ += m + "\n";
            if (!ok) continue;
            loaded->source = std::move(*mod);
            loaded->description = loaded->source.description;
            const CDeviceDescription& d = *loaded->description;
            auto path = [&](const char* f) { return (out_ / f).string(); };
            if (LoadParameterTable(loaded->table, path(d.parametersFile)) != TableLoadStatus::Ok)
                continue;
            // The document's order: ordinary, operative, hidden.
            loaded->tree = LoadTree(loaded->table, path(d.treeFile), "");
            loaded->operative = LoadTree(loaded->table, path(d.operativeTreeFile), "");
            loaded->hidden = LoadTree(loaded->table, path(d.hiddenTreeFile), "hidden");
            loaded->tooltipPath = path(d.tooltipFile);
            mods_[alias] = std::move(loaded);
        }
    }
    static void TearDownTestSuite() {
        mods_.clear();
        fs::remove_all(out_);
    }

    const Loaded& Mod(const std::string& alias) {
        auto it = mods_.find(alias);
        if (it == mods_.end()) {
            ADD_FAILURE() << alias << " did not compile or load:\n" << messages_;
            static Loaded empty;
            return empty;
        }
        return *it->second;
    }

    static inline fs::path out_;
    static inline std::string messages_;
    static inline std::map<std::string, std::unique_ptr<Loaded>> mods_;
};

int CountParameters(const DescBranch& b) {
    int n = static_cast<int>(b.parameters.size());
    for (const auto& c : b.branches)
        n += CountParameters(*c);
    return n;
}

const DescBranch* FindBranch(const DescBranch& b, std::string_view name) {
    if (b.elementName == name) return &b;
    for (const auto& c : b.branches)
        if (const DescBranch* found = FindBranch(*c, name)) return found;
    return nullptr;
}

bool Linked(const Parameter* p, const Parameter* partner) {
    return p && partner &&
           std::find(p->linked.begin(), p->linked.end(), partner) != p->linked.end();
}

TEST_F(DesccData, CompilesWithoutErrorsOrWarnings) {
    EXPECT_EQ(messages_, "");
    EXPECT_EQ(mods_.size(), 3u);
}

TEST_F(DesccData, CountsOfEachModification) {
    const Loaded& b4 = Mod("b4");
    EXPECT_GE(b4.table.Size(), 1000u);
    EXPECT_EQ(b4.table.Size(), b4.source.table.size());
    EXPECT_GE(CountParameters(*b4.operative), 40);
    EXPECT_LE(CountParameters(*b4.operative), 126);  // the polling limit
    for (const char* alias : {"a1", "b2"}) {
        const Loaded& m = Mod(alias);
        EXPECT_GE(m.table.Size(), 200u) << alias;
        EXPECT_LT(m.table.Size(), b4.table.Size()) << alias;
        EXPECT_GE(CountParameters(*m.operative), 30) << alias;
    }
    EXPECT_EQ(b4.operative->elementName, "Опрос оперативных параметров");
    EXPECT_EQ(b4.tree->elementName, "Параметры прибора");
}

// Every device parameter the program names is described.
TEST_F(DesccData, NamesTheProgramUsesExist) {
    const char* everywhere[] = {
        "n.Err", "dev",   "ver",   "p.ver", "exit",  "bPS",  "LEn",   "PrtY",   "Sbit",
        "A.Len", "Addr",  "pass",  "APLY",  "r.co",  "offs", "str.s", "r-s",    "rEAd",
        "read",  "r.CAL", "rd.rg", "Set.P", "r.OUt", "r.St", "r.oe",  "r.oe.s", "r.cn",
        "Inv.d", "n.Ch",  "del",   "in.sl", "in.sh", "rtC",  "s.w",   "Abor",   "A.i.j"};
    for (const char* alias : {"a1", "b4", "b2"})
        for (const char* name : everywhere)
            EXPECT_NE(Mod(alias).Find(name), nullptr) << alias << ": " << name;
    for (const char* alias : {"b4", "b2"})
        for (const char* name : {"nPC", "r.PrG", "r.StP"})
            EXPECT_NE(Mod(alias).Find(name), nullptr) << alias << ": " << name;
    for (const char* name : {"grtp", "Grtr", "r.kEY"})
        EXPECT_NE(Mod("b4").Find(name), nullptr) << name;
    // Keys belong to one modification only.
    EXPECT_EQ(Mod("a1").Find("r.kEY"), nullptr);
    EXPECT_EQ(Mod("b2").Find("K.n"), nullptr);
}

TEST_F(DesccData, NetworkSettingsHaveTheTypesOfPart25) {
    for (const char* alias : {"a1", "b4", "b2"}) {
        const Loaded& m = Mod(alias);
        ASSERT_NE(m.Find("bPS"), nullptr);
        EXPECT_EQ(m.Find("bPS")->type, "1200:2400:4800:9600:14400:19200:28800:38400:57600:115200");
        EXPECT_EQ(m.Find("LEn")->type, "5:6:7:8");
        EXPECT_EQ(m.Find("PrtY")->type, "Even:Odd:Space:Mark:No Parity");
        EXPECT_EQ(m.Find("Sbit")->type, "1:1.5:2");
        EXPECT_EQ(m.Find("A.Len")->type, "8:11");
        EXPECT_EQ(m.Find("Addr")->type, "DEC dot");
        EXPECT_EQ(m.Find("bPS")->defaultValue, "");  // initialising keeps the link
        // The device's own settings are the marked branch.
        ASSERT_NE(m.table.markedBranch, nullptr) << alias;
        EXPECT_EQ(m.table.markedBranch->elementName, "Сетевые настройки прибора (RS-485)");
        EXPECT_NE(m.table.markedBranch->FindParameter("Addr"), nullptr);
    }
}

TEST_F(DesccData, IdentificationAnswersGiveTheDisplayName) {
    for (const char* alias : {"a1", "b4", "b2"}) {
        const Loaded& m = Mod(alias);
        const descc::Identity& id = m.source.identity;
        std::string key =
            std::string(TrimRight(id.dev)) + "-" + std::string(Utf8Prefix(id.pver, 2));
        EXPECT_EQ(key, m.description->displayName);
        EXPECT_EQ(m.description, FindDeviceDescription(alias));
        for (const char* name : {"dev", "ver", "p.ver"}) {
            const Parameter* p = m.Find(name);
            ASSERT_NE(p, nullptr);
            EXPECT_FALSE(p->writable) << name;
            EXPECT_FALSE(p->hasLinearIndex) << name;
            EXPECT_EQ(p->value, "Нет данных");
        }
        EXPECT_EQ(m.Find("p.ver")->type, "ASCI");
    }
}

TEST_F(DesccData, FieldsOfSomeParameters) {
    const Loaded& b4 = Mod("b4");
    const Parameter* t = b4.Find("in.t", 2);
    ASSERT_NE(t, nullptr);
    EXPECT_EQ(t->description, "Тип датчика входа №3");
    EXPECT_TRUE(t->hasLinearIndex);
    EXPECT_EQ(t->deviceAddress, 0);
    EXPECT_EQ(t->defaultValue, "ТСП 100П");  // the factory index turned back into its label
    EXPECT_TRUE(t->IsEnumeration());
    EXPECT_EQ(t->attributeKind, 1);

    const Parameter* sl = b4.Find("in.sl", 5);
    ASSERT_NE(sl, nullptr);
    EXPECT_EQ(sl->type, "float");
    EXPECT_EQ(sl->decimals, 3);
    EXPECT_EQ(sl->minValue, -10000);
    EXPECT_EQ(sl->maxValue, 10000);
    EXPECT_EQ(sl->defaultValue, "1");

    const Parameter* out = b4.Find("ou.t", 0);
    ASSERT_NE(out, nullptr);
    ASSERT_EQ(out->labelMarks.size(), 5u);
    EXPECT_EQ(out->labelMarks[4], "hr.oe.s");
    EXPECT_EQ(out->type, "Реле:Симистор:Транзисторный ключ:Аналоговый 4-20 мА:Аналоговый 0-10 В");

    const Parameter* co = b4.Find("r.co");
    ASSERT_NE(co, nullptr);
    EXPECT_EQ(co->bindingKind, 7);
    EXPECT_EQ(co->defaultValue, "Сброс");

    const Parameter* attr = b4.Find("L.At", 3);
    ASSERT_NE(attr, nullptr);
    EXPECT_EQ(attr->type,
              "Не редактируемый, Заводской:Редактируемый, Заводской:"
              "Не редактируемый, Пользовательский:Редактируемый, Пользовательский");

    const Parameter* step = b4.Find("St.tm", 16 * 3 + 4);
    ASSERT_NE(step, nullptr);
    EXPECT_EQ(step->description, "Программа №4, шаг №5: длительность");
    EXPECT_EQ(step->attributeKind, 16);

    const Parameter* del = b4.Find("del", 9);
    ASSERT_NE(del, nullptr);
    EXPECT_EQ(del->type, "CLK frm");
    EXPECT_EQ(del->defaultValue, "00:30");

    const Parameter* abor = b4.Find("Abor", 1);
    ASSERT_NE(abor, nullptr);
    EXPECT_EQ(abor->defaultValue, std::to_string(1000u << 16));  // Y 100.0, X 0.0

    // The regulation dialog reads n.Ch at 8 × object.
    for (int k = 0; k < 8; ++k)
        EXPECT_NE(b4.Find("n.Ch", 8 * k), nullptr) << k;
    EXPECT_EQ(b4.Find("n.Ch", 1), nullptr);
    const Parameter* state = b4.Find("r.St");
    ASSERT_NE(state, nullptr);
    EXPECT_EQ(state->IndexToLabel(0), "Стоп");  // a start is pending while the state is label 0
    EXPECT_EQ(state->IndexToLabel(1), "Работа");
}

TEST_F(DesccData, EveryFactoryValueReadsBackForItsType) {
    for (const char* alias : {"a1", "b4", "b2"}) {
        for (const Parameter& p : Mod(alias).table.All()) {
            if (p.defaultValue.empty()) continue;
            if (p.IsEnumeration()) {
                EXPECT_NE(p.defaultValue, "Нет данных") << alias << " " << p.name;
                continue;
            }
            std::uint8_t data[MyConverter::kMaxRawData];
            int count = 0;
            EXPECT_EQ(p.ConvertToData(p.defaultValue, data, count), 1)
                << alias << " " << p.name << ":" << p.linearIndex << " " << p.defaultValue;
        }
    }
}

TEST_F(DesccData, BindingsAfterLoading) {
    const Loaded& b4 = Mod("b4");
    // Kind 1: X, Y with grtp of the same index and the curve defaults.
    Parameter* x0 = b4.Find("X", 0);
    Parameter* grtp0 = b4.Find("grtp", 0);
    ASSERT_TRUE(Linked(x0, grtp0));
    EXPECT_EQ(x0->defaultValue, "-50");
    EXPECT_EQ(b4.Find("Y", 0)->defaultValue, "50");
    EXPECT_EQ(grtp0->defaultValue, "32801268");  // 0x01F481F4
    // Kind 2: the name shows '_' as ' '; Grtr's point 5 has Y = -17.
    Parameter* xr5 = b4.Find("X r", 5);
    Parameter* grtr5 = b4.Find("Grtr", 5);
    ASSERT_NE(xr5, nullptr);
    EXPECT_TRUE(Linked(xr5, grtr5));
    EXPECT_EQ(grtr5->defaultValue, std::to_string((170u | 0x8000u) << 16 | 300u));
    for (const char* alias : {"a1", "b4", "b2"}) {
        const Loaded& m = Mod(alias);
        // Kind 5: the scaled reading, '_' dropped from its name.
        Parameter* v = m.Find("v.in", 1);
        ASSERT_NE(v, nullptr) << alias;
        EXPECT_EQ(v->bindingKind, 5);
        EXPECT_EQ(v->linked.size(), 3u);
        EXPECT_TRUE(Linked(v, m.Find("in.sl", 1)));
        EXPECT_TRUE(Linked(v, m.Find("in.sh", 1)));
        EXPECT_TRUE(Linked(v, m.Find("rEAd", 1)));
        // Kind 6: the local time from the clock and the season.
        Parameter* local = m.Find("t loc");
        ASSERT_NE(local, nullptr) << alias;
        EXPECT_TRUE(Linked(local, m.Find("rtC")));
        EXPECT_TRUE(Linked(local, m.Find("s.w")));
        // Kind 8: the halves of the alarm boundaries.
        Parameter* upper = m.Find("Y A", 1);
        ASSERT_NE(upper, nullptr) << alias;
        EXPECT_TRUE(Linked(upper, m.Find("Abor", 1)));
        EXPECT_EQ(m.Find("X A", 1)->linked.size(), 1u);
        // Kind 7 needs pass.
        EXPECT_EQ(m.Find("pass")->type, "DEC dot");
    }
}

TEST_F(DesccData, OperativeParametersAreAddressedByIndex) {
    for (const char* alias : {"a1", "b4", "b2"}) {
        const Loaded& m = Mod(alias);
        std::function<void(const DescBranch&)> walk = [&](const DescBranch& b) {
            for (const Parameter* p : b.parameters) {
                EXPECT_FALSE(p->writable) << alias << " " << p->name;
                if (p->hasLinearIndex) {
                    EXPECT_EQ(p->deviceAddress, p->linearIndex) << alias << " " << p->name;
                }
            }
            for (const auto& c : b.branches)
                walk(*c);
        };
        walk(*m.operative);
        // ... and in no other tree.
        std::set<const Parameter*> operative;
        std::function<void(const DescBranch&, bool)> collect = [&](const DescBranch& b, bool op) {
            for (const Parameter* p : b.parameters) {
                if (op) {
                    operative.insert(p);
                } else {
                    EXPECT_EQ(operative.count(p), 0u) << alias << " " << p->name;
                }
            }
            for (const auto& c : b.branches)
                collect(*c, op);
        };
        collect(*m.operative, true);
        collect(*m.tree, false);
        collect(*m.hidden, false);
    }
}

TEST_F(DesccData, CollapsedBranchesAndElementNames) {
    for (const char* alias : {"a1", "b4", "b2"}) {
        const Loaded& m = Mod(alias);
        const DescBranch* inv = FindBranch(*m.tree, "Инверсия дискретных входов");
        ASSERT_NE(inv, nullptr) << alias;
        ASSERT_EQ(inv->parameters.size(), 1u);
        EXPECT_EQ(inv->parameters[0]->name, "Inv.d");
        EXPECT_TRUE(inv->branches.empty() && inv->connectors.empty());
        for (const char* name : {"Дискретные входы", "Состояние выходов"}) {
            const DescBranch* b = FindBranch(*m.operative, name);
            ASSERT_NE(b, nullptr) << alias << " " << name;
            EXPECT_EQ(b->parameters.size(), 1u);
        }
        EXPECT_EQ(FindBranch(*m.operative, "Дискретные входы")->parameters[0]->name, "r.cn");
        EXPECT_EQ(FindBranch(*m.operative, "Состояние выходов")->parameters[0]->name, "r.oe.s");
        EXPECT_NE(FindBranch(*m.tree, "Диапазон №1"), nullptr);
        EXPECT_NE(FindBranch(*m.tree, "Диапазон №2"), nullptr);
        // "offs" is skipped by the loader wherever it stands.
        std::function<void(const DescBranch&)> noOffs = [&](const DescBranch& b) {
            for (const Parameter* p : b.parameters)
                EXPECT_NE(p->name, "offs");
            for (const auto& c : b.branches)
                noOffs(*c);
        };
        noOffs(*m.hidden);
    }
    for (const char* alias : {"b4", "b2"})
        for (const char* name : {"Блокировки №1", "Блокировки №2", "Блокировки №3"})
            EXPECT_NE(FindBranch(*Mod(alias).tree, name), nullptr) << alias << " " << name;
    // A curve point's branch holds X and Y.
    const DescBranch* point = FindBranch(*Mod("b4").tree, "Точка №1");
    ASSERT_NE(point, nullptr);
    ASSERT_EQ(point->parameters.size(), 2u);
    EXPECT_EQ(point->parameters[0]->name, "X");
}

TEST_F(DesccData, ConnectorsNameBranchesThatExist) {
    const Loaded& b4 = Mod("b4");
    const DescBranch* channel = FindBranch(*b4.tree, "Канал №3");
    ASSERT_NE(channel, nullptr);
    ASSERT_EQ(channel->connectors.size(), 1u);
    const Elements::Connector& c = *channel->connectors[0];
    EXPECT_EQ(c.selector, "ch.in");
    EXPECT_EQ(c.first, 1);
    EXPECT_EQ(c.last, 8);
    // Every state a connector can show names a branch of the tree.
    std::function<void(const DescBranch&)> walk = [&](const DescBranch& b) {
        for (const auto& con : b.connectors) {
            for (int n = con->first; n <= con->last; ++n) {
                std::string state = con->stateText;
                std::string number = Format(" №%i", n + 1 - con->first);
                std::size_t hash = state.find('#');
                state = hash == std::string::npos ? state + number : state.replace(hash, 1, number);
                EXPECT_NE(FindBranch(*b4.tree, state), nullptr) << b.elementName << ": " << state;
            }
        }
        for (const auto& child : b.branches)
            walk(*child);
    };
    walk(*b4.tree);
}

TEST_F(DesccData, StructureEntries) {
    namespace S = StructureTable;
    for (const char* alias : {"a1", "b4", "b2"}) {
        const Loaded& m = Mod(alias);
        StructureEntries e = CollectStructure(*m.hidden);
        for (std::size_t k = 0; k < S::kChannels; ++k) {
            ASSERT_EQ(e[S::kChannelInputs + k], m.Find("ch.in", static_cast<int>(k))) << alias;
            // Label n (from 1) ends with the input number n: the report reads the last character.
            std::vector<std::string> labels = e[S::kChannelInputs + k]->Labels();
            for (std::size_t n = 1; n < labels.size(); ++n)
                EXPECT_EQ(labels[n].back() - '0', static_cast<int>(n)) << labels[n];
            EXPECT_FALSE(std::isdigit(static_cast<unsigned char>(labels[0].back())));
        }
        for (std::size_t j = 0; j < S::kSwitches * S::kSwitchInputsEach; ++j)
            EXPECT_EQ(e[S::kSwitchInputs + j], m.Find("sw.in", static_cast<int>(j))) << alias;
        for (std::size_t k = 0; k < S::kConverters; ++k) {
            const Parameter* src = e[S::kConverterSources + k];
            ASSERT_EQ(src, m.Find("cv.Src", static_cast<int>(k))) << alias;
            for (const std::string& label : src->Labels())
                EXPECT_TRUE(label == "Отключен" || label.find("Канал ") == 0 ||
                            label.find("Коммутатор ") == 0)
                    << label;
            // The factory source is channel k + 1.
            EXPECT_EQ(src->defaultValue, "Канал " + std::to_string(k + 1));
        }
        EXPECT_EQ(e[S::kLastGroup], m.Find("n.Ch", 0)) << alias;
    }
    // Keys: only Селвар-Б4 fills the key block, the second block and the counts.
    const Loaded& b4 = Mod("b4");
    StructureEntries e = CollectStructure(*b4.hidden);
    for (std::size_t i = 0; i < S::kObjects; ++i) {
        EXPECT_EQ(e[S::kKeyCounts + i], b4.Find("n.K", static_cast<int>(i)));
        EXPECT_EQ(e[S::kLastGroup + i], b4.Find("n.Ch", static_cast<int>(8 * i)));
        for (std::size_t j = 0; j < S::kKeysPerObject; ++j) {
            int index = static_cast<int>(8 * i + j);
            EXPECT_EQ(e[S::kKeyBlock + 8 * i + j], b4.Find("K.n", index));
            EXPECT_EQ(e[S::kSecondBlock + 8 * i + j], b4.Find("K.Md", index));
        }
    }
    EXPECT_EQ(e[S::kKeyBlock]->type, "DEC dot");  // the report reads key numbers as integers
    for (const char* alias : {"a1", "b2"}) {
        StructureEntries other = CollectStructure(*Mod(alias).hidden);
        for (std::size_t i = S::kKeyBlock; i < S::kConverterSources; ++i)
            EXPECT_EQ(other[i], nullptr) << alias << " entry " << i;
    }
}

TEST_F(DesccData, ToolTipsAreFound) {
    const Loaded& b4 = Mod("b4");
    const Parameter* sl = b4.Find("in.sl", 2);
    ASSERT_NE(sl, nullptr);
    std::string comment = FindComment(b4.tooltipPath, *sl);
    EXPECT_EQ(comment.rfind(kCommentPrefix, 0), 0u) << comment;
    EXPECT_NE(comment.find("Множитель"), std::string::npos) << comment;
    // An entry for one index before the entry for any index.
    EXPECT_NE(FindComment(b4.tooltipPath, *b4.Find("in.t", 0)).find("наружной"), std::string::npos);
    EXPECT_EQ(FindComment(b4.tooltipPath, *b4.Find("in.t", 1)).find("наружной"), std::string::npos);
    // Branches (elements) by their names, renamed halves by their new names.
    EXPECT_NE(FindComment(b4.tooltipPath, "Диапазон №1", std::nullopt).find("Нагреватель"),
              std::string::npos);
    EXPECT_NE(FindComment(b4.tooltipPath, *b4.Find("X r", 3)), "");
    // Every operative parameter explains its reading, and the limits of
    // outputs and alarms and the points of the curves have theirs.
    for (const char* alias : {"a1", "b4", "b2"}) {
        const Loaded& m = Mod(alias);
        std::vector<const Parameter*> wanted;
        m.operative->ForEachBranch([&](const DescBranch& b) {
            wanted.insert(wanted.end(), b.parameters.begin(), b.parameters.end());
        });
        for (const char* name : {"Al.hy", "ou.Hi", "ou.Lo", "grtp", "Grtr", "Pr.En"})
            for (const Parameter& p : m.table.All())
                if (p.name == name) wanted.push_back(&p);
        EXPECT_GE(wanted.size(), 40u) << alias;
        for (const Parameter* p : wanted)
            EXPECT_NE(FindComment(m.tooltipPath, *p), "")
                << alias << ' ' << p->name << ':' << p->linearIndex;
    }
    // Most parameters have a comment.
    for (const char* alias : {"a1", "b4", "b2"}) {
        const Loaded& m = Mod(alias);
        std::size_t with = 0;
        for (const Parameter& p : m.table.All())
            with += !FindComment(m.tooltipPath, p).empty();
        EXPECT_GT(with * 10, m.table.Size() * 7)
            << alias << ": " << with << " of " << m.table.Size();
    }
}

}  // namespace
