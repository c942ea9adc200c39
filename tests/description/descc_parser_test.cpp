// The description compiler's source language: expressions, lexer, table and
// tree parsing, and the checks, on good and bad inputs.
#include <gtest/gtest.h>

#include <map>
#include <string>

#include "descc.h"
#include "description/parameter_table.h"
#include "description/tree_loader.h"
#include "expr.h"
#include "lexer.h"

namespace {

using namespace descc;
using Bytes = std::vector<std::uint8_t>;

// A modification folder in memory.
class Sources {
  public:
    Sources() {
        files_["/m/modification.txt"] =
            "display \"Селвар-А1\"\n"
            "answer dev \"Селвар\"\n"
            "answer p.ver \"А1.01\"\n"
            "answer ver \"1.0\"\n"
            "define INPUTS = 2\n";
        files_["/m/parameters.txt"] =
            "n.Err byte ro \"Код ошибки\"\n"                                    // 1
            "dev ASCI ro \"Тип прибора\"\n"                                     // 2
            "p.ver ASCI ro \"Модификация\"\n"                                   // 3
            "ver ASCI ro \"Версия\"\n"                                          // 4
            "in.t[0..INPUTS-1] \"Откл:ТСП 100П\" def=\"ТСП 100П\" attr=1 \\\n"  // 5
            "      \"Тип датчика входа №{i+1}\" cmt=\"Тип датчика\"\n";         // 6
        files_["/m/tree.txt"] =
            "branch \"Параметры прибора\" image=5,6 {\n"  // 1
            "    branch \"Сведения\" marked {\n"          // 2
            "        n.Err\n"                             // 3
            "        dev ro\n"                            // 4
            "        p.ver ro\n"                          // 5
            "        ver ro\n"                            // 6
            "    }\n"                                     // 7
            "    for k in 0..INPUTS-1 {\n"                // 8
            "        branch \"Вход №{k+1}\" image=7 {\n"  // 9
            "            in.t:{k}\n"                      // 10
            "        }\n"                                 // 11
            "    }\n"                                     // 12
            "}\n";
        files_["/m/operative.txt"] = "branch \"Опрос оперативных параметров\" {\n}\n";
        files_["/m/hidden.txt"] = "branch \"Скрытые\" {\n}\n";
    }

    std::string& operator[](const std::string& name) { return files_["/m/" + name]; }

    FileReader Reader() const {
        return [this](const std::string& path) -> std::optional<std::string> {
            auto it = files_.find(path);
            if (it == files_.end()) return std::nullopt;
            return it->second;
        };
    }

    std::optional<Modification> Compile(Diagnostics& diag) const {
        return CompileModification("/m", Reader(), diag);
    }

