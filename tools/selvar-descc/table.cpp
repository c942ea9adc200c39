#include "table.h"

#include <algorithm>
#include <cctype>
#include <map>
#include <set>

#include "link/frame.h"
#include "model/my_converter.h"
#include "parse_util.h"
#include "platform/text.h"
#include "types.h"

namespace descc {

namespace {

constexpr const char* kNoData = MyConverter::kNoData;
constexpr int kMaxBindingKind = 10;
constexpr int kMaxAddressIndex = 7;  // the index travels in 3 bits of the address

const std::initializer_list<std::string_view> kValued = {"dec",  "range", "def",    "val",   "err",
                                                         "bind", "attr",  "access", "owner", "cmt"};
const std::initializer_list<std::string_view> kFlags = {"ro", "addr", "force", "nu", "flag"};
// What a "default" line may set.
const std::initializer_list<std::string_view> kDefaultable = {"attr", "access", "owner", "dec"};

bool ValidName(std::string_view name, std::string& why) {
    if (name.empty() || name.size() > 8) {
        why = "a device name has 1 to 8 characters";
        return false;
    }
    if (name[0] == '.') {
        why = "a device name cannot begin with '.'";
        return false;
    }
    for (char c : name) {
        if (!std::isalnum(static_cast<unsigned char>(c)) && c != '.' && c != '_' && c != '-') {
            why = "a device name holds Latin letters, digits, '.', '_' and '-' only";
            return false;
        }
    }
    return true;
}

std::string Lower(std::string_view s) {
    return ToLowerUtf8(s);
}

class TableParser {
  public:
    TableParser(Modification& mod, Diagnostics& diag) : mod_(mod), diag_(diag) {}

    void Run(const std::vector<SourceLine>& lines) {
        for (const SourceLine& line : lines) {
            switch (line.kind) {
                case LineKind::EnterFile:
                    saved_.push_back(defaults_);
                    continue;
                case LineKind::LeaveFile:
                    defaults_ = saved_.back();
                    saved_.pop_back();
                    continue;
                case LineKind::Normal:
                    break;
            }
            if (HandleDefine(line, mod_, diag_)) continue;
            const Token& first = line.tokens[0];
            if (!first.quoted && first.text == "enum")
                Enum(line);
            else if (!first.quoted && first.text == "default")
                Default(line);
            else
                Record(line);
        }
    }

  private:
    Env BaseEnv() const { return Env(&mod_.constants); }

    // enum NAME = LABEL:LABEL...   or   enum NAME += LABEL... [for VAR in LIST]
    void Enum(const SourceLine& line) {
        const auto& t = line.tokens;
        if (t.size() < 4 || (t[2].text != "=" && t[2].text != "+=") || !IsIdentifier(t[1].text)) {
            diag_.Error(line.loc, "expected: enum NAME = LABEL:LABEL... or enum NAME += LABEL...");
            return;
        }
        const std::string& name = t[1].text;
        bool append = t[2].text == "+=";
        if (append && !enums_.count(name)) {
            diag_.Error(line.loc, "enum " + name + " is not defined yet (use = first)");
            return;
        }
        if (!append && enums_.count(name)) {
            diag_.Error(line.loc,
                        "enum " + name + " already defined at " + enumPlaces_[name].Text());
            return;
        }
        // "for VAR in LIST" at the end repeats the labels.
        std::size_t end = t.size();
        std::string var;
        std::vector<int> values;
        if (t.size() >= 8 && !t[t.size() - 4].quoted && t[t.size() - 4].text == "for" &&
            t[t.size() - 2].text == "in") {
            var = t[t.size() - 3].text;
            std::string error;
            if (!IsIdentifier(var)) {
                diag_.Error(line.loc, "bad loop variable '" + var + "'");
                return;
            }
            if (!ParseIndexList(t.back().text, BaseEnv(), values, error)) {
                diag_.Error(line.loc, "enum " + name + ": " + error);
                return;
            }
            end = t.size() - 4;
        }
        std::string text;
        for (std::size_t i = 3; i < end; ++i)
            text += (i > 3 ? " " : "") + t[i].text;
        std::vector<std::string> parts;
        if (var.empty()) {
            std::string expanded;
            if (!ExpandAt(line.loc, text, BaseEnv(), expanded, diag_)) return;
            parts.push_back(expanded);
        } else {
            for (int v : values) {
                std::string expanded;
                if (!ExpandAt(line.loc, text, BaseEnv().With(var, v), expanded, diag_)) return;
                parts.push_back(expanded);
            }
        }
        std::string& target = enums_[name];
        for (std::string& p : parts) {
            std::replace(p.begin(), p.end(), ' ', '_');
            if (!target.empty()) target += ':';
            target += p;
        }
        enumPlaces_.emplace(name, line.loc);
        std::string error;
        if (!CheckEnumerationText(target, error))
            diag_.Error(line.loc, "enum " + name + ": " + error);
    }

