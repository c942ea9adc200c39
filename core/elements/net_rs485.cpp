#include "elements/net_rs485.h"

#include "link/sio.h"
#include "platform/settings_store.h"
#include "platform/text.h"

namespace Elements {

namespace {

struct Setting {
    const char* name;
    const char* description;
    const char* type;
};

constexpr Setting kSettings[] = {
    {"bPS", "Скорость обмена", "1200:2400:4800:9600:14400:19200:28800:38400:57600:115200"},
    {"LEn", "Длина слова данных", "5:6:7:8"},
    {"PrtY", "Четность", "Even:Odd:Space:Mark:No Parity"},
    {"Sbit", "Кол-во стоп-бит", "1:1.5:2"},
    {"A.Len", "Длина адреса RS-485", "8:11"},
    {"Addr", "Собственный адрес прибора", "DEC dot"},
};

// Settings-store values of the program's side: store name, setting, default.
struct Stored {
    const char* key;
    const char* setting;
    std::int32_t fallback;
};
constexpr Stored kStoredNumbers[] = {{"address", "Addr", 16},
                                     {"address_length", "A.Len", 8},
                                     {"baud_rate", "bPS", 9600},
                                     {"byte_size", "LEn", 8},
                                     {"stop_bits", "Sbit", 1}};

std::int64_t ValueAsInt(const InvisibleElement& e, const char* name) {
    std::int64_t v = 0;
    return ParseLeadingInt(e.GetValue(name), v) > 0 ? v : 0;
}

}  // namespace

void NetRS485::CreateSettings() {
    ObjectWithParameters::DeleteParameters();
    ownsParameters = true;
    for (const Setting& s : kSettings) {
        auto* p = new Parameter;
        p->name = s.name;
        p->description = s.description;
        p->type = s.type;
        AddParameter(p);
    }
}

void NetRS485::DeleteParameters() {
    CreateSettings();
}

void NetRS485prg::DeleteParameters() {
    CreateSettings();
    SettingsStore& store = SettingsStore::Instance();
    for (const Stored& s : kStoredNumbers)
        SetValue(s.setting, Format("%i", store.ReadNumber(s.key, s.fallback)), false);
    if (Parameter* parity = FindParameter("PrtY"))
        parity->value = parity->IndexToLabel(store.ReadNumber("parity_scheme", 4));
    auto* port = new Parameter;
    port->name = "Port";
    port->description = "Порт компьютера";
    port->type = Sio::ListPorts();
    AddParameter(port);
    port->value = Format("COM%d", store.ReadNumber("port_number", 1));
    ClearChanges();
}

NetRS485prg::~NetRS485prg() {
    Store();
}

void NetRS485prg::Store() const {
    SettingsStore& store = SettingsStore::Instance();
    store.WriteNumber("address", static_cast<std::int32_t>(ValueAsInt(*this, "Addr")));
    store.WriteNumber("address_length", static_cast<std::int32_t>(ValueAsInt(*this, "A.Len")));
    store.WriteNumber("baud_rate", static_cast<std::int32_t>(ValueAsInt(*this, "bPS")));
    store.WriteNumber("byte_size", static_cast<std::int32_t>(ValueAsInt(*this, "LEn")));
    store.WriteNumber("stop_bits", static_cast<std::int32_t>(ValueAsInt(*this, "Sbit")));
    store.WriteNumber("parity_scheme", SettingIndex(*this, "PrtY"));
    std::string port = ReplaceAll(GetValue("Port"), "COM", "");
    std::int64_t n = 0;
    if (!port.empty() && ParseLeadingInt(port, n) == port.size() && n >= 0 && n <= INT32_MAX)
        store.WriteNumber("port_number", static_cast<std::int32_t>(n));
}

std::string NetRS485prg::SettingsSummary() const {
    return InvisibleElement::SettingsSummary() + "COM-порт: " + GetValue("Port") + "\r\n";
}

int SettingIndex(const InvisibleElement& element, const std::string& name) {
    const Parameter* p = element.FindParameter(name);
    if (!p) return -1;
    std::int64_t v = -1;
    ParseLeadingInt(p->LabelToIndexText(p->value), v);
    return static_cast<int>(v);
}

bool CheckCombination(const InvisibleElement& element, const std::string& editedName,
                      const std::string& newValue) {
    if (!EqualsNoCase(editedName, "prty") && !EqualsNoCase(editedName, "len") &&
        !EqualsNoCase(editedName, "sbit"))
        return true;
    auto current = [&](const char* name) {
        return EqualsNoCase(editedName, name) ? newValue : element.GetValue(name);
    };
    std::string parity = current("PrtY");
    return !(current("LEn") == "8" && current("Sbit") == "2" &&
             (EqualsNoCase(parity, "Even") || EqualsNoCase(parity, "Odd")));
}

bool CheckAddress(const InvisibleElement& element, const std::string& editedName,
                  const std::string& newValue, std::string& message) {
    constexpr const char* kTooBig = "Нельзя что бы адрес был >255 если длина адреса 8 бит!";
    std::int64_t address = 0;
    if (EqualsNoCase(editedName, "addr")) {
        std::string length = element.GetValue("A.Len");
        if (length == Parameter::kNoData) {
            message = "Вначале следует указать длину адреса.";
            return false;
        }
        if (length != "11" && ParseLeadingInt(newValue, address) > 0 && address >= 256) {
            message = kTooBig;
            return false;
        }
        return true;
    }
    if (EqualsNoCase(editedName, "a.len")) {
        std::string current = element.GetValue("Addr");
        if (current != Parameter::kNoData && newValue != "11" &&
            ParseLeadingInt(current, address) > 0 && address > 255) {
            message = kTooBig;
            return false;
        }
    }
    return true;
}

}  // namespace Elements