  private:
    std::map<std::string, std::string> files_;
};

std::string AllMessages(const Diagnostics& d) {
    std::string text;
    for (const std::string& m : d.Messages())
        text += m + "\n";
    return text;
}

// Compiles and expects one error mentioning `text`.
void ExpectError(const Sources& s, const std::string& text) {
    Diagnostics diag;
    EXPECT_FALSE(s.Compile(diag).has_value()) << "compiled despite: " << text;
    EXPECT_TRUE(diag.Mentions(text)) << "wanted \"" << text << "\", got:\n" << AllMessages(diag);
}

// ---------------------------------------------------------------------------
// Expressions

TEST(DesccExpr, EvaluatesArithmeticNamesAndComparisons) {
    std::map<std::string, std::int64_t> constants = {{"STEPS", 16}};
    Env env = Env(&constants).With("i", 37);
    std::int64_t v = 0;
    std::string error;
    ASSERT_TRUE(Evaluate("i/STEPS+1", env, v, error)) << error;
    EXPECT_EQ(v, 3);
    ASSERT_TRUE(Evaluate("i%STEPS+1", env, v, error));
    EXPECT_EQ(v, 6);
    ASSERT_TRUE(Evaluate("-(2 + 3) * 4", env, v, error));
    EXPECT_EQ(v, -20);
    ASSERT_TRUE(Evaluate("i%8==5", env, v, error));
    EXPECT_EQ(v, 1);
    ASSERT_TRUE(Evaluate("(i<INPUTS)", env.With("INPUTS", 8), v, error));
    EXPECT_EQ(v, 0);

    EXPECT_FALSE(Evaluate("i/0", env, v, error));
    EXPECT_NE(error.find("division by zero"), std::string::npos);
    EXPECT_FALSE(Evaluate("k+1", env, v, error));
    EXPECT_NE(error.find("unknown name 'k'"), std::string::npos);
    EXPECT_FALSE(Evaluate("1+", env, v, error));
    EXPECT_FALSE(Evaluate("(1", env, v, error));
    EXPECT_FALSE(Evaluate("1 2", env, v, error));
}

TEST(DesccExpr, ExpandsTemplates) {
    Env env = Env().With("k", 2);
    std::string out;
    std::string error;
    ASSERT_TRUE(Expand("Вход №{k+1}", env, out, error));
    EXPECT_EQ(out, "Вход №3");
    ASSERT_TRUE(Expand("{{literal}} {k}", env, out, error));
    EXPECT_EQ(out, "{literal} 2");
    EXPECT_FALSE(Expand("Вход {k", env, out, error));
    EXPECT_FALSE(Expand("Вход k}", env, out, error));
}

TEST(DesccExpr, IndexLists) {
    std::map<std::string, std::int64_t> constants = {{"N", 8}};
    Env env(&constants);
    std::vector<int> v;
    std::string error;
    ASSERT_TRUE(ParseIndexList("0..N-1", env, v, error)) << error;
    EXPECT_EQ(v, (std::vector<int>{0, 1, 2, 3, 4, 5, 6, 7}));
    ASSERT_TRUE(ParseIndexList("0..56:8", env, v, error));
    EXPECT_EQ(v, (std::vector<int>{0, 8, 16, 24, 32, 40, 48, 56}));
    ASSERT_TRUE(ParseIndexList("0..1,5,8..9", env, v, error));
    EXPECT_EQ(v, (std::vector<int>{0, 1, 5, 8, 9}));
    ASSERT_TRUE(ParseIndexList("N..N-1", env, v, error));
    EXPECT_TRUE(v.empty());
    EXPECT_FALSE(ParseIndexList("0..5:0", env, v, error));
    EXPECT_FALSE(ParseIndexList("-1", env, v, error));
    EXPECT_FALSE(ParseIndexList("0,,1", env, v, error));
}

// ---------------------------------------------------------------------------
// Lexer

TEST(DesccLexer, WordsQuotesCommentsAndContinuations) {
    Diagnostics diag;
    std::string text =
        "# a comment line\n"
        "in.t[0..7] \"Выкл:Вкл\" cmt=\"a \\\"b\\\" c\" \"Тип #1\"  # trailing\n"
        "enum e = a:b:\\\n"
        "         c d\n"
        "x y \\\n"
        "   z\n";
    std::vector<SourceLine> lines = ReadSourceText("/t.txt", text, nullptr, diag);
    ASSERT_TRUE(diag.Ok()) << AllMessages(diag);
    ASSERT_EQ(lines.size(), 3u);
    const auto& t = lines[0].tokens;
    EXPECT_EQ(lines[0].loc.line, 2);
    ASSERT_EQ(t.size(), 4u);
    EXPECT_EQ(t[0].text, "in.t[0..7]");
    EXPECT_FALSE(t[0].quoted);
    EXPECT_EQ(t[1].text, "Выкл:Вкл");
    EXPECT_TRUE(t[1].quoted);
    EXPECT_EQ(t[2].text, "cmt=a \"b\" c");
    EXPECT_FALSE(t[2].quoted);
    EXPECT_EQ(t[3].text, "Тип #1");
    // A backslash glued to a word joins the next line's first word to it.
    EXPECT_EQ(lines[1].loc.line, 3);
    ASSERT_EQ(lines[1].tokens.size(), 5u);
    EXPECT_EQ(lines[1].tokens[3].text, "a:b:c");
    // After a blank, a blank separates.
    ASSERT_EQ(lines[2].tokens.size(), 3u);
    EXPECT_EQ(lines[2].tokens[2].text, "z");
}

TEST(DesccLexer, UnterminatedQuoteIsReportedWithItsLine) {
    Diagnostics diag;
    ReadSourceText("/t.txt", "a b\nc \"open\n", nullptr, diag);
    EXPECT_TRUE(diag.Mentions("/t.txt:2: error: unterminated quoted text")) << AllMessages(diag);
}

TEST(DesccLexer, IncludesSpliceFilesAndRefuseCycles) {
    std::map<std::string, std::string> files = {
        {"/d/a.txt", "one\ninclude sub/b.txt\nthree\n"},
        {"/d/sub/b.txt", "two\ninclude ../a.txt\n"},
    };
    FileReader reader = [&](const std::string& p) -> std::optional<std::string> {
        auto it = files.find(p);
        return it == files.end() ? std::nullopt : std::optional<std::string>(it->second);
    };
    Diagnostics diag;
    std::vector<SourceLine> lines = ReadSource("/d/a.txt", reader, diag);
    EXPECT_TRUE(diag.Mentions("/d/sub/b.txt:2: error: include cycle")) << AllMessages(diag);
    std::vector<std::string> words;
    for (const SourceLine& l : lines)
        if (l.kind == LineKind::Normal) words.push_back(l.loc.Text() + " " + l.tokens[0].text);
    EXPECT_EQ(words, (std::vector<std::string>{"/d/a.txt:1 one", "/d/sub/b.txt:1 two",
                                               "/d/a.txt:3 three"}));

    Diagnostics missing;
    ReadSourceText("/d/c.txt", "include nowhere.txt\n", reader, missing);
    EXPECT_TRUE(missing.Mentions("/d/c.txt:1: error: cannot read included file /d/nowhere.txt"));
}

// ---------------------------------------------------------------------------
// A whole modification

TEST(DesccCompile, BaselineCompilesAndLoads) {
    Sources s;
    Diagnostics diag;
    std::optional<Modification> mod = s.Compile(diag);
    ASSERT_TRUE(mod.has_value()) << AllMessages(diag);
    EXPECT_EQ(diag.WarningCount(), 0u) << AllMessages(diag);
    ASSERT_EQ(mod->table.size(), 6u);
    EXPECT_EQ(mod->table[4].fields.description, "Тип датчика входа №1");
    EXPECT_EQ(mod->table[5].fields.index, 1);
    EXPECT_EQ(mod->table[5].fields.type, "Откл:ТСП_100П");
    EXPECT_EQ(mod->table[5].fields.factory, "1");  // data form: the label's index
    EXPECT_EQ(mod->table[5].fields.value, "Нет данных");
    ASSERT_EQ(mod->tooltips.size(), 1u);  // one comment for both inputs
    EXPECT_EQ(mod->tooltips[0].name, "in.t");
    EXPECT_EQ(mod->tooltips[0].index, -1);

    EncodedFiles files;
    ASSERT_TRUE(EncodeModification(*mod, files, diag)) << AllMessages(diag);
    Bytes gz;
    ASSERT_TRUE(DescriptionWriter::GzipMember(files.table, gz, nullptr));
    ParameterTable table;
    ASSERT_EQ(LoadParameterTableFromMemory(table, gz, "t"), TableLoadStatus::Ok);
    ASSERT_EQ(table.Size(), 6u);
    EXPECT_EQ(table.At(5)->defaultValue, "ТСП 100П");
    EXPECT_EQ(table.At(5)->type, "Откл:ТСП 100П");
    auto root = BuildTree(table, files.tree, "");
    EXPECT_EQ(root->elementName, "Параметры прибора");
    ASSERT_EQ(root->branches.size(), 3u);
    EXPECT_EQ(root->branches[2]->elementName, "Вход №2");
    EXPECT_EQ(root->branches[2]->valueB, 7);
    ASSERT_EQ(root->branches[2]->parameters.size(), 1u);
    EXPECT_EQ(root->branches[2]->parameters[0], table.At(5));
    EXPECT_EQ(table.markedBranch, root->branches[0].get());
}

TEST(DesccCompile, ErrorsInTheTableNameFileAndLine) {
    struct Case {
        const char* line;
        const char* error;
    };
    const Case cases[] = {
        {"xx foo \"d\"", "unknown type 'foo'"},
        {"xx byte dec=abc \"d\"", "dec: unknown name 'abc'"},
        {"xx byte dec=7 \"d\"", "dec 7 outside 0..3"},
        {"abcdefghi byte \"d\"", "bad parameter name 'abcdefghi'"},
        {"xx byte", "expected: NAME[INDEXES] TYPE"},
        {"xx byte range=1..x \"d\"", "bad range '1..x'"},
        {"xx byte range=5..1 \"d\"", "bounds reversed"},
        {"xx byte bogus=1 \"d\"", "unknown option 'bogus=1'"},
        {"xx byte ro", "the quoted description is missing"},
        {"xx byte \"d\" \"e\"", "more than one quoted text"},
        {"xx byte def=300 \"d\"", "needs an integer in 0..255"},
        {"xx float range=0..10 def=11 \"d\"", "outside the range"},
        {"xx \"Выкл:Вкл\" def=Авто \"d\"", "is none of the labels"},
        {"xx \"Выкл::Вкл\" \"d\"", "label 1 is empty"},
        {"xx @nothing \"d\"", "unknown enumeration @nothing"},
        {"xx[0..3] byte addr \"d\"", ""},  // fine: addr with indexes 0..7
        {"xx[8] byte addr \"d\"", "index 8 is sent in the address"},
        {"xx byte force \"d\"", "'force' needs a factory value"},
        {"xx ASCI def=abc \"d\"", "cannot be written"},
    };
    for (const Case& c : cases) {
        Sources s;
        s["parameters.txt"] += std::string(c.line) + "\n";  // line 7
        s["tree.txt"] = s["tree.txt"].substr(0, s["tree.txt"].rfind('}')) +
                        (std::string(c.line).rfind("xx[", 0) == 0 ? "xx:*\n}\n" : "xx\n}\n");
        Diagnostics diag;
        bool ok = s.Compile(diag).has_value();
        if (*c.error == 0) {
            EXPECT_TRUE(ok) << c.line << "\n" << AllMessages(diag);
            continue;
        }
        EXPECT_FALSE(ok) << c.line;
        EXPECT_TRUE(diag.Mentions("/m/parameters.txt:7: error:")) << c.line << "\n"
                                                                  << AllMessages(diag);
        EXPECT_TRUE(diag.Mentions(c.error)) << c.line << "\n" << AllMessages(diag);
    }
}

TEST(DesccCompile, TextTooLongForItsField) {
    Sources s;
    s["parameters.txt"] += "xx byte \"" + std::string(300, 'a') + "\"\n";
    s["tree.txt"] =
        "branch \"r\" {\n branch \"m\" marked {\n  n.Err\n  dev\n  p.ver\n  ver\n  xx\n  in.t:*\n "
        "}\n}\n";
    ExpectError(s, "/m/parameters.txt:7: error: xx: description: ");
    ExpectError(s, "300 bytes long, the field holds at most 255");
}

TEST(DesccCompile, DuplicatesSpellingAndIndexing) {
    Sources s;
    s["parameters.txt"] += "in.t[1] byte \"again\"\n";
    ExpectError(s,
                "/m/parameters.txt:7: error: duplicate parameter in.t:1 (first at "
                "/m/parameters.txt:5)");

    Sources spelled;
    spelled["parameters.txt"] += "IN.T[5] \"Откл:ТСП\" \"other\"\n";
    ExpectError(spelled, "'IN.T' is spelled 'in.t'");

    Sources mixed;
    mixed["parameters.txt"] += "in.t \"Откл:ТСП\" \"plain\"\n";
    ExpectError(mixed, "is indexed in one place and not in another");
}

TEST(DesccCompile, NamesThatHashAlikeAreRefused) {
    Sources s;
    // Only four coded characters count: "abcde" hashes as "abcd".
    s["parameters.txt"] += "abcd byte \"d\"\nabcde byte \"e\"\n";
    ExpectError(s, "/m/parameters.txt:8: error: 'abcde' has the name hash");
}

TEST(DesccCompile, BindingPartnersMustExist) {
    Sources s;
    s["parameters.txt"] += "X[0] float bind=1 \"x\"\n";
    ExpectError(s, "/m/parameters.txt:7: error: X:0: binding kind 1 needs grtp:0 in the table");

    Sources five;
    five["parameters.txt"] += "v.in_[0] float bind=5 \"v\"\nin.sl[0] float \"s\"\n";
    ExpectError(five, "needs in.sh:0");
    ExpectError(five, "needs read:0");

    Sources unindexed;
    unindexed["parameters.txt"] += "Y byte bind=8 \"y\"\n";
    ExpectError(unindexed, "Y: binding kind 8 looks its partners up by the parameter's own index");

    Sources named;
    named["parameters.txt"] += "grtp[0] DWORD \"p\"\nZ[0] float bind=1 \"z\"\n";
    ExpectError(named, "is named from 'X' or 'Y'");

    Sources typed;
    typed["parameters.txt"] += "grtp[0] float \"p\"\nX[0] float bind=1 \"x\"\n";
    ExpectError(typed, "grtp: a packed coordinate pair is a DWORD");

    Sources curveDefault;
    curveDefault["parameters.txt"] += "grtp[0] DWORD \"p\"\nX[0] float bind=1 def=5 \"x\"\n";
    ExpectError(curveDefault, "the factory value of a curve point comes from its binding");
}

TEST(DesccCompile, EnumsDefaultsAndFactoryForms) {
    Sources s;
    s["parameters.txt"] +=
        "enum src = Отключен\n"                                // 7
        "enum src += Канал {k} for k in 1..3\n"                // 8
        "default attr=1 owner=1\n"                             // 9
        "cv.Src[0..2] @src def=#{i+1} \"Источник {i+1}\"\n"    // 10
        "Abor[0] DWORD def=pair(-12.5,3) \"pair\"\n"           // 11
        "del[0] CLK_frm range=0..5999 def=01:30 \"delay\"\n";  // 12
    s["tree.txt"] =
        s["tree.txt"].substr(0, s["tree.txt"].rfind('}')) + "cv.Src:*\nAbor:0\ndel:0\n}\n";
    Diagnostics diag;
    std::optional<Modification> mod = s.Compile(diag);
    ASSERT_TRUE(mod.has_value()) << AllMessages(diag);
    const auto& t = mod->table;
    ASSERT_EQ(t.size(), 11u);
    EXPECT_EQ(t[6].fields.type, "Отключен:Канал_1:Канал_2:Канал_3");
    EXPECT_EQ(t[6].fields.factory, "1");
    EXPECT_EQ(t[8].fields.factory, "3");
    EXPECT_EQ(t[8].fields.attributeKind, 1);
    EXPECT_EQ(t[8].fields.owner, 1);
    // Y = -12.5 → 125 | 0x8000 in the high half, X = 3 → 30 in the low half.
    EXPECT_EQ(t[9].fields.factory, std::to_string((125u | 0x8000u) << 16 | 30u));
    EXPECT_EQ(t[10].fields.factory, "01:30");
}

TEST(DesccCompile, ErrorsInTheTrees) {
    auto treeWith = [](const std::string& extra) {
        Sources s;
        s["tree.txt"] = s["tree.txt"].substr(0, s["tree.txt"].rfind('}')) + extra + "}\n";
        return s;  // the extra text starts at line 13
    };
    ExpectError(treeWith("zz\n"), "/m/tree.txt:13: error: unknown parameter 'zz'");
    ExpectError(treeWith("in.t\n"), "/m/tree.txt:13: error: 'in.t' is indexed");
    ExpectError(treeWith("in.t:5\n"), "/m/tree.txt:13: error: unknown parameter in.t:5");
    ExpectError(treeWith("dev:0\n"), "'dev' has no index");
    // The new branch takes the root's '}', so the root is the one left open.
    ExpectError(treeWith("branch \"x\" {\n"),
                "/m/tree.txt:1: error: the block opened here is not closed");
    ExpectError(treeWith("}\n"), "/m/tree.txt:14: error: '}' without an open branch");
    ExpectError(treeWith("branch \"x\" marked {\n}\n"),
                "/m/tree.txt:13: error: a second marked branch");
    ExpectError(treeWith("branch \"x\" structure=3 {\n}\n"),
                "structure= belongs in the hidden tree");
    ExpectError(treeWith("branch \"x\" image=a {\n}\n"),
                "/m/tree.txt:13: error: image: unknown name 'a'");
    ExpectError(treeWith("branch \"x\" {\n in.t:0\n connector \"s\" \"Вход#\" ch.in 1..8\n}\n"),
                "/m/tree.txt:15: error: connector selector 'ch.in' names no parameter");
    ExpectError(treeWith("connector \"s\" \"x#\" in.t 3..1\n"),
                "connector states 3..1 are reversed");
    ExpectError(treeWith("in.t:0 range=0..0\n"), "range 0..0 would keep the table's range");
    ExpectError(treeWith("in.t:0 \"a\"\n"), "label \"a\" differs from \"\"");
    ExpectError(treeWith("for k in 0..1 {\n in.t:{j}\n}\n"),
                "/m/tree.txt:14: error: unknown name 'j'");

    Sources unmarked;
    unmarked["tree.txt"] = "branch \"r\" {\n n.Err\n dev\n p.ver\n ver\n in.t:*\n}\n";
    ExpectError(unmarked, "no branch is marked");

    Sources tworoots;
    tworoots["hidden.txt"] = "branch \"a\" {\n}\nbranch \"b\" {\n}\n";
    ExpectError(tworoots, "/m/hidden.txt:3: error: a second root branch in the hidden tree");

    Sources empty;
    empty["operative.txt"] = "# nothing\n";
    ExpectError(empty, "the operative tree has no root branch");
}

TEST(DesccCompile, HiddenAndOperativeRules) {
    Sources ro;
    ro["hidden.txt"] = "branch \"h\" {\n dev ro\n}\n";
    ExpectError(ro, "/m/hidden.txt:2: error: dev: 'ro' has no effect in the hidden tree");

    Sources overlap;
    overlap["hidden.txt"] =
        "branch \"h\" {\n"
        " branch \"a\" structure=0 {\n  in.t:*\n }\n"
        " branch \"b\" structure=1 {\n  in.t:0\n }\n"
        "}\n";
    ExpectError(overlap,
                "/m/hidden.txt:5: error: structure entry 1 is also given by the branch at "
                "/m/hidden.txt:2");

    Sources past;
    past["hidden.txt"] = "branch \"h\" {\n branch \"a\" structure=167 {\n  in.t:*\n }\n}\n";
    ExpectError(past, "structure entries 167..168 run past the table's 168");

    Sources noaddr;
    noaddr["parameters.txt"] += "rEAd[0..1] float ro \"r\"\n";
    noaddr["operative.txt"] = "branch \"o\" {\n rEAd:*\n}\n";
    ExpectError(noaddr,
                "/m/parameters.txt:7: error: rEAd:0 is operative and indexed: give it 'addr'");

    Sources both;
    both["operative.txt"] = "branch \"o\" {\n in.t:0\n}\n";
    ExpectError(both, "in.t:0 is both operative and in another tree");

    Sources twice;
    twice["parameters.txt"] +=
        "rtC datetime \"c\"\ns.w \"З:Л\" \"s\"\nt_loc datetime ro bind=6 \"t\"\n";
    twice["tree.txt"] =
        twice["tree.txt"].substr(0, twice["tree.txt"].rfind('}')) + "rtC\ns.w\nt_loc\nt_loc\n}\n";
    ExpectError(twice, "/m/tree.txt:16: error: t_loc (binding kind 6) is referenced again");
}

TEST(DesccCompile, IdentificationMustGiveTheDisplayName) {
    Sources s;
    s["modification.txt"] =
        "display \"Селвар-А1\"\nanswer dev \"Селвар\"\nanswer p.ver \"Б4.1\"\n"
        "answer ver \"1\"\ndefine INPUTS = 2\n";
    ExpectError(s,
                "the identification key Селвар-Б4 (dev \"-\" first two characters of p.ver) is "
                "not the display name Селвар-А1");

    Sources unknown;
    unknown["modification.txt"] =
        "display \"Селвар-Я9\"\nanswer dev \"Селвар\"\n"
        "answer p.ver \"Я9\"\nanswer ver \"1\"\ndefine INPUTS = 2\n";
    ExpectError(unknown, "/m/modification.txt:1: error: unknown modification \"Селвар-Я9\"");

    Sources writable;
    writable["parameters.txt"].replace(writable["parameters.txt"].find("dev ASCI ro"), 11,
                                       "dev ASCI");
    ExpectError(writable, "/m/parameters.txt:2: error: dev cannot be written: give it 'ro'");

    Sources missing;
    missing["parameters.txt"].erase(0, missing["parameters.txt"].find("dev ASCI"));
    missing["tree.txt"].replace(missing["tree.txt"].find("n.Err\n"), 6, "");
    ExpectError(missing, "the connection check needs the parameter n.Err");
}

TEST(DesccCompile, CommentsOrderAndText) {
    Sources s;
    s["comments.txt"] = "in.t:1  Второй вход\n\"Вход №1\" Первый вход\n";
    Diagnostics diag;
    std::optional<Modification> mod = s.Compile(diag);
    ASSERT_TRUE(mod.has_value()) << AllMessages(diag);
    ASSERT_EQ(mod->tooltips.size(), 3u);
    EXPECT_EQ(mod->tooltips[0].name, "in.t");
    EXPECT_EQ(mod->tooltips[0].index, 1);
    EXPECT_EQ(mod->tooltips[1].name, "Вход №1");
    EXPECT_EQ(mod->tooltips[2].index, -1);

    // Lines that give only some instances of a name key their comments by index.
    Sources split;
    split["parameters.txt"] += "xx[0] byte cmt=\"first\" \"d\"\nxx[1..2] byte cmt=\"rest\" \"d\"\n";
    split["tree.txt"] = split["tree.txt"].substr(0, split["tree.txt"].rfind('}')) + "xx:*\n}\n";
    std::optional<Modification> splitMod = split.Compile(diag);
    ASSERT_TRUE(splitMod.has_value()) << AllMessages(diag);
    std::vector<std::string> keys;
    for (const auto& e : splitMod->tooltips)
        keys.push_back(e.name + ":" + std::to_string(e.index) + " " + e.comment);
    EXPECT_EQ(keys, (std::vector<std::string>{"in.t:-1 Тип датчика", "xx:0 first", "xx:1 rest",
                                              "xx:2 rest"}));

    // An entry for one index after the entry for any index would never be found.
    Sources shadowed;
    shadowed["comments.txt"] = "dev  Любой\nin.t  Любой вход\nin.t:1  Второй вход\n";
    ExpectError(shadowed,
                "/m/comments.txt:3: error: the comment for in.t:1 comes after the one "
                "for any index of in.t (/m/comments.txt:2) and would never be found");

    // A branch and a parameter of one name share their entries.
    Sources late;
    late["parameters.txt"] += "xx[0..1] byte cmt=\"any\" \"d\"\n";
    late["tree.txt"] = late["tree.txt"].substr(0, late["tree.txt"].rfind('}')) + "xx:*\n}\n";
    const std::string from = "\"Вход №{k+1}\" image=7";
    late["tree.txt"].replace(late["tree.txt"].find(from), from.size(),
                             "\"xx\" cmt=\"branch\" image=7");
    ExpectError(late, "a second comment for xx");

    Sources underscore;
    underscore["comments.txt"] = "in.t:0 a_b\n";
    ExpectError(underscore, "/m/comments.txt:1: error: tool-tip comment \"a_b\": holds '_'");
}

TEST(DesccCompile, DefaultsAreScopedByIncludes) {
    Sources s;
    s["parameters.txt"] = "default attr=1\ninclude inc.txt\n" + s["parameters.txt"];
    s["inc.txt"] = "default attr=2\n";
    Diagnostics diag;
    std::optional<Modification> mod = s.Compile(diag);
    ASSERT_TRUE(mod.has_value()) << AllMessages(diag);
    EXPECT_EQ(mod->table[0].fields.attributeKind, 1);  // the includer's default is back
}

}  // namespace