    void Default(const SourceLine& line) {
        Options opts;
        if (!ParseOptions(line, 1, kDefaultable, {}, opts, diag_)) return;
        if (!opts.texts.empty()) diag_.Error(line.loc, "a default line takes options only");
        defaults_ = opts.values;
    }

    // The type token: a type name, @enum, or an enumeration's labels.
    bool ResolveType(const SourceLine& line, const Token& tok, std::string& typeText,
                     std::string& canonical) {
        canonical.clear();
        if (!tok.quoted && !tok.text.empty() && tok.text[0] == '@') {
            auto it = enums_.find(tok.text.substr(1));
            if (it == enums_.end()) {
                diag_.Error(line.loc, "unknown enumeration " + tok.text);
                return false;
            }
            typeText = it->second;
            return true;
        }
        if (tok.text.find(':') == std::string::npos) {
            if (CanonicalTypeName(tok.text, canonical)) {
                typeText = canonical;
                return true;
            }
            diag_.Error(line.loc, "unknown type '" + tok.text +
                                      "' (a type name, @ENUM, or labels separated by ':')");
            return false;
        }
        typeText = tok.text;
        std::replace(typeText.begin(), typeText.end(), ' ', '_');
        std::string error;
        if (!CheckEnumerationText(typeText, error)) {
            diag_.Error(line.loc, "type: " + error);
            return false;
        }
        return true;
    }

