#include <algorithm>
#include <filesystem>
#include <functional>
#include <map>
#include <set>
#include <sstream>

#include "descc.h"
#include "description/record_layout.h"
#include "parse_util.h"
#include "platform/codepage.h"
#include "platform/text.h"
#include "structure_limits.h"
#include "table.h"
#include "tree.h"
#include "types.h"

namespace descc {

namespace {

namespace fs = std::filesystem;
using DescriptionWriter::TooltipEntry;

constexpr std::size_t kMaxPolled = 126;    // two polling threads of 63 timers
constexpr std::size_t kMaxFrameData = 15;  // data bytes of one frame

std::string Path(const std::string& folder, const char* file) {
    return (fs::path(folder) / file).string();
}

std::string Lower(std::string_view s) {
    return ToLowerUtf8(s);
}

std::string RefName(const ParamRecord& r) {
    return r.fields.index >= 0 ? r.name + ":" + std::to_string(r.fields.index) : r.name;
}

// modification.txt: display name, the identification answers, constants.
void ParseModificationFile(const std::vector<SourceLine>& lines, Modification& mod,
                           Diagnostics& diag) {
    for (const SourceLine& line : lines) {
        if (line.kind != LineKind::Normal) continue;
        if (HandleDefine(line, mod, diag)) continue;
        const auto& t = line.tokens;
        const std::string& word = t[0].quoted ? std::string() : t[0].text;
        if (word == "display" && t.size() == 2) {
            mod.identity.displayName = t[1].text;
            mod.identity.loc = line.loc;
        } else if (word == "answer" && t.size() == 3) {
            const std::string& what = t[1].text;
            std::string* target = what == "dev"     ? &mod.identity.dev
                                  : what == "p.ver" ? &mod.identity.pver
                                  : what == "ver"   ? &mod.identity.ver
                                                    : nullptr;
            if (!target) {
                diag.Error(line.loc, "answer for dev, p.ver or ver expected, not " + what);
                continue;
            }
            *target = t[2].text;
        } else {
            diag.Error(line.loc,
                       "expected: display \"NAME\", answer dev|p.ver|ver \"TEXT\" or "
                       "define NAME = EXPRESSION");
        }
    }
}

// comments.txt: KEY TEXT..., KEY being NAME, NAME:INDEX or a quoted branch name.
void ParseComments(const std::vector<SourceLine>& lines, Modification& mod,
                   std::vector<std::pair<Location, TooltipEntry>>& out, Diagnostics& diag) {
    Env env(&mod.constants);
    for (const SourceLine& line : lines) {
        if (line.kind != LineKind::Normal) continue;
        if (HandleDefine(line, mod, diag)) continue;
        if (line.tokens.size() < 2) {
            diag.Error(line.loc,
                       "expected: KEY comment text (KEY: NAME, NAME:INDEX or \"branch\")");
            continue;
        }
        TooltipEntry e;
        std::string key;
        if (!ExpandAt(line.loc, line.tokens[0].text, env, key, diag)) continue;
        if (!line.tokens[0].quoted) {
            if (std::size_t colon = key.find(':'); colon != std::string::npos) {
                std::int64_t index = 0;
                if (!IntAt(line.loc, "comment index", key.substr(colon + 1), env, 0, 0x7FFF, index,
                           diag))
                    continue;
                e.index = static_cast<std::int32_t>(index);
                key.resize(colon);
            }
        }
        e.name = key;
        if (!ExpandAt(line.loc, JoinTokens(line, 1), env, e.comment, diag)) continue;
        out.emplace_back(line.loc, std::move(e));
    }
}

// ---------------------------------------------------------------------------
// Checks over the trees.

struct Reference {
    TreeKind tree;
    const TreeNode* node;
};

class TreeChecker {
  public:
    TreeChecker(const Modification& mod, Diagnostics& diag) : mod_(mod), diag_(diag) {}

    void Run() {
        Walk(mod_.tree, TreeKind::Ordinary);
        Walk(mod_.operative, TreeKind::Operative);
        Walk(mod_.hidden, TreeKind::Hidden);
        References();
        if (marked_.empty())
            diag_.Error(Location{mod_.folder, 0},
                        "no branch is marked (one branch, the device's own, carries 'marked')");
        for (std::size_t i = 1; i < marked_.size(); ++i)
            diag_.Error(marked_[i]->loc,
                        "a second marked branch (the first is at " + marked_[0]->loc.Text() + ")");
    }

