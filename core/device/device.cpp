#include "device/device.h"

#include <fstream>

#include "device/polling.h"
#include "device/program_modes.h"
#include "platform/app_state.h"
#include "platform/text.h"
#include "platform/ui_services.h"

namespace {

std::atomic<Device*> g_current{nullptr};
std::atomic<int> g_timeouts{0};

constexpr int kWatchdogLimit = 4;  // the fifth failure in a row fires

constexpr const char* kTimeoutWarning =
    "Так как прошло %i неудачных попыток чтения параметров подряд,\n"
    "похоже что прибор Пеллум не подключен к компьютеру\n"
    "(или связь стабильно отсутствует по какой-либо другой причине). \n"
    "Ради избежания бессмысленных задержек и торможения компьютера\n";
constexpr const char* kAutoReadOff =
    "режим автоматического чтения параметров был отключен.\n"
    "Вы можете заново включить этот режим в меню \"Режимы программы\".\n\n";
constexpr const char* kSuspended = "Операции обмена приостановлены.";
constexpr const char* kWriteWatchdog = "Прошло 5 безуспешных попыток записи!";

constexpr const char* kNetworkNames[] = {"bPS", "LEn", "PrtY", "Sbit", "A.Len", "Addr"};

std::string LinePrefix(const char* head, const Parameter& p) {
    std::string prefix = head + p.name;
    if (p.hasLinearIndex) prefix = Format("%s:%i", prefix.c_str(), p.linearIndex);
    return prefix;
}

bool IsTimeout(int result, const Parameter& p) {
    return result != 0 && EqualsNoCase(p.error, Device::kTimeoutText);
}

bool IsNetworkName(const std::string& name) {
    for (const char* n : kNetworkNames)
        if (EqualsNoCase(name, n)) return true;
    return false;
}

// A parameter that exchanges like p but whose value and error are its own,
// so that a comparison leaves the configuration's value untouched.
void CopyForExchange(const Parameter& p, Parameter& copy) {
    copy.name = p.name;
    copy.value = p.value;
    copy.type = p.type;
    copy.decimals = p.decimals;
    copy.maxValue = p.maxValue;
    copy.minValue = p.minValue;
    copy.hasLinearIndex = p.hasLinearIndex;
    copy.linearIndex = p.linearIndex;
    copy.deviceAddress = p.deviceAddress;
    copy.writable = p.writable;
    copy.treeWritable = p.treeWritable;
    copy.accessAttribute = p.accessAttribute;
    copy.ownerAttribute = p.ownerAttribute;
    copy.attributeKind = p.attributeKind;
    copy.linked = p.linked;
    copy.bindingKind = p.bindingKind;
    copy.description = p.description;
    copy.treeLabel = p.treeLabel;
    copy.operationStamp = p.operationStamp;
}

const char* AccessText(std::uint8_t access) {
    return access ? "Редактируемый" : "Не редактируемый";
}
const char* OwnerText(std::uint8_t owner) {
    return owner ? "фирме" : "пользователю";
}

}  // namespace

ProgramModes& Modes() {
    static ProgramModes modes;
    return modes;
}

SharedOperationState& OperationState() {
    static SharedOperationState state;
    return state;
}

Device* CurrentDevice() {
    return g_current.load();
}

int ConsecutiveTimeouts() {
    return g_timeouts.load();
}

void ResetConsecutiveTimeouts() {
    g_timeouts = 0;
}

void RecordCheckOutcome(std::uint8_t flags) {
    if (Startup().silent)
        Outcome::Reset(0);
    else if (flags & CheckFlags::kKnownModification)
        Outcome::Clear(Outcome::kBadAnswers | Outcome::kUnknownDevice);
    else if (flags & CheckFlags::kAnswered)
        Outcome::Reset(Outcome::kUnknownDevice);
}

Device::Device() {
    g_current = this;
    const std::vector<CDeviceDescription>& all = DeviceDescriptions();
    if (!all.empty()) LoadTable(all.front());
}

Device::~Device() {
    // The polling threads refer to the table, which goes first.
    if (pollingThreads) StopPolling(*this);
    Device* self = this;
    g_current.compare_exchange_strong(self, nullptr);
}

void Device::DropReferences() {
    singleTarget = nullptr;
    groupList.clear();
    groupCount = 0;
    groupMode = 0;
    elements.Clear();
    structure.fill(nullptr);
    autoReadCursor = 0;
}

TableLoadStatus Device::LoadTable(const CDeviceDescription& description) {
    return LoadTable(DescriptionPath(description.parametersFile));
}