    void Record(const SourceLine& line) {
        const auto& t = line.tokens;
        if (t.size() < 3 || t[0].quoted) {
            diag_.Error(line.loc, "expected: NAME[INDEXES] TYPE [options] \"description\"");
            return;
        }
        // NAME[INDEXES]
        std::string head = t[0].text;
        std::string name = head;
        std::string spec;
        bool indexed = false;
        if (std::size_t open = head.find('['); open != std::string::npos) {
            if (head.back() != ']') {
                diag_.Error(line.loc, "missing ']' in " + head);
                return;
            }
            name = head.substr(0, open);
            spec = head.substr(open + 1, head.size() - open - 2);
            indexed = true;
        }
        std::string why;
        if (!ValidName(name, why)) {
            diag_.Error(line.loc, "bad parameter name '" + name + "': " + why);
            return;
        }
        std::vector<int> indexes = {-1};
        if (indexed) {
            std::string error;
            if (!ParseIndexList(spec, BaseEnv(), indexes, error)) {
                diag_.Error(line.loc, name + ": " + error);
                return;
            }
        }

        std::string typeText;
        std::string canonical;
        if (!ResolveType(line, t[1], typeText, canonical)) return;

        Options opts;
        if (!ParseOptions(line, 2, kValued, kFlags, opts, diag_)) return;
        for (const auto& [key, value] : defaults_)
            if (!opts.Has(key)) opts.values[key] = value;
        if (opts.texts.size() != 1) {
            diag_.Error(line.loc, opts.texts.empty()
                                      ? name + ": the quoted description is missing"
                                      : name +
                                            ": more than one quoted text (quote option values "
                                            "as key=\"...\")");
            return;
        }

        DescriptionWriter::TableFields f;
        f.name = name;
        f.type = typeText;
        f.notWritable = opts.Has("ro");
        f.indexIsAddress = opts.Has("addr");
        f.needUpdate = opts.Has("nu");
        f.flag = opts.Has("flag") ? 1 : 0;
        f.forceWrite = opts.Has("force");
        Env env = BaseEnv();
        std::int64_t v = 0;
        auto intOption = [&](const char* key, std::int64_t lo, std::int64_t hi,
                             std::int64_t fallback) -> std::int64_t {
            const std::string* text = opts.Value(key);
            if (!text) return fallback;
            if (!IntAt(line.loc, name + ": " + key, *text, env, lo, hi, v, diag_)) {
                ok_ = false;
                return fallback;
            }
            return v;
        };
        ok_ = true;
        f.decimals = static_cast<std::int32_t>(intOption("dec", 0, 3, 0));
        f.bindingKind = static_cast<std::int32_t>(intOption("bind", 0, kMaxBindingKind, 0));
        f.attributeKind = static_cast<std::int32_t>(intOption("attr", 0, 1 << 20, 0));
        f.access = static_cast<std::uint8_t>(intOption("access", 0, 1, 1));
        f.owner = static_cast<std::uint8_t>(intOption("owner", 0, 1, 0));
        if (const std::string* r = opts.Value("range")) {
            double lo = 0;
            double hi = 0;
            if (!RangeAt(line.loc, name, *r, env, lo, hi, diag_)) return;
            f.minValue = static_cast<float>(lo);
            f.maxValue = static_cast<float>(hi);
        }
        if (!ok_) return;
        if (f.forceWrite && !opts.Value("def")) {
            diag_.Error(line.loc, name + ": 'force' needs a factory value (def=...)");
            return;
        }
        if (f.indexIsAddress && !indexed) {
            diag_.Error(line.loc, name + ": 'addr' needs an index");
            return;
        }
        if (f.indexIsAddress)
            for (int index : indexes)
                if (index > kMaxAddressIndex) {
                    diag_.Error(line.loc, Format("%s: index %d is sent in the address ('addr'), "
                                                 "which carries 0..%d",
                                                 name.c_str(), index, kMaxAddressIndex));
                    return;
                }

        ParamRecord proto;
        proto.loc = line.loc;
        proto.name = name;
        proto.finalName = FinalName(name, f.bindingKind);
        proto.typeName = canonical;
        proto.shownType = canonical.empty() ? ShownEnumerationType(typeText, nullptr) : canonical;

        std::size_t first = mod_.table.size();
        for (int index : indexes) {
            ParamRecord r = proto;
            r.fields = f;
            r.fields.index = index;
            Env e = index >= 0 ? env.With("i", index) : env;
            if (!ExpandAt(line.loc, opts.texts[0], e, r.fields.description, diag_)) return;
            std::string text;
            if (const std::string* val = opts.Value("val")) {
                if (!ExpandAt(line.loc, *val, e, r.fields.value, diag_)) return;
            } else {
                r.fields.value = kNoData;
            }
            if (const std::string* err = opts.Value("err"))
                if (!ExpandAt(line.loc, *err, e, r.fields.error, diag_)) return;
            if (const std::string* def = opts.Value("def")) {
                if (!ExpandAt(line.loc, *def, e, text, diag_)) return;
                FactoryInput in{canonical, proto.shownType, name, f.minValue, f.maxValue};
                std::string error;
                if (!FactoryToData(in, text, r.fields.factory, error)) {
                    diag_.Error(line.loc, IndexedName(name, index) + ": " + error);
                    return;
                }
            }
            if (const std::string* cmt = opts.Value("cmt"))
                if (!ExpandAt(line.loc, *cmt, e, r.comment, diag_)) return;
            std::string error;
            if (!CheckTexts(r, error)) {
                diag_.Error(line.loc, IndexedName(name, index) + ": " + error);
                return;
            }
            mod_.table.push_back(std::move(r));
        }
        for (std::size_t i = first; i < mod_.table.size(); ++i)
            mod_.table[i].group = group_;
        ++group_;
    }

