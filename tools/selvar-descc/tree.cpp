#include "tree.h"

#include <map>

#include "parse_util.h"
#include "platform/text.h"
#include "structure_limits.h"

namespace descc {

namespace {

constexpr int kMaxDepth = 64;

struct Item {
    enum class Kind { Branch, Parameter, Connector, Loop };
    Kind kind = Kind::Parameter;
    const SourceLine* line = nullptr;
    std::vector<Item> children;
};

class TreeParser {
  public:
    TreeParser(TreeKind kind, Modification& mod, Diagnostics& diag)
        : kind_(kind), mod_(mod), diag_(diag) {
        for (std::size_t i = 0; i < mod.table.size(); ++i)
            positions_[ToLowerUtf8(mod.table[i].name)].push_back(i);
    }

    bool Run(const std::vector<SourceLine>& lines, TreeNode& root) {
        std::size_t pos = 0;
        std::vector<Item> items;
        Block(lines, pos, items, nullptr, 0);
        std::vector<TreeNode> nodes;
        Expand(items, Env(&mod_.constants), nodes, 0);
        const Location where = lines.empty() ? Location{} : lines.front().loc;
        int branches = 0;
        for (TreeNode& n : nodes) {
            if (n.kind != TreeNode::Kind::Branch) {
                diag_.Error(n.loc, "only one branch, the root, may stand at the top of a tree");
                continue;
            }
            if (++branches == 1) {
                root = std::move(n);
            } else {
                diag_.Error(n.loc, std::string("a second root branch in the ") +
                                       TreeKindName(kind_) + " tree");
            }
        }
        if (branches == 0) {
            diag_.Error(where,
                        std::string("the ") + TreeKindName(kind_) + " tree has no root branch");
            return false;
        }
        return true;
    }

  private:
    // Reads items up to the '}' that closes `opener` (or to the end).
    void Block(const std::vector<SourceLine>& lines, std::size_t& pos, std::vector<Item>& out,
               const SourceLine* opener, int depth) {
        while (pos < lines.size()) {
            const SourceLine& line = lines[pos++];
            if (line.kind != LineKind::Normal) continue;
            if (HandleDefine(line, mod_, diag_)) continue;
            const auto& t = line.tokens;
            if (t.size() == 1 && !t[0].quoted && t[0].text == "}") {
                if (opener) return;
                diag_.Error(line.loc, "'}' without an open branch or loop");
                continue;
            }
            Item item;
            item.line = &line;
            bool opens = !t.back().quoted && t.back().text == "{";
            const std::string& word = t[0].quoted ? std::string() : t[0].text;
            if (word == "branch") {
                item.kind = Item::Kind::Branch;
            } else if (word == "for") {
                item.kind = Item::Kind::Loop;
            } else if (word == "connector") {
                item.kind = Item::Kind::Connector;
            } else {
                item.kind = Item::Kind::Parameter;
            }
            bool block = item.kind == Item::Kind::Branch || item.kind == Item::Kind::Loop;
            if (block && !opens) {
                diag_.Error(line.loc, "'" + word + "' line must end with '{'");
                continue;
            }
            if (!block && opens) {
                diag_.Error(line.loc, "only 'branch' and 'for' lines open a block");
                continue;
            }
            if (block) {
                if (depth >= kMaxDepth) {
                    diag_.Error(line.loc, "branches nested too deeply");
                    return;
                }
                Block(lines, pos, item.children, &line, depth + 1);
            }
            out.push_back(std::move(item));
        }
        if (opener) diag_.Error(opener->loc, "the block opened here is not closed with '}'");
    }

    void Expand(const std::vector<Item>& items, const Env& env, std::vector<TreeNode>& out,
                int depth) {
        for (const Item& item : items) {
            switch (item.kind) {
                case Item::Kind::Loop:
                    Loop(item, env, out, depth);
                    break;
                case Item::Kind::Branch:
                    Branch(item, env, out, depth);
                    break;
                case Item::Kind::Connector:
                    Connector(item, env, out);
                    break;
                case Item::Kind::Parameter:
                    Parameter(item, env, out);
                    break;
            }
        }
    }

    void Loop(const Item& item, const Env& env, std::vector<TreeNode>& out, int depth) {
        const SourceLine& line = *item.line;
        const auto& t = line.tokens;
        if (t.size() != 5 || t[2].text != "in" || !IsIdentifier(t[1].text)) {
            diag_.Error(line.loc, "expected: for VAR in LIST {");
            return;
        }
        const std::string& var = t[1].text;
        if (env.Has(var)) {
            diag_.Error(line.loc, "loop variable " + var + " hides another name");
            return;
        }
        std::vector<int> values;
        std::string error;
        if (!ParseIndexList(t[3].text, env, values, error)) {
            diag_.Error(line.loc, error);
            return;
        }
        for (int v : values)
            Expand(item.children, env.With(var, v), out, depth);
    }

