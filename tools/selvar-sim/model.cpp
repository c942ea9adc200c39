#include "model.h"

#include <algorithm>
#include <cmath>
#include <numbers>

#include "description/desc_branch.h"
#include "description/device_description.h"
#include "description/parameter_table.h"
#include "description/tree_loader.h"
#include "link/frame.h"
#include "model/parameter.h"
#include "platform/codepage.h"
#include "platform/text.h"
#include "value_layout.h"

namespace sim {

namespace {

struct KnownIdentity {
    const char* display;
    const char* dev;
    const char* pver;
    const char* ver;
};

// The identification answers of the three modifications; the key the master
// builds (dev + "-" + first two characters of p.ver) is the display name.
constexpr KnownIdentity kIdentities[] = {
    {"Селвар-А1", "Селвар", "А1.03", "2.07"},
    {"Селвар-Б4", "Селвар", "Б4.05", "3.12"},
    {"Селвар-Б2", "Селвар", "Б2.04", "3.12"},
};

// Names the master never sends: values it puts together from other
// parameters (coordinate halves, the scaled input, the local time).
bool IsComposite(int bindingKind) {
    return bindingKind == 1 || bindingKind == 2 || bindingKind == 5 || bindingKind == 6 ||
           bindingKind == 8;
}

// Slow waves keep the readings plausible and visibly alive.
double Wave(double now, double periodSeconds, double phase) {
    return std::sin(2 * std::numbers::pi * now / periodSeconds + phase);
}

std::vector<std::uint8_t> FloatData(double value) {
    std::vector<std::uint8_t> out(4);
    PutFloat(static_cast<float>(value), out.data());
    return out;
}

std::vector<std::uint8_t> StatusData(std::uint8_t code, std::uint8_t subcode = 0) {
    return {code, 0, 0, subcode};
}

// Status codes of the readings.
constexpr std::uint8_t kConverterStatus = 0xF5;  // subcode in byte 3
constexpr std::uint8_t kConverterOff = 10;       // "Вычислитель отключен"
constexpr std::uint8_t kSensorOff = 0xF7;
constexpr std::uint8_t kNoSetPoint = 0xFA;  // for "Set.P": regulator not working
constexpr std::uint8_t kSensorBreak = 0xFD;

// The last input reports a sensor break for ten seconds of every minute.
constexpr double kBreakCycle = 60;
constexpr double kBreakFrom = 40;
constexpr double kBreakTo = 50;

bool InRange(double v, double low, double high) {
    // The table keeps its bounds as singles: allow for their rounding.
    const double slackLow = 1e-6 * std::max(1.0, std::fabs(low));
    const double slackHigh = 1e-6 * std::max(1.0, std::fabs(high));
    return v >= low - slackLow && v <= high + slackHigh;
}

std::string Hex(const std::vector<std::uint8_t>& data) {
    std::string out;
    for (std::uint8_t b : data)
        out += Format("%02X", b);
    return out;
}

bool ParseHex(std::string_view text, std::vector<std::uint8_t>& out) {
    if (text.size() % 2 != 0 || text.size() > 2 * kMaxFrameData) return false;
    out.clear();
    auto nibble = [](char c) -> int {
        if (c >= '0' && c <= '9') return c - '0';
        if (c >= 'A' && c <= 'F') return c - 'A' + 10;
        if (c >= 'a' && c <= 'f') return c - 'a' + 10;
        return -1;
    };
    for (std::size_t i = 0; i < text.size(); i += 2) {
        const int high = nibble(text[i]);
        const int low = nibble(text[i + 1]);
        if (high < 0 || low < 0) return false;
        out.push_back(static_cast<std::uint8_t>(high * 16 + low));
    }
    return true;
}

// The address the device serves comes from its command line, never from a
// state: a device that moved would be lost to the next run's master.
bool IsServingAddress(std::string_view name) {
    return EqualsNoCase(name, "Addr") || EqualsNoCase(name, "A.Len");
}

std::vector<std::string> Words(std::string_view line) {
    std::vector<std::string> words;
    for (std::string& w : Split(TrimRight(line), ' '))
        if (!w.empty()) words.push_back(std::move(w));
    return words;
}

bool ParseWholeInt(std::string_view text, std::int64_t& out) {
    return !text.empty() && ParseLeadingInt(text, out) == text.size();
}

}  // namespace

std::optional<Identity> IdentityOf(std::string_view displayName) {
    for (const KnownIdentity& k : kIdentities)
        if (EqualsNoCase(displayName, k.display)) return Identity{k.dev, k.pver, k.ver};
    return std::nullopt;
}

DeviceModel::DeviceModel() = default;
DeviceModel::~DeviceModel() = default;

DeviceModel::Role DeviceModel::RoleFor(std::string_view name) {
    struct Row {
        const char* name;
        Role role;
    };
    static constexpr Row kRoles[] = {
        {"n.Err", Role::LastError}, {"dev", Role::Identity},      {"ver", Role::Identity},
        {"p.ver", Role::Identity},  {"exit", Role::RestartCause}, {"rEAd", Role::Reading},
        {"r.CAL", Role::Reading},   {"rd.rg", Role::Reading},     {"Set.P", Role::Reading},
        {"r.OUt", Role::Reading},   {"r.oe", Role::OutputLevel},  {"r.St", Role::ObjectState},
        {"r.cn", Role::InputBits},  {"r.oe.s", Role::OutputBits}, {"rtC", Role::Clock},
    };
    for (const Row& row : kRoles)
        if (EqualsNoCase(name, row.name)) return row.role;
    return Role::Stored;
}

bool DeviceModel::Load(const CDeviceDescription& description, const ModelSettings& settings,
                       std::string& error) {
    displayName_ = description.displayName;
    settings_ = settings;
    identity_ = IdentityOf(displayName_).value_or(Identity{});
    if (settings.dev) identity_.dev = *settings.dev;
    if (settings.pver) identity_.pver = *settings.pver;
    if (settings.ver) identity_.ver = *settings.ver;

    // Declared before the trees, which refer to its parameters.
    ParameterTable table;
    const std::string path = DescriptionPath(description.parametersFile);
    switch (LoadParameterTable(table, path)) {
        case TableLoadStatus::Missing:
            error = "no parameter table " + path + " (set SELVAR_DATA_DIR to the folder of the " +
                    "description files)";
            return false;
        case TableLoadStatus::Damaged:
            error = "damaged parameter table " + path;
            return false;
        case TableLoadStatus::Ok:
            break;
    }
    // The trees decide what the master sends: bindings rename parameters,
    // tree marks make them read-only, and the operative tree moves an
    // instance's index into the address offset.
    // Built in the order the configurator sets them up, so that both agree
    // on which tree's marks win.
    DescriptionTrees trees = LoadDescriptionTrees(table, description, {});
    std::set<const Parameter*> operativeSet;
    trees.operative->ForEachBranch([&](const DescBranch& branch) {
        for (const Parameter* p : branch.parameters)
            operativeSet.insert(p);
    });

    families_.clear();
    AddFamilies(table, operativeSet);
    AddObjectFamilies();
    InitialiseValues();
    return true;
}

void DeviceModel::AddFamilies(const ParameterTable& table,
                              const std::set<const Parameter*>& operative) {
    std::map<std::uint16_t, std::vector<const Parameter*>> byHash;
    for (const Parameter& p : table.All()) {
        if (p.name.empty() || IsComposite(p.bindingKind)) continue;
        byHash[hash_name(p.name)].push_back(&p);
    }
    for (const auto& [hash, list] : byHash) {
        Family& family = families_[hash];
        family.name = list.front()->name;
        family.role = RoleFor(family.name);
        // A family is indexed only when every instance travels with its index.
        family.indexed = std::all_of(list.begin(), list.end(),
                                     [](const Parameter* p) { return p->hasLinearIndex; });
        const bool fixedRole = family.role != Role::Stored && family.role != Role::Clock;
        for (const Parameter* p : list) {
            if (operative.contains(p)) family.addressed = true;
            Instance inst;
            inst.conv.name = p->name;
            inst.conv.type = p->type;
            inst.conv.decimals = p->decimals;
            inst.conv.minValue = p->minValue;
            inst.conv.maxValue = p->maxValue;
            inst.offset = std::max(p->deviceAddress, 0);
            inst.index = family.indexed ? p->linearIndex : -1;
            const bool accessAllows = p->attributeKind == 0 || p->accessAttribute != 0;
            inst.writable = !fixedRole && (p->CanWrite() || p->forceWrite) && accessAllows;
            inst.protectedWrite = p->bindingKind == 7;
            inst.factoryText = p->defaultValue;
            const Key key{inst.offset, inst.index};
            family.instances.emplace(key, std::move(inst));
        }
    }
}

void DeviceModel::AddObjectFamilies() {
    auto ensure = [&](const char* name) -> Family& {
        Family& family = families_[hash_name(name)];
        if (family.name.empty()) {
            family.name = name;
            family.role = RoleFor(name);
        }
        return family;
    };
    auto blank = [](const char* name, const char* type, bool writable) {
        Instance inst;
        inst.conv.name = name;
        inst.conv.type = type;
        inst.writable = writable;
        return inst;
    };

    {
        const Family* channels = FindFamily("n.Ch");
        const Family* states = FindFamily("r.St");
        const std::size_t known = channels && !channels->instances.empty()
                                      ? channels->instances.size()
                                  : states ? states->instances.size()
                                           : 1;
        objects_ = static_cast<int>(std::clamp<std::size_t>(known, 1, kObjectOffsets));
    }

    // The regulation of object k is addressed at offset k: its state "r.st"
    // and its start/stop command "r-s", for all eight objects even where the
    // description knows fewer.
    struct PerObject {
        const char* name;
        const char* type;
        bool writable;
    };
    for (const PerObject& po :
         {PerObject{"r.St", "Стоп:Работа:Авария", false}, PerObject{"r-s", "Стоп:Пуск", true}}) {
        Family& family = ensure(po.name);
        Instance model = family.instances.empty() ? blank(po.name, po.type, po.writable)
                                                  : family.instances.begin()->second;
        std::map<Key, Instance> byOffset;
        for (auto& [key, inst] : family.instances) {
            inst.index = -1;
            byOffset.emplace(Key{inst.offset, -1}, std::move(inst));
        }
        for (int k = 0; k < kObjectOffsets; ++k) {
            if (byOffset.contains(Key{k, -1})) continue;
            Instance copy = model;
            copy.offset = k;
            byOffset.emplace(Key{k, -1}, std::move(copy));
        }
        family.instances = std::move(byOffset);
        family.indexed = false;
        family.addressed = true;
    }

    // One network start switch for the device, reachable at every object's address.
    {
        Family& family = ensure("str.s");
        if (family.instances.empty()) {
            Instance inst = blank("str.s", "Запрещен:Разрешен", true);
            inst.factoryText = "Разрешен";
            family.instances.emplace(Key{0, -1}, std::move(inst));
        }
        family.deviceWide = true;
    }

    // The channel counts of the objects at linear index 8 × k; an object the
    // description lacks has none, so it cannot be started.
    {
        Family& family = ensure("n.Ch");
        if (family.instances.empty()) {
            family.indexed = true;
            Instance inst = blank("n.Ch", "DEC dot", true);
            inst.conv.maxValue = 8;
            inst.index = 0;
            inst.factoryText = "1";
            family.instances.emplace(Key{0, 0}, std::move(inst));
        }
        if (family.indexed) {
            const Instance model = family.instances.begin()->second;
            for (int k = 0; k < kObjectOffsets; ++k) {
                const Key key{0, 8 * k};
                if (family.instances.contains(key)) continue;
                Instance copy = model;
                copy.index = 8 * k;
                copy.factoryText = "0";
                family.instances.emplace(key, std::move(copy));
            }
        }
        family.deviceWide = true;
    }
}

std::vector<std::uint8_t> DeviceModel::FactoryData(const Instance& inst) const {
    const SizeRule rule = SizeRuleFor(inst.conv);
    if (!inst.factoryText.empty()) {
        std::uint8_t buffer[MyConverter::kMaxRawData];
        int count = 0;
        if (inst.conv.ConvertToData(inst.factoryText, buffer, count) == 1 &&
            count >= static_cast<int>(rule.minWrite) && count <= static_cast<int>(rule.maxWrite))
            return Normalise(inst.conv, buffer, static_cast<std::size_t>(count));
    }
    // Nothing sensible to start from: zeros of the type's size.
    return std::vector<std::uint8_t>(rule.initial, 0);
}

void DeviceModel::SetText(std::string_view name, const std::string& text) {
    Instance* inst = Find(name, -1);
    if (!inst) return;
    std::uint8_t buffer[MyConverter::kMaxRawData];
    int count = 0;
    if (inst->conv.ConvertToData(text, buffer, count) == 1 && count > 0)
        inst->data = Normalise(inst->conv, buffer, static_cast<std::size_t>(count));
}

void DeviceModel::InitialiseValues() {
    for (auto& [hash, family] : families_)
        for (auto& [key, inst] : family.instances)
            inst.data = FactoryData(inst);

    // The network settings have no factory value: the device has its own.
    SetText("Addr", Format("%d", settings_.address));
    SetText("A.Len", settings_.addressLength == 11 ? "11" : "8");
    SetText("bPS", "9600");
    SetText("bPS", Format("%d", settings_.baud));
    SetText("LEn", "8");
    SetText("PrtY", "No Parity");
    SetText("Sbit", "1");
    InitialiseObjects();
}

void DeviceModel::InitialiseObjects() {
    // An object the description knows and that has channels runs from power-on.
    for (int k = 0; k < kObjectOffsets; ++k)
        if (Instance* state = Find("r.St", k))
            state->data = {static_cast<std::uint8_t>(k < objects_ && ObjectChannels(k) >= 1)};
}

void DeviceModel::ResetToFactory() {
    for (auto& [hash, family] : families_) {
        if (family.role != Role::Stored) continue;
        for (auto& [key, inst] : family.instances) {
            if (inst.factoryText.empty()) continue;
            inst.data = FactoryData(inst);
            inst.written = false;
        }
    }
    stateChanged_ = true;
}

std::size_t DeviceModel::InstanceCount() const {
    std::size_t n = 0;
    for (const auto& [hash, family] : families_)
        n += family.instances.size();
    return n;
}

DeviceModel::Family* DeviceModel::FindFamily(std::string_view name) {
    auto it = families_.find(hash_name(name));
    return it == families_.end() ? nullptr : &it->second;
}

const DeviceModel::Family* DeviceModel::FindFamily(std::string_view name) const {
    auto it = families_.find(hash_name(name));
    return it == families_.end() ? nullptr : &it->second;
}

DeviceModel::Instance* DeviceModel::Find(std::string_view name, int index) {
    return const_cast<Instance*>(std::as_const(*this).Find(name, index));
}

const DeviceModel::Instance* DeviceModel::Find(std::string_view name, int index) const {
    const Family* family = FindFamily(name);
    if (!family) return nullptr;
    // `index` is the instance number: the linear index of an indexed family,
    // the address offset of an addressed one.
    const Key key = family->indexed     ? Key{0, index}
                    : family->addressed ? Key{std::max(index, 0), -1}
                                        : Key{0, -1};
    auto it = family->instances.find(key);
    return it == family->instances.end() ? nullptr : &it->second;
}

int DeviceModel::StoredByte(std::string_view name, int index) const {
    const Instance* inst = Find(name, index);
    return inst && !inst->data.empty() ? inst->data[0] : -1;
}

std::optional<double> DeviceModel::Number(std::string_view name, int index) const {
    const Instance* inst = Find(name, index);
    if (!inst) return std::nullopt;
    return NumericValue(inst->conv, inst->data.data(), inst->data.size());
}

Reply DeviceModel::Handle(int offset, bool read, std::uint16_t hash, const std::uint8_t* data,
                          std::size_t count, double now) {
    auto fail = [&](std::uint8_t code) {
        lastError_ = code;
        Reply reply;
        reply.kind = Reply::Kind::Error;
        reply.code = code;
        return reply;
    };
    // The access code opens the one exchange that follows it, whatever that is.
    passGranted_ = std::exchange(unlocked_, false);
    // The device never answers "APLY".
    if (hash == kApplyHash) return Reply{};
    auto it = families_.find(hash);
    if (it == families_.end()) return fail(DeviceError::kUnknownName);
    Family& family = it->second;

    // A plain parameter lives at the device's own address only.
    if (offset != 0 && !family.addressed && !family.deviceWide)
        return fail(DeviceError::kUnknownName);
    // The size is checked before the index, which is found only by its
    // place after a value of the expected size.
    const std::size_t indexBytes = family.indexed ? 2 : 0;
    if (count < indexBytes) return fail(DeviceError::kBadSize);
    const std::size_t valueCount = count - indexBytes;
    if (read ? valueCount != 0 : !family.instances.empty() && !SizeFits(family, valueCount))
        return fail(DeviceError::kBadSize);
    const int index = family.indexed ? (data[count - 2] << 8) | data[count - 1] : -1;

    auto found = family.instances.find(Key{family.deviceWide ? 0 : offset, index});
    if (found == family.instances.end()) return fail(DeviceError::kIndexTooLarge);
    Instance& inst = found->second;
    if (!read)
        if (const std::uint8_t code = Write(family, inst, data, valueCount); code != 0)
            return fail(code);

    Reply reply;
    reply.kind = Reply::Kind::Data;
    reply.data = ReadValue(family, inst, now);
    reply.key = KeyOf(inst);
    MyConverter conv = inst.conv;
    if (conv.ConvertFromData(reply.data.data(), static_cast<int>(reply.data.size()), false) != 0)
        reply.text = conv.value;
    const std::size_t room = kMaxFrameData - indexBytes;
    if (reply.data.size() > room) reply.data.resize(room);
    if (family.indexed) {
        reply.data.push_back(static_cast<std::uint8_t>(index >> 8));
        reply.data.push_back(static_cast<std::uint8_t>(index & 0xFF));
    }
    return reply;
}

bool DeviceModel::SizeFits(const Family& family, std::size_t count) const {
    // The instances of a family share their type.
    const SizeRule rule = SizeRuleFor(family.instances.begin()->second.conv);
    return count >= rule.minWrite && count <= rule.maxWrite;
}

bool DeviceModel::Decodable(const Instance& inst, const std::vector<std::uint8_t>& value) const {
    const MyConverter& conv = inst.conv;
    if (conv.IsEnumeration()) return value.size() == 1 && value[0] < conv.Labels().size();
    const std::string_view type = conv.type;
    const std::string_view first = type.substr(0, type.find(':'));
    if (EqualsNoCase(first, "datetime"))
        return value.size() == 7 && value[1] < 12 && value[2] < 31 && value[3] < 24 &&
               value[4] < 60 && value[5] < 60;
    if (EqualsNoCase(first, "time"))
        return value.size() == 4 && value[0] < 24 && value[1] < 60 && value[2] < 60;
    MyConverter probe = conv;
    return probe.ConvertFromData(value.data(), static_cast<int>(value.size()), false) == 1;
}

std::uint8_t DeviceModel::Write(Family& family, Instance& inst, const std::uint8_t* data,
                                std::size_t count) {
    if (!inst.writable) return DeviceError::kWriteRefused;
    // One protected write per correct access code, right after it.
    if (inst.protectedWrite && !passGranted_) return DeviceError::kWriteRefused;
    std::vector<std::uint8_t> bytes(data, data + count);
    // At its full access level the master marks an access attribute with 0xAC.
    if (count == 1 && IsAccessAttributeEnumeration(inst.conv) && bytes[0] >= kFullAccessMark &&
        bytes[0] < kFullAccessMark + 4)
        bytes[0] = static_cast<std::uint8_t>(bytes[0] - kFullAccessMark);

    const SizeRule rule = SizeRuleFor(inst.conv);
    if (count < rule.minWrite || count > rule.maxWrite) return DeviceError::kBadSize;
    const std::string_view type = inst.conv.type;
    if (EqualsNoCase(type.substr(0, type.find(':')), "STORED DOT") &&
        StoredDotPoint(bytes.data(), bytes.size()) > 3)
        return DeviceError::kPointTooFar;
    std::vector<std::uint8_t> value = Normalise(inst.conv, bytes.data(), bytes.size());
    if (!Decodable(inst, value)) return DeviceError::kBadValue;
    if (rule.numeric && (inst.conv.minValue != 0 || inst.conv.maxValue != 0)) {
        const auto number = NumericValue(inst.conv, value.data(), value.size());
        if (!number || !InRange(*number, inst.conv.minValue, inst.conv.maxValue))
            return DeviceError::kBadValue;
    }
    if (const std::uint8_t code = CheckCombination(family, value); code != 0) return code;

    if (family.role == Role::Clock) {
        // The clock keeps running: remember how far it is set from the wall clock.
        std::tm set{};
        set.tm_year = 100 + value[0];
        set.tm_mon = value[1];
        set.tm_mday = value[2] + 1;
        set.tm_hour = value[3];
        set.tm_min = value[4];
        set.tm_sec = value[5];
        const std::time_t wall = WallNow();
        std::tm local{};
        localtime_r(&wall, &local);
        clockOffset_ =
            static_cast<long long>(timegm(&set)) - static_cast<long long>(timegm(&local));
        stateChanged_ = true;
        return DeviceError::kNone;
    }
    inst.data = std::move(value);
    inst.written = true;
    stateChanged_ = true;
    AfterWrite(family, inst);
    return DeviceError::kNone;
}

std::uint8_t DeviceModel::CheckCombination(const Family& family,
                                           const std::vector<std::uint8_t>& value) const {
    const std::string& name = family.name;
    const Instance& inst = family.instances.begin()->second;
    if (EqualsNoCase(name, "Addr")) {
        const auto address = NumericValue(inst.conv, value.data(), value.size());
        if (address && *address > 255 && StoredByte("A.Len", -1) == 0)
            return DeviceError::kBadCombination;
    } else if (EqualsNoCase(name, "A.Len")) {
        const auto address = Number("Addr", -1);
        if (value[0] == 0 && address && *address > 255) return DeviceError::kBadCombination;
    } else if (EqualsNoCase(name, "LEn") || EqualsNoCase(name, "Sbit") ||
               EqualsNoCase(name, "PrtY")) {
        // Eight data bits with two stop bits leave no room for a parity bit.
        auto label = [&](const char* setting) {
            const Instance* other = Find(setting, -1);
            if (!other || other->data.empty()) return std::string();
            const std::uint8_t index = EqualsNoCase(name, setting) ? value[0] : other->data[0];
            return other->conv.IndexToLabel(index);
        };
        const std::string parity = label("PrtY");
        if (label("LEn") == "8" && label("Sbit") == "2" &&
            (EqualsNoCase(parity, "Even") || EqualsNoCase(parity, "Odd")))
            return DeviceError::kBadCombination;
    }
    return DeviceError::kNone;
}

void DeviceModel::AfterWrite(const Family& family, const Instance& inst) {
    const std::string& name = family.name;
    if (EqualsNoCase(name, "pass")) {
        const auto code = NumericValue(inst.conv, inst.data.data(), inst.data.size());
        unlocked_ = code && *code == settings_.accessCode;
    } else if (EqualsNoCase(name, "r.co")) {
        if (inst.data[0] != 0) ResetToFactory();
    } else if (EqualsNoCase(name, "r-s")) {
        // A start or stop over the network needs "str.s" to allow it; an
        // object without channels does not start. Either way the command is
        // taken: the master sees the refusal in the object's state.
        if (StoredByte("str.s", -1) == 0) return;
        const int k = inst.offset;
        Instance* state = Find("r.St", k);
        if (!state) return;
        if (inst.data[0] == 0)
            state->data = {0};
        else if (ObjectChannels(k) >= 1)
            state->data = {1};
    }
}

std::vector<std::uint8_t> DeviceModel::ReadValue(const Family& family, const Instance& inst,
                                                 double now) const {
    const int k = family.addressed ? inst.offset : std::max(inst.index, 0);
    switch (family.role) {
        case Role::Stored:
        case Role::ObjectState:
            return inst.data;
        case Role::LastError:
            return {lastError_};
        case Role::Identity: {
            const std::string& text = EqualsNoCase(family.name, "dev")   ? identity_.dev
                                      : EqualsNoCase(family.name, "ver") ? identity_.ver
                                                                         : identity_.pver;
            // Code page 1251, last character first.
            const std::string bytes = Utf8ToCp1251(text);
            return std::vector<std::uint8_t>(bytes.rbegin(), bytes.rend());
        }
        case Role::RestartCause:
            return {0, 0, settings_.restartCause};
        case Role::Reading:
            return ReadingData(family.name, k, now);
        case Role::OutputLevel: {
            std::vector<std::uint8_t> data = FloatData(OutputLevel(k, now));
            data.resize(SizeRuleFor(inst.conv).initial);
            return data;
        }
        case Role::InputBits:
            // A binary counter that ticks every two seconds.
            return {static_cast<std::uint8_t>(static_cast<long long>(now / 2) & 0xFF)};
        case Role::OutputBits: {
            std::uint8_t bits = 0;
            if (const Family* outputs = FindFamily("r.oe"))
                for (const auto& [key, output] : outputs->instances) {
                    const int n = outputs->addressed ? output.offset : std::max(output.index, 0);
                    if (n < 8 && OutputLevel(n, now) > 50)
                        bits |= static_cast<std::uint8_t>(1u << n);
                }
            return {bits};
        }
        case Role::Clock:
            return ClockData();
    }
    return inst.data;
}

std::vector<std::uint8_t> DeviceModel::ReadingData(std::string_view name, int k, double now) const {
    const double phase = 0.7 * k;
    if (EqualsNoCase(name, "rEAd")) {
        if (StoredByte("in.t", k) == 0) return StatusData(kSensorOff);
        const int inputs = InputCount();
        const double cycle = std::fmod(now, kBreakCycle);
        if (inputs >= 2 && k == inputs - 1 && cycle >= kBreakFrom && cycle < kBreakTo)
            return StatusData(kSensorBreak);
        return FloatData(20 + 5 * k + 10 * Wave(now, 60, phase));
    }
    if (EqualsNoCase(name, "rd.rg")) {
        // A channel records its input; a channel without one records 0.
        const int input = StoredByte("ch.in", k);
        if (input == 0) return FloatData(0);
        if (input > 0) return ReadingData("rEAd", input - 1, now);
        return FloatData(25 + 10 * Wave(now, 60, phase));
    }
    if (EqualsNoCase(name, "r.CAL") || EqualsNoCase(name, "r.OUt")) {
        if (StoredByte("cv.t", k) == 0) return StatusData(kConverterStatus, kConverterOff);
        return FloatData(50 + 20 * Wave(now, 120, phase));
    }
    if (EqualsNoCase(name, "Set.P")) {
        if (!ObjectRunning(k % objects_) || StoredByte("rg.md", k) == 0)
            return StatusData(kNoSetPoint);
        return FloatData(Number("rg.SP", k).value_or(0));
    }
    return FloatData(0);
}

std::time_t DeviceModel::WallNow() const {
    return settings_.wallClock ? settings_.wallClock() : std::time(nullptr);
}

std::vector<std::uint8_t> DeviceModel::ClockData() const {
    const std::time_t wall = WallNow();
    std::tm local{};
    localtime_r(&wall, &local);
    const std::time_t shown = static_cast<std::time_t>(timegm(&local) + clockOffset_);
    std::tm t{};
    gmtime_r(&shown, &t);
    auto byte = [](int v) { return static_cast<std::uint8_t>(v); };
    return {byte(t.tm_year % 100),
            byte(t.tm_mon),
            byte(t.tm_mday - 1),
            byte(t.tm_hour),
            byte(t.tm_min),
            byte(t.tm_sec),
            0x61};
}

bool DeviceModel::ObjectRunning(int k) const {
    return StoredByte("r.St", k) == 1;
}

int DeviceModel::ObjectChannels(int k) const {
    return static_cast<int>(Number("n.Ch", 8 * k).value_or(0));
}

int DeviceModel::InputCount() const {
    const Family* inputs = FindFamily("rEAd");
    return inputs ? static_cast<int>(inputs->instances.size()) : 0;
}

float DeviceModel::OutputLevel(int k, double now) const {
    if (!ObjectRunning(k % objects_)) return 0;
    return static_cast<float>(50 + 45 * Wave(now, 90, 0.9 * k));
}

std::optional<NetworkSettings> DeviceModel::Apply() const {
    const auto address = Number("Addr", -1);
    const int lengthIndex = StoredByte("A.Len", -1);
    if (!address) return std::nullopt;
    const int length = lengthIndex == 1 ? 11 : 8;
    const int a = static_cast<int>(*address);
    if (a < 0 || a > (length == 11 ? 2047 : 255)) return std::nullopt;
    return NetworkSettings{a, length};
}

std::string DeviceModel::NameOf(std::uint16_t hash) const {
    auto it = families_.find(hash);
    return it == families_.end() ? std::string() : it->second.name;
}

bool DeviceModel::IsIndexed(std::uint16_t hash) const {
    auto it = families_.find(hash);
    return it != families_.end() && it->second.indexed;
}

bool DeviceModel::TakeStateChanged() {
    return std::exchange(stateChanged_, false);
}

std::string DeviceModel::SaveState() const {
    const CDeviceDescription* description = FindDeviceDescription(displayName_);
    std::string out = "# selvar-sim state: values written to the device\n";
    out += "modification ";
    out += description ? description->alias : "?";
    out += '\n';
    if (clockOffset_ != 0) out += Format("clock-offset %lld\n", clockOffset_);
    for (const auto& [hash, family] : families_)
        for (const auto& [key, inst] : family.instances) {
            if (!inst.written || IsServingAddress(family.name)) continue;
            out += "value " + family.name;
            if (inst.index >= 0) out += Format(":%d", inst.index);
            if (inst.offset != 0) out += Format("@%d", inst.offset);
            out += ' ' + Hex(inst.data) + '\n';
        }
    return out;
}

std::string DeviceModel::KeyOf(const Instance& inst) {
    std::string key = inst.conv.name;
    if (inst.index >= 0) key += Format(":%d", inst.index);
    if (inst.offset != 0) key += Format("@%d", inst.offset);
    return key;
}

std::string DeviceModel::Dump() const {
    std::string out;
    for (const auto& [hash, family] : families_)
        for (const auto& [key, inst] : family.instances) {
            const std::string name = KeyOf(inst);
            // Only a write changes a kept value; the others change by themselves.
            const bool kept = family.role == Role::Stored || family.role == Role::ObjectState;
            if (!kept) {
                out += name + "\tlive\t-\t-\t-\n";
                continue;
            }
            MyConverter conv = inst.conv;
            const int decoded =
                conv.ConvertFromData(inst.data.data(), static_cast<int>(inst.data.size()), false);
            const auto number = NumericValue(inst.conv, inst.data.data(), inst.data.size());
            out += name + "\tkept\t" + (inst.data.empty() ? "-" : Hex(inst.data)) + '\t' +
                   (number ? Format("%.9g", *number) : "-") + '\t' +
                   (decoded == 0 ? "-" : conv.value) + '\n';
        }
    return out;
}

bool DeviceModel::LoadState(std::string_view text, std::string& warning) {
    warning.clear();
    const std::vector<std::string> lines = Split(text, '\n');
    for (const std::string& raw : lines) {
        const std::vector<std::string> words = Words(raw);
        if (words.size() == 2 && words[0] == "modification" &&
            FindDeviceDescription(words[1]) != FindDeviceDescription(displayName_)) {
            warning = "the state belongs to " + words[1] + ", not to " + displayName_;
            return false;
        }
    }
    std::size_t skipped = 0;
    for (const std::string& raw : lines) {
        const std::vector<std::string> words = Words(raw);
        if (words.empty() || words[0].starts_with('#')) continue;

        if (words[0] == "modification" && words.size() == 2) continue;
        std::int64_t number = 0;
        if (words[0] == "clock-offset" && words.size() == 2 && ParseWholeInt(words[1], number)) {
            clockOffset_ = number;
            continue;
        }
        if (words[0] != "value" || words.size() != 3) {
            ++skipped;
            continue;
        }
        // name[:index][@offset]
        std::string_view key = words[1];
        std::int64_t index = -1;
        std::int64_t offset = 0;
        const std::size_t at = key.find('@');
        if (at != std::string_view::npos) {
            if (!ParseWholeInt(key.substr(at + 1), offset)) offset = -1;
            key = key.substr(0, at);
        }
        const std::size_t colon = key.find(':');
        if (colon != std::string_view::npos) {
            if (!ParseWholeInt(key.substr(colon + 1), index) || index < 0) index = -2;
            key = key.substr(0, colon);
        }
        std::vector<std::uint8_t> data;
        auto it = families_.find(hash_name(key));
        if (it == families_.end() || index < -1 || index > 0xFFFF || offset < 0 ||
            offset >= kObjectOffsets || !ParseHex(words[2], data)) {
            ++skipped;
            continue;
        }
        Family& family = it->second;
        const bool network = IsServingAddress(family.name);
        auto found = family.instances.find(
            Key{family.deviceWide ? 0 : static_cast<int>(offset), static_cast<int>(index)});
        if (network || family.role != Role::Stored || found == family.instances.end()) {
            ++skipped;
            continue;
        }
        Instance& inst = found->second;
        const SizeRule rule = SizeRuleFor(inst.conv);
        if (data.size() < rule.minWrite || data.size() > std::max(rule.maxWrite, rule.initial) ||
            !Decodable(inst, Normalise(inst.conv, data.data(), data.size()))) {
            ++skipped;
            continue;
        }
        inst.data = Normalise(inst.conv, data.data(), data.size());
        inst.written = true;
    }
    InitialiseObjects();
    if (skipped > 0) warning = Format("%zu line(s) of the state skipped", skipped);
    return true;
}

}  // namespace sim