TableLoadStatus Device::LoadTable(const std::string& path) {
    if (pollingThreads) StopPolling(*this);
    DropReferences();
    table_.Clear();
    return LoadParameterTable(table_, path);
}

Parameter* Device::FindParameter(std::string_view name, int index) const {
    return table_.Find(name, index);
}

void Device::ResetSession() {
    for (Parameter& p : table_.All())
        p.autoReadPending = false;
    elements.Clear();
}

void Device::LogLine(const std::string& text, bool bold, std::uint32_t colour, bool italic) {
    ProgressLog* log = progressLog_.load();
    if (!log) return;
    logLength += Utf8Length(text);
    log->LogLine(text, bold, colour, italic);
}

void Device::AppendErrorLog(const Parameter& p) const {
    if (errorLogPath.empty() || p.error.empty()) return;
    std::string line = p.name;
    if (p.hasLinearIndex) line += Format(":%d", p.linearIndex);
    line += " - " + p.error + "\n";
    std::ofstream file(errorLogPath, std::ios::binary | std::ios::app);
    file << line;
}

bool Device::CountTimeout() {
    if (g_timeouts.fetch_add(1) + 1 <= kWatchdogLimit) return false;
    g_timeouts = 0;
    stopEvent.Set();
    return true;
}

std::string Device::CheckDevice(std::string& errorText, std::uint8_t* flags, bool show) {
    std::string report;
    errorText.clear();
    connectedKey_.clear();
    connectedDescription_ = nullptr;
    // Without a first answer nothing is known of the device.
    if (flags) *flags = 0;
    Parameter* nErr = FindParameter("n.Err");
    Parameter* dev = FindParameter("dev");
    Parameter* ver = FindParameter("ver");
    Parameter* pVer = FindParameter("p.ver");

    if (nErr && ReadParameter(*nErr) != 0)
        errorText = Format("Ошибка команды 'n.Err':\n%s\n", nErr->error.c_str());

    if (dev && ReadParameter(*dev) != 0) {
        errorText += "Ошибка команды 'dev':\n" + dev->error + "\n";
    } else if (dev) {
        dev->value = std::string(TrimRight(dev->value));
        report = "Прибор: " + dev->value + "\n";
        if (flags) *flags |= CheckFlags::kAnswered;
        if (pVer && ReadParameter(*pVer) != 0) {
            errorText += "Ошибка команды 'p_ver':\n" + pVer->error + "\n";
        } else if (pVer) {
            report += "(Модификация: " + pVer->value + ")\n";
            connectedKey_ = dev->value + "-" + std::string(Utf8Prefix(pVer->value, 2));
            // The program's map is keyed by the exact display names; the
            // lookup also accepts aliases and other letter cases.
            const CDeviceDescription* d = FindDeviceDescription(connectedKey_);
            if (d && d->displayName == connectedKey_) {
                connectedDescription_ = d;
                if (flags) *flags |= CheckFlags::kKnownModification;
            }
        }
    }

    if (ver && ReadParameter(*ver) == 0)
        report += "Версия прошивки: " + ver->value + "\n";
    else if (ver)
        errorText += "Ошибка команды 'ver':\n" + ver->error + "\n";

    if (nErr && nErr->value != Parameter::kNoData)
        report += "Код послед. ошибки: " + nErr->value + "\n";

    if (show) {
        if (!errorText.empty()) ShowMessage(errorText, {}, MessageIcon::Error);
        if (!report.empty()) ShowMessage(report, "Проверка прибора", MessageIcon::Information);
    }
    return report;
}

int Device::ReadParameter(Parameter& p) {
    if (StopRequested()) return kStopped;
    ++Counters().processed;
    if (p.linearIndex < 0) return kNegativeIndex;
    std::string prefix = LinePrefix("  Чтение: ", p);

    int r = exchange_parameter(Direction::Read, p);
    if (r != 0) AppendErrorLog(p);

    if (IsTimeout(r, p)) {
        int count = g_timeouts.load() + 1;
        if (CountTimeout()) {
            std::string text = Format(kTimeoutWarning, count);
            autoReadSuspended = true;
            if (Modes().autoRead.exchange(false)) text += kAutoReadOff;
            text += kSuspended;
            if (!Startup().driven) ShowMessage(text, "Предупреждение", MessageIcon::Exclamation);
        }
    } else {
        g_timeouts = 0;
        autoReadSuspended = false;
        if (onReadCompleted) onReadCompleted();
    }

    bool failed = r != 0;
    LogLine(prefix + " = " + p.value, failed, failed ? LogColour::kReadFailed : LogColour::kBlack,
            false);
    return r;
}