    void Branch(const Item& item, const Env& env, std::vector<TreeNode>& out, int depth) {
        const SourceLine& line = *item.line;
        const auto& t = line.tokens;
        if (t.size() < 3) {
            diag_.Error(line.loc, "expected: branch \"NAME\" [options] {");
            return;
        }
        TreeNode node;
        node.kind = TreeNode::Kind::Branch;
        node.loc = line.loc;
        if (!ExpandAt(line.loc, t[1].text, env, node.branch.name, diag_)) return;
        SourceLine opts = line;
        opts.tokens.pop_back();  // '{'
        Options o;
        if (!ParseOptions(opts, 2, {"image", "a", "structure", "cmt"}, {"marked"}, o, diag_))
            return;
        if (!o.texts.empty()) {
            diag_.Error(line.loc, "branch \"" + node.branch.name + "\": unexpected quoted text");
            return;
        }
        std::int64_t v = 0;
        if (const std::string* image = o.Value("image")) {
            std::vector<std::string> parts = Split(*image, ',');
            if (parts.empty() || parts.size() > 2) {
                diag_.Error(line.loc, "image=B or image=B,C (row image, selected image)");
                return;
            }
            if (!IntAt(line.loc, "image", parts[0], env, 0, 1 << 16, v, diag_)) return;
            node.branch.valueB = node.branch.valueC = static_cast<std::int32_t>(v);
            if (parts.size() == 2) {
                if (!IntAt(line.loc, "selected image", parts[1], env, 0, 1 << 16, v, diag_)) return;
                node.branch.valueC = static_cast<std::int32_t>(v);
            }
        }
        if (const std::string* a = o.Value("a")) {
            if (!IntAt(line.loc, "value A", *a, env, INT32_MIN, INT32_MAX, v, diag_)) return;
            node.branch.valueA = static_cast<std::int32_t>(v);
        }
        if (const std::string* s = o.Value("structure")) {
            if (kind_ != TreeKind::Hidden) {
                diag_.Error(line.loc,
                            "structure= belongs in the hidden tree, which carries the "
                            "structure table");
                return;
            }
            if (o.Value("a")) {
                diag_.Error(line.loc, "structure=N sets value A to 1000 + N; give one of them");
                return;
            }
            if (!IntAt(line.loc, "structure entry", *s, env, 0,
                       static_cast<std::int64_t>(kStructureSize) - 1, v, diag_))
                return;
            node.structure = static_cast<int>(v);
            node.branch.valueA = kStructureMark + node.structure;
        }
        node.branch.marked = o.Has("marked");
        if (const std::string* c = o.Value("cmt"))
            if (!ExpandAt(line.loc, *c, env, node.comment, diag_)) return;
        Expand(item.children, env, node.children, depth + 1);
        out.push_back(std::move(node));
    }

    void Connector(const Item& item, const Env& env, std::vector<TreeNode>& out) {
        const SourceLine& line = *item.line;
        const auto& t = line.tokens;
        if (t.size() != 5) {
            diag_.Error(line.loc, "expected: connector \"SOURCE\" \"STATE\" SELECTOR FIRST..LAST");
            return;
        }
        TreeNode node;
        node.kind = TreeNode::Kind::Connector;
        node.loc = line.loc;
        auto& c = node.connector;
        std::string range;
        if (!ExpandAt(line.loc, t[1].text, env, c.source, diag_) ||
            !ExpandAt(line.loc, t[2].text, env, c.state, diag_) ||
            !ExpandAt(line.loc, t[3].text, env, c.selector, diag_) ||
            !ExpandAt(line.loc, t[4].text, env, range, diag_))
            return;
        std::size_t dots = range.find("..");
        std::int64_t first = 0;
        std::int64_t last = 0;
        if (dots == std::string::npos ||
            !IntAt(line.loc, "connector first state", range.substr(0, dots), env, 0, 126, first,
                   diag_) ||
            !IntAt(line.loc, "connector last state", range.substr(dots + 2), env, 0, 126, last,
                   diag_)) {
            if (dots == std::string::npos)
                diag_.Error(line.loc, "connector states: expected FIRST..LAST, got " + range);
            return;
        }
        if (first > last) {
            diag_.Error(line.loc, "connector states " + range + " are reversed");
            return;
        }
        c.first = static_cast<std::int32_t>(first);
        c.last = static_cast<std::int32_t>(last);
        out.push_back(std::move(node));
    }