  public:
    // A line's comment is written once, for any index, when it is the same for
    // every instance and the line gives every instance of the name; otherwise
    // each instance is keyed with its index.
    void KeyComments() {
        std::map<std::string, std::size_t> instances;
        std::map<int, std::vector<ParamRecord*>> groups;
        for (ParamRecord& r : mod_.table) {
            ++instances[Lower(r.name)];
            groups[r.group].push_back(&r);
        }
        for (auto& [group, records] : groups) {
            const ParamRecord& head = *records.front();
            bool same = std::all_of(records.begin(), records.end(), [&](const ParamRecord* r) {
                return r->comment == head.comment;
            });
            bool whole = records.size() == instances[Lower(head.name)];
            bool generic = head.fields.index < 0 || (same && whole);
            for (std::size_t i = 0; i < records.size(); ++i) {
                records[i]->commentPerIndex = !generic;
                records[i]->commentWritten = generic && i != 0;
            }
        }
    }

  private:
    // Every text must fit its field: try the record once.
    static bool CheckTexts(const ParamRecord& r, std::string& error) {
        std::vector<std::uint8_t> scratch;
        return DescriptionWriter::AppendTableRecord(scratch, r.fields, &error);
    }

    static std::string IndexedName(const std::string& name, int index) {
        return index >= 0 ? name + ":" + std::to_string(index) : name;
    }