  private:
    void Walk(const TreeNode& branch, TreeKind kind) {
        if (branch.branch.marked) marked_.push_back(&branch);
        if (branch.structure >= 0) Structure(branch);
        for (const TreeNode& child : branch.children) {
            switch (child.kind) {
                case TreeNode::Kind::Branch:
                    Walk(child, kind);
                    break;
                case TreeNode::Kind::Parameter:
                    refs_[static_cast<std::size_t>(child.ref.tableIndex)].push_back({kind, &child});
                    break;
                case TreeNode::Kind::Connector:
                    Connector(branch, child);
                    break;
            }
        }
    }

    // The state of a connector is computed from the parameters named by its
    // selector in the branch and its subtree.
    void Connector(const TreeNode& branch, const TreeNode& node) {
        const auto& c = node.connector;
        bool found = false;
        std::function<void(const TreeNode&)> look = [&](const TreeNode& b) {
            for (const TreeNode& child : b.children) {
                if (child.kind == TreeNode::Kind::Branch) look(child);
                if (child.kind != TreeNode::Kind::Parameter) continue;
                const ParamRecord& r = mod_.table[static_cast<std::size_t>(child.ref.tableIndex)];
                if (!EqualsNoCase(r.finalName, c.selector)) continue;
                found = true;
                bool usable = r.typeName.empty() || r.typeName == "DEC dot";
                if (!usable)
                    diag_.Error(node.loc, "connector selector " + c.selector + " is a " +
                                              r.typeName +
                                              ": the state is read from an enumeration or DEC dot");
            }
        };
        look(branch);
        if (!found)
            diag_.Error(node.loc, "connector selector '" + c.selector +
                                      "' names no parameter of "
                                      "branch \"" +
                                      branch.branch.name + "\" or its subtree");
    }

    void Structure(const TreeNode& branch) {
        std::size_t count = 0;
        for (const TreeNode& child : branch.children) {
            if (child.kind != TreeNode::Kind::Parameter) continue;
            const ParamRecord& r = mod_.table[static_cast<std::size_t>(child.ref.tableIndex)];
            if (r.name == "offs")
                diag_.Error(child.loc,
                            "offs in a structure branch: the loader skips it, and the "
                            "entries after it would move");
            ++count;
        }
        auto first = static_cast<std::size_t>(branch.structure);
        if (count == 0) diag_.Warning(branch.loc, "structure branch without parameters");
        if (first + count > kStructureSize) {
            diag_.Error(branch.loc, Format("structure entries %zu..%zu run past the table's %zu",
                                           first, first + count - 1, kStructureSize));
            return;
        }
        for (std::size_t e = first; e < first + count; ++e) {
            auto [it, fresh] = structure_.emplace(e, &branch);
            if (!fresh) {
                diag_.Error(branch.loc, Format("structure entry %zu is also given by the branch "
                                               "at %s",
                                               e, it->second->loc.Text().c_str()));
                return;
            }
        }
    }

    static bool IsComposite(int kind) {
        return kind == 1 || kind == 2 || kind == 5 || kind == 6 || kind == 8;
    }

    void References() {
        std::size_t polled = 0;
        for (std::size_t i = 0; i < mod_.table.size(); ++i) {
            const ParamRecord& r = mod_.table[i];
            auto it = refs_.find(i);
            if (it == refs_.end()) {
                diag_.Warning(r.loc, RefName(r) + " is in no tree");
                continue;
            }
            const std::vector<Reference>& refs = it->second;
            const Reference& first = refs.front();
            bool operative = false;
            bool other = false;
            for (const Reference& ref : refs) {
                (ref.tree == TreeKind::Operative ? operative : other) = true;
                if (&ref == &first) continue;
                if (ref.node->ref.label != first.node->ref.label)
                    diag_.Error(ref.node->loc,
                                RefName(r) + ": label \"" + ref.node->ref.label +
                                    "\" differs from \"" + first.node->ref.label + "\" at " +
                                    first.node->loc.Text() +
                                    " (the tree loaded last would decide; give the same label)");
                bool ranged = ref.node->ref.lower != 0 || ref.node->ref.upper != 0;
                bool firstRanged = first.node->ref.lower != 0 || first.node->ref.upper != 0;
                if (ranged && firstRanged &&
                    (ref.node->ref.lower != first.node->ref.lower ||
                     ref.node->ref.upper != first.node->ref.upper))
                    diag_.Error(ref.node->loc, RefName(r) + ": range differs from the one at " +
                                                   first.node->loc.Text());
            }
            if (IsComposite(r.fields.bindingKind) && refs.size() > 1)
                diag_.Error(refs[1].node->loc,
                            RefName(r) + " (binding kind " + std::to_string(r.fields.bindingKind) +
                                ") is referenced again (first at " + first.node->loc.Text() +
                                "): every reference would bind its partners once more");
            if (operative && other)
                diag_.Error(refs.back().node->loc,
                            RefName(r) +
                                " is both operative and in another tree: preparing the "
                                "operative tree clears its index");
            if (operative) {
                ++polled;
                if (r.fields.index >= 0 && !r.fields.indexIsAddress)
                    diag_.Error(r.loc, RefName(r) +
                                           " is operative and indexed: give it 'addr', "
                                           "since polling sends its index in the "
                                           "address");
            }
        }
        if (polled > kMaxPolled)
            diag_.Error(mod_.operative.loc, Format("%zu operative parameters; at most %zu can be "
                                                   "polled",
                                                   polled, kMaxPolled));
    }