int Device::WriteParameter(Parameter& p, int mode) {
    if (StopRequested()) return kStopped;
    // A value never read or set is a remark, not a failure.
    if (mode >= 0 && p.value == Parameter::kNoData) {
        p.error = Parameter::kNotInitialised;
        return ExchangeCode::kOk;
    }
    // The instant write has no window: the status bar shows it instead.
    struct StatusBarProgress {
        Device& d;
        const bool shown = Modes().instantWrite && !d.GetProgressLog();
        explicit StatusBarProgress(Device& device) : d(device) {
            if (!shown || d.Port().ShutdownEvent().IsSet()) return;
            Notifications().ProgressOn();
            Notifications().ProgressPosition(100);
        }
        ~StatusBarProgress() {
            if (!shown || d.Port().ShutdownEvent().IsSet()) return;
            Notifications().ProgressOff();
            Notifications().Refresh();
        }
    } statusBar(*this);
    const std::string toWrite = mode < 0 ? p.defaultValue : p.value;
    if (toWrite == Parameter::kNoData) {
        p.error = Parameter::kNotInitialised;
        return kNothingToWrite;
    }
    std::string prefix = LinePrefix(mode < 0 && p.forceWrite ? "Проверка:" : "  Запись: ", p);
    if (p.linearIndex < 0) return kNegativeIndex;

    if (mode < 0) {
        if (p.forceWrite) {
            // The device keeps a value it already holds: writing it again
            // would contradict the "[не меняем]" line and double the traffic.
            int check = exchange_parameter(Direction::Read, p);
            if (check == 0 && p.error.empty() && p.value == p.defaultValue) {
                g_timeouts = 0;
                LogLine(prefix + " = " + p.defaultValue + " [не меняем]", false, LogColour::kBlack,
                        false);
                return ExchangeCode::kOk;
            }
            LogLine(prefix + " =?= " + p.defaultValue + " [проверка]", false, LogColour::kBlack,
                    false);
        }
        p.value = p.defaultValue;
    }

    int r = exchange_parameter(Direction::Write, p);
    if (r != 0) AppendErrorLog(p);
    if (r == 0 && IsNetworkName(p.name)) OperationState().networkParametersWritten = true;

    bool failed = r != 0;
    LogLine(prefix + " = " + toWrite + " [новое значение]", failed,
            failed ? LogColour::kWriteFailed : LogColour::kBlack, false);

    if (r < 0 || IsTimeout(r, p)) {
        if (CountTimeout()) LogLine(kWriteWatchdog, true, LogColour::kWriteFailed, false);
    } else {
        // Any outcome other than a timeout shows that the line is alive.
        g_timeouts = 0;
    }
    return r;
}

int Device::CompareParameter(Parameter& p) {
    if (StopRequested()) return kCompareStopped;
    if (p.linearIndex < 0) return kNegativeIndex;
    Parameter copy;
    CopyForExchange(p, copy);
    // The index belongs to the name, as in the read and write lines.
    std::string line = LinePrefix("  Сравниваем: ", p) + "=" + p.value;

    int r = exchange_parameter(Direction::Read, copy);
    LogLine(line + "<>" + copy.value, false, LogColour::kBlack, false);

    if (p.value == Parameter::kNoData) {
        ++unsetCount;
        return r;
    }
    if (p.value != copy.value || p.ownerAttribute != copy.ownerAttribute ||
        p.accessAttribute != copy.accessAttribute) {
        int before = differenceCount++;
        if (before < 10) {
            differences += Format("\n%i) Параметер '", differenceCount) + p.name + " (" +
                           p.DisplayDescription() + ") в конфигурации: значение=" + p.value + "," +
                           AccessText(p.accessAttribute) + ",принадлежит " +
                           OwnerText(p.ownerAttribute) + "; в приборе: значение=" + copy.value +
                           "," + AccessText(copy.accessAttribute) + ",принадлежит " +
                           OwnerText(copy.ownerAttribute) + ".\n";
            std::string remark = std::string(Parameter::kDeviceValuePrefix) + " '" + copy.value +
                                 "'," + (copy.accessAttribute ? "Ред-ый," : "Не ред-ый,") +
                                 (copy.ownerAttribute ? "фирм." : "польз.");
            if (!p.error.empty()) remark += "; ";
            p.error = remark + p.error;
        }
    }
    return r;
}