    Modification& mod_;
    Diagnostics& diag_;
    std::map<std::string, std::string> enums_;
    std::map<std::string, Location> enumPlaces_;
    std::map<std::string, std::string> defaults_;
    std::vector<std::map<std::string, std::string>> saved_;
    bool ok_ = true;
    int group_ = 0;
};

struct Partner {
    int kind;
    const char* name;
    bool sameIndex;
    bool required;
};

// Partners the tree loader looks up for each binding kind and the
// exchange needs.
constexpr Partner kPartners[] = {
    {1, "grtp", true, true},  {2, "Grtr", true, true},  {8, "Abor", true, true},
    {5, "in.sl", true, true}, {5, "in.sh", true, true}, {5, "read", true, true},
    {6, "rtC", false, true},  {6, "s.w", false, true},  {7, "pass", false, true},
};

}  // namespace

std::string FinalName(const std::string& name, int kind) {
    std::string out = name;
    if (kind == 2 || kind == 6 || kind == 8) std::replace(out.begin(), out.end(), '_', ' ');
    if (kind == 5 || kind == 9) out.erase(std::remove(out.begin(), out.end(), '_'), out.end());
    return out;
}

void ParseTable(const std::vector<SourceLine>& lines, Modification& mod, Diagnostics& diag) {
    TableParser parser(mod, diag);
    parser.Run(lines);
    parser.KeyComments();
}

void CheckTable(const Modification& mod, Diagnostics& diag) {
    const auto& table = mod.table;
    // Spelling, duplicates, indexed and unindexed instances of one name.
    std::map<std::string, const ParamRecord*> firstByName;
    std::map<std::pair<std::string, int>, const ParamRecord*> byKey;
    std::map<std::pair<std::string, int>, const ParamRecord*> byFinalKey;
    for (const ParamRecord& r : table) {
        std::string lower = Lower(r.name);
        auto [it, fresh] = firstByName.emplace(lower, &r);
        const ParamRecord& first = *it->second;
        if (!fresh && first.name != r.name)
            diag.Error(r.loc,
                       "'" + r.name + "' is spelled '" + first.name + "' at " + first.loc.Text());
        if (!fresh && (first.fields.index < 0) != (r.fields.index < 0))
            diag.Error(r.loc, "'" + r.name + "' is indexed in one place and not in another (" +
                                  first.loc.Text() + ")");
        int index = r.fields.index;
        auto [k, freshKey] = byKey.emplace(std::make_pair(lower, index), &r);
        if (!freshKey) {
            diag.Error(r.loc, "duplicate parameter " + r.name +
                                  (index >= 0 ? ":" + std::to_string(index) : std::string()) +
                                  " (first at " + k->second->loc.Text() + ")");
            continue;
        }
        auto [f, freshFinal] = byFinalKey.emplace(std::make_pair(Lower(r.finalName), index), &r);
        if (!freshFinal && f->second != &r)
            diag.Error(r.loc, "'" + r.name + "' becomes '" + r.finalName +
                                  "' once bound, the name of " + f->second->name + " at " +
                                  f->second->loc.Text());
    }

    auto find = [&](std::string_view name, int index) -> const ParamRecord* {
        for (const ParamRecord& r : table)
            if (EqualsNoCase(r.name, name) && (index < 0 || r.fields.index == index)) return &r;
        return nullptr;
    };

    // Binding partners.
    for (const ParamRecord& r : table) {
        int kind = r.fields.bindingKind;
        int index = r.fields.index;
        std::string label = r.name + (index >= 0 ? ":" + std::to_string(index) : std::string());
        if ((kind == 1 || kind == 2 || kind == 5 || kind == 8) && index < 0) {
            diag.Error(r.loc, label + ": binding kind " + std::to_string(kind) +
                                  " looks its partners up by the parameter's own index, which "
                                  "it has none of");
            continue;
        }
        if ((kind == 1 || kind == 2 || kind == 8) && r.name[0] != 'X' && r.name[0] != 'Y' &&
            r.name[0] != 'x' && r.name[0] != 'y')
            diag.Error(r.loc, label + ": a half of a packed pair (kind " + std::to_string(kind) +
                                  ") is named from 'X' or 'Y'");
        if ((kind == 1 || kind == 2) && (index < 0 || index > 6))
            diag.Warning(r.loc, label + ": curve points have factory values for indexes 0..6 only");
        if ((kind == 1 || kind == 2) && !r.fields.factory.empty())
            diag.Error(r.loc, label +
                                  ": the factory value of a curve point comes from its "
                                  "binding; leave def= out");
        for (const Partner& p : kPartners) {
            if (p.kind != kind) continue;
            const ParamRecord* partner = find(p.name, p.sameIndex ? index : -1);
            if (!partner) {
                diag.Error(r.loc, label + ": binding kind " + std::to_string(kind) + " needs " +
                                      p.name +
                                      (p.sameIndex ? ":" + std::to_string(index) : std::string()) +
                                      " in the table");
                continue;
            }
            if ((kind == 1 || kind == 2 || kind == 8) && partner->typeName != "DWORD")
                diag.Error(partner->loc,
                           std::string(p.name) + ": a packed coordinate pair is a DWORD");
            if (kind == 5 && std::string_view(p.name) != "read" && partner->typeName != "float")
                diag.Error(partner->loc,
                           std::string(p.name) + ": the scaled reading takes it as an IEEE float");
            if (kind == 7 && partner->typeName != "DEC dot")
                diag.Error(partner->loc, "pass: the access code is sent as DEC dot");
        }
    }

    // Distinct names must hash apart: the device tells parameters by the hash.
    std::map<std::uint16_t, const ParamRecord*> byHash;
    std::set<std::string> reported;
    for (const ParamRecord& r : table) {
        std::uint16_t h = hash_name(r.finalName);
        auto [it, fresh] = byHash.emplace(h, &r);
        if (!fresh && !EqualsNoCase(it->second->finalName, r.finalName) &&
            reported.insert(Lower(r.finalName)).second)
            diag.Error(r.loc, Format("'%s' has the name hash 0x%04X of '%s' (%s): the device "
                                     "could not tell them apart",
                                     r.finalName.c_str(), h, it->second->finalName.c_str(),
                                     it->second->loc.Text().c_str()));
    }
}

}  // namespace descc