    void Parameter(const Item& item, const Env& env, std::vector<TreeNode>& out) {
        const SourceLine& line = *item.line;
        const auto& t = line.tokens;
        if (t[0].quoted) {
            diag_.Error(line.loc,
                        "expected a parameter NAME or NAME:INDEX, 'branch', 'for' or "
                        "'connector'");
            return;
        }
        std::string ref;
        if (!ExpandAt(line.loc, t[0].text, env, ref, diag_)) return;
        Options o;
        if (!ParseOptions(line, 1, {"range"}, {"ro"}, o, diag_)) return;
        if (o.texts.size() > 1) {
            diag_.Error(line.loc, ref + ": more than one quoted label");
            return;
        }
        if (o.Has("ro") && kind_ == TreeKind::Hidden) {
            diag_.Error(line.loc, ref +
                                      ": 'ro' has no effect in the hidden tree (the loader "
                                      "ignores the read-only byte there)");
            return;
        }
        TreeNode proto;
        proto.kind = TreeNode::Kind::Parameter;
        proto.loc = line.loc;
        proto.ref.readOnly = o.Has("ro");
        if (!o.texts.empty() && !ExpandAt(line.loc, o.texts[0], env, proto.ref.label, diag_))
            return;
        if (const std::string* r = o.Value("range")) {
            double lo = 0;
            double hi = 0;
            if (!RangeAt(line.loc, ref, *r, env, lo, hi, diag_)) return;
            if (lo == 0 && hi == 0) {
                diag_.Error(line.loc, ref +
                                          ": range 0..0 would keep the table's range; leave "
                                          "range= out");
                return;
            }
            proto.ref.lower = static_cast<float>(lo);
            proto.ref.upper = static_cast<float>(hi);
        }

        std::string name = ref;
        std::string spec;
        bool hasSpec = false;
        if (std::size_t colon = ref.find(':'); colon != std::string::npos) {
            name = ref.substr(0, colon);
            spec = ref.substr(colon + 1);
            hasSpec = true;
        }
        auto it = positions_.find(ToLowerUtf8(name));
        if (it == positions_.end()) {
            diag_.Error(line.loc, "unknown parameter '" + name + "' (not in the parameter table)");
            return;
        }
        const std::vector<std::size_t>& pos = it->second;
        bool indexed = mod_.table[pos.front()].fields.index >= 0;
        if (!hasSpec && indexed) {
            diag_.Error(line.loc, "'" + name + "' is indexed: write " + name + ":INDEX, " + name +
                                      ":A..B or " + name + ":*");
            return;
        }
        if (hasSpec && !indexed) {
            diag_.Error(line.loc, "'" + name + "' has no index; write it without ':'");
            return;
        }
        std::vector<std::size_t> chosen;
        if (!hasSpec || spec == "*") {
            chosen = pos;
        } else {
            std::vector<int> indexes;
            std::string error;
            if (!ParseIndexList(spec, env, indexes, error)) {
                diag_.Error(line.loc, name + ": " + error);
                return;
            }
            for (int index : indexes) {
                std::size_t found = SIZE_MAX;
                for (std::size_t p : pos)
                    if (mod_.table[p].fields.index == index) found = p;
                if (found == SIZE_MAX) {
                    diag_.Error(line.loc, "unknown parameter " + name + ":" +
                                              std::to_string(index) +
                                              " (the table has no such "
                                              "index)");
                    return;
                }
                chosen.push_back(found);
            }
        }
        for (std::size_t p : chosen) {
            TreeNode node = proto;
            node.ref.tableIndex = static_cast<std::int32_t>(p);
            out.push_back(std::move(node));
        }
    }

    TreeKind kind_;
    Modification& mod_;
    Diagnostics& diag_;
    std::map<std::string, std::vector<std::size_t>> positions_;
};

}  // namespace

const char* TreeKindName(TreeKind kind) {
    switch (kind) {
        case TreeKind::Ordinary:
            return "ordinary";
        case TreeKind::Operative:
            return "operative";
        case TreeKind::Hidden:
            return "hidden";
    }
    return "?";
}

bool ParseTree(const std::vector<SourceLine>& lines, TreeKind kind, Modification& mod,
               TreeNode& root, Diagnostics& diag) {
    TreeParser parser(kind, mod, diag);
    return parser.Run(lines, root);
}

}  // namespace descc