    const Modification& mod_;
    Diagnostics& diag_;
    std::map<std::size_t, std::vector<Reference>> refs_;
    std::vector<const TreeNode*> marked_;
    std::map<std::size_t, const TreeNode*> structure_;
};

// ---------------------------------------------------------------------------

void CheckIdentity(const Modification& mod, Diagnostics& diag) {
    const Identity& id = mod.identity;
    Location where =
        id.loc.file.empty() ? Location{Path(mod.folder, kModificationFile), 0} : id.loc;
    if (!mod.description) return;
    if (id.dev.empty() || id.pver.empty() || id.ver.empty()) {
        diag.Error(where, "the answers to dev, p.ver and ver are all needed");
        return;
    }
    for (const std::string* answer : {&id.dev, &id.pver, &id.ver}) {
        std::string cp;
        std::string error;
        if (!DescriptionWriter::EncodeFieldText(*answer, kMaxFrameData + 1, "answer", cp, &error))
            diag.Error(where, error + " (an answer is at most 15 bytes, one frame)");
    }
    std::string dev(TrimRight(id.dev));
    std::string key = dev + "-" + std::string(Utf8Prefix(id.pver, 2));
    if (key != mod.description->displayName)
        diag.Error(where, "the identification key " + key +
                              " (dev \"-\" first two characters "
                              "of p.ver) is not the display name " +
                              mod.description->displayName);
    // The connection check reads these four.
    struct Needed {
        const char* name;
        bool readOnly;
        bool text;
    };
    for (Needed n : {Needed{"n.Err", false, false}, Needed{"dev", true, true},
                     Needed{"ver", true, true}, Needed{"p.ver", true, true}}) {
        const ParamRecord* found = nullptr;
        for (const ParamRecord& r : mod.table)
            if (EqualsNoCase(r.name, n.name)) found = &r;
        if (!found) {
            diag.Error(Location{Path(mod.folder, kParametersFile), 0},
                       std::string("the connection check needs the parameter ") + n.name);
            continue;
        }
        if (found->fields.index >= 0)
            diag.Error(found->loc, std::string(n.name) + " must not be indexed");
        if (n.readOnly && !found->fields.notWritable)
            diag.Error(found->loc, std::string(n.name) + " cannot be written: give it 'ro'");
        if (n.text && found->typeName != "ASCI" && found->typeName != "string")
            diag.Error(found->loc, std::string(n.name) + " answers a text: type ASCI");
    }
}

// The tool-tip entries, in the order FindComment scans them: the comments
// file first (it may single out an index), then the parameters, then the
// branches.
void CollectTooltips(Modification& mod,
                     const std::vector<std::pair<Location, TooltipEntry>>& fromFile,
                     Diagnostics& diag) {
    struct Seen {
        Location loc;
        std::string comment;
    };
    std::map<std::pair<std::string, int>, Seen> seen;
    auto add = [&](const Location& loc, TooltipEntry e, bool dedupe) {
        std::string lower = Lower(e.name);
        auto key = std::make_pair(lower, e.index);
        if (auto it = seen.find(key); it != seen.end()) {
            if (dedupe && it->second.comment == e.comment) return;
            diag.Error(loc, "a second comment for " + e.name +
                                (e.index >= 0 ? ":" + std::to_string(e.index) : std::string()) +
                                " (first at " + it->second.loc.Text() + ")");
            return;
        }
        if (e.index >= 0) {
            if (auto any = seen.find(std::make_pair(lower, -1)); any != seen.end()) {
                diag.Error(loc, "the comment for " + e.name + ":" + std::to_string(e.index) +
                                    " comes after the one for any index of " + e.name + " (" +
                                    any->second.loc.Text() + ") and would never be found");
                return;
            }
        }
        std::string error;
        std::string text;
        TooltipEntry probe[] = {e};
        if (!DescriptionWriter::TooltipText(probe, text, &error)) {
            diag.Error(loc, error);
            return;
        }
        seen.emplace(key, Seen{loc, e.comment});
        mod.tooltips.push_back(std::move(e));
    };
    for (const auto& [loc, e] : fromFile)
        add(loc, e, false);
    for (const ParamRecord& r : mod.table) {
        if (r.comment.empty() || r.commentWritten) continue;
        add(r.loc, TooltipEntry{r.finalName, r.commentPerIndex ? r.fields.index : -1, r.comment},
            false);
    }
    std::function<void(const TreeNode&)> branches = [&](const TreeNode& b) {
        if (!b.comment.empty()) add(b.loc, TooltipEntry{b.branch.name, -1, b.comment}, true);
        for (const TreeNode& c : b.children)
            if (c.kind == TreeNode::Kind::Branch) branches(c);
    };
    branches(mod.tree);
    branches(mod.operative);
    branches(mod.hidden);
}

// Depth-first records of one branch and its items.
bool EncodeBranch(const TreeNode& b, std::vector<std::uint8_t>& out, Diagnostics& diag) {
    DescriptionWriter::BranchFields f = b.branch;
    f.count1 = f.count2 = f.count3 = 0;
    for (const TreeNode& c : b.children) {
        switch (c.kind) {
            case TreeNode::Kind::Parameter:
                ++f.count1;
                break;
            case TreeNode::Kind::Branch:
                ++f.count2;
                break;
            case TreeNode::Kind::Connector:
                ++f.count3;
                break;
        }
    }
    std::string error;
    if (!DescriptionWriter::AppendBranchRecord(out, f, &error)) {
        diag.Error(b.loc, error);
        return false;
    }
    bool ok = true;
    for (const TreeNode& c : b.children) {
        switch (c.kind) {
            case TreeNode::Kind::Branch:
                ok = EncodeBranch(c, out, diag) && ok;
                break;
            case TreeNode::Kind::Parameter:
                if (!DescriptionWriter::AppendParameterRecord(out, c.ref, &error)) {
                    diag.Error(c.loc, error);
                    ok = false;
                }
                break;
            case TreeNode::Kind::Connector:
                if (!DescriptionWriter::AppendConnectorRecord(out, c.connector, &error)) {
                    diag.Error(c.loc, error);
                    ok = false;
                }
                break;
        }
    }
    return ok;
}

std::size_t CountRecords(const TreeNode& b) {
    std::size_t n = 1;
    for (const TreeNode& c : b.children)
        n += c.kind == TreeNode::Kind::Branch ? CountRecords(c) : 1;
    return n;
}

void CollectOperative(const TreeNode& b, std::set<std::int32_t>& out) {
    for (const TreeNode& c : b.children) {
        if (c.kind == TreeNode::Kind::Branch) CollectOperative(c, out);
        if (c.kind == TreeNode::Kind::Parameter) out.insert(c.ref.tableIndex);
    }
}

}  // namespace

std::optional<Modification> CompileModification(const std::string& folder, const FileReader& reader,
                                                Diagnostics& diag) {
    Modification mod;
    mod.folder = folder;
    std::size_t errorsBefore = diag.ErrorCount();

    ParseModificationFile(ReadSource(Path(folder, kModificationFile), reader, diag), mod, diag);
    if (mod.identity.displayName.empty()) {
        diag.Error(Location{Path(folder, kModificationFile), 0},
                   "the display name is missing (display \"Селвар-...\")");
    } else {
        mod.description = FindDeviceDescription(mod.identity.displayName);
        if (!mod.description || mod.description->displayName != mod.identity.displayName) {
            std::string known;
            for (const CDeviceDescription& d : DeviceDescriptions())
                known += (known.empty() ? "" : ", ") + d.displayName;
            diag.Error(mod.identity.loc, "unknown modification \"" + mod.identity.displayName +
                                             "\" (known: " + known + ")");
            mod.description = nullptr;
        }
    }

    ParseTable(ReadSource(Path(folder, kParametersFile), reader, diag), mod, diag);
    CheckTable(mod, diag);

    ParseTree(ReadSource(Path(folder, kTreeFile), reader, diag), TreeKind::Ordinary, mod, mod.tree,
              diag);
    ParseTree(ReadSource(Path(folder, kOperativeFile), reader, diag), TreeKind::Operative, mod,
              mod.operative, diag);
    ParseTree(ReadSource(Path(folder, kHiddenFile), reader, diag), TreeKind::Hidden, mod,
              mod.hidden, diag);

    std::vector<std::pair<Location, TooltipEntry>> comments;
    std::string commentsPath = Path(folder, kCommentsFile);
    if (std::optional<std::string> text = reader(commentsPath))
        ParseComments(ReadSourceText(commentsPath, *text, reader, diag), mod, comments, diag);

    if (diag.ErrorCount() == errorsBefore) {
        TreeChecker(mod, diag).Run();
        CheckIdentity(mod, diag);
        CollectTooltips(mod, comments, diag);
    }
    if (diag.ErrorCount() != errorsBefore) return std::nullopt;
    return mod;
}

bool EncodeModification(const Modification& mod, EncodedFiles& files, Diagnostics& diag) {
    std::size_t errorsBefore = diag.ErrorCount();
    files = EncodedFiles{};
    files.table.reserve(mod.table.size() * TableRecord::kSize);
    for (const ParamRecord& r : mod.table) {
        std::string error;
        if (!DescriptionWriter::AppendTableRecord(files.table, r.fields, &error))
            diag.Error(r.loc, RefName(r) + ": " + error);
    }
    EncodeBranch(mod.tree, files.tree, diag);
    EncodeBranch(mod.operative, files.operative, diag);
    EncodeBranch(mod.hidden, files.hidden, diag);
    std::string error;
    if (!DescriptionWriter::TooltipFile(mod.tooltips, files.tooltip, &error))
        diag.Error(Location{mod.folder, 0}, error);
    return diag.ErrorCount() == errorsBefore;
}

bool WriteModification(const Modification& mod, const EncodedFiles& files,
                       const std::string& outDir, Diagnostics& diag) {
    if (!mod.description) return false;
    const CDeviceDescription& d = *mod.description;
    struct Output {
        const char* name;
        const std::vector<std::uint8_t>* bytes;
        bool compressed;
    };
    const Output outputs[] = {
        {d.parametersFile, &files.table, true},  {d.treeFile, &files.tree, true},
        {d.hiddenTreeFile, &files.hidden, true}, {d.operativeTreeFile, &files.operative, true},
        {d.tooltipFile, &files.tooltip, false},
    };
    bool ok = true;
    for (const Output& o : outputs) {
        std::string path = (fs::path(outDir) / o.name).string();
        std::string error;
        std::vector<std::uint8_t> gz;
        const std::vector<std::uint8_t>* bytes = o.bytes;
        if (o.compressed) {
            if (!DescriptionWriter::GzipMember(*o.bytes, gz, &error)) {
                diag.Error(Location{path, 0}, error);
                ok = false;
                continue;
            }
            bytes = &gz;
        }
        if (!DescriptionWriter::WriteFileAtomically(path, *bytes, &error)) {
            diag.Error(Location{path, 0}, error);
            ok = false;
        }
    }
    return ok;
}

Summary Summarize(const Modification& mod) {
    Summary s;
    s.parameters = mod.table.size();
    std::set<std::int32_t> operative;
    CollectOperative(mod.operative, operative);
    s.operative = operative.size();
    s.treeRecords = CountRecords(mod.tree);
    s.operativeRecords = CountRecords(mod.operative);
    s.hiddenRecords = CountRecords(mod.hidden);
    s.comments = mod.tooltips.size();
    return s;
}

std::string DumpTable(const Modification& mod) {
    std::ostringstream out;
    for (std::size_t i = 0; i < mod.table.size(); ++i) {
        const ParamRecord& r = mod.table[i];
        const auto& f = r.fields;
        out << i << '\t' << RefName(r);
        if (r.finalName != r.name) out << " (" << r.finalName << ")";
        out << '\t' << f.type;
        if (f.minValue != 0 || f.maxValue != 0)
            out << '\t' << Format("%g..%g", f.minValue, f.maxValue);
        if (!f.factory.empty()) out << "\tdef=" << (f.forceWrite ? "?" : "") << f.factory;
        if (f.bindingKind) out << "\tbind=" << f.bindingKind;
        if (f.notWritable) out << "\tro";
        if (f.indexIsAddress) out << "\taddr";
        out << '\t' << f.description << '\n';
    }
    return out.str();
}

}  // namespace descc
