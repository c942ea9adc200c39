#include "document/configuration_file.h"

#include <signal.h>
#include <sys/types.h>

#include <cctype>
#include <cerrno>
#include <filesystem>
#include <optional>
#include <vector>

#include "description/device_description.h"
#include "description/parameter_table.h"
#include "document/access_level.h"
#include "document/configuration_contents.h"
#include "elements/common_params.h"
#include "platform/archive.h"
#include "platform/settings_store.h"
#include "platform/text.h"
#include "platform/ui_services.h"

namespace Svx {

namespace {

std::string BaseName(const std::string& path) {
    return std::filesystem::path(path).filename().string();
}

// Room for a typical saved parameter: key, short texts and the fixed fields.
constexpr std::size_t kBytesPerRecord = 48;
constexpr std::size_t kHeaderBytes = 512;

// Parameters by record key; of two with one key the first added stays. Open
// addressing in one array: a load looks up every record.
class KeyIndex {
  public:
    explicit KeyIndex(std::size_t count) {
        std::size_t size = 16;
        while (size < 2 * count)
            size *= 2;
        slots_.resize(size);
        mask_ = size - 1;
    }
    void Add(std::uint32_t key, Parameter* p) {
        for (std::size_t i = Home(key);; i = (i + 1) & mask_) {
            Slot& s = slots_[i];
            if (!s.parameter) {
                s = {key, p};
                return;
            }
            if (s.key == key) return;
        }
    }
    Parameter* Find(std::uint32_t key) const {
        for (std::size_t i = Home(key);; i = (i + 1) & mask_) {
            const Slot& s = slots_[i];
            if (!s.parameter) return nullptr;
            if (s.key == key) return s.parameter;
        }
    }

  private:
    struct Slot {
        std::uint32_t key = 0;
        Parameter* parameter = nullptr;
    };
    std::size_t Home(std::uint32_t key) const {
        // The name hash sits in the low half and the index in the high one: mix both.
        return static_cast<std::size_t>((key * 0x9E3779B1u) >> 7) & mask_;
    }
    std::vector<Slot> slots_;
    std::size_t mask_ = 0;
};

// RecordKey for parameters in table order. The entries of an indexed
// parameter follow each other under one name, so its hash is worked out once
// for the run.
class RecordKeys {
  public:
    std::uint32_t operator()(const Parameter& p) {
        if (!known_ || p.name != name_) {
            name_ = p.name;
            hash_ = p.Hash();
            known_ = true;
        }
        std::uint32_t index =
            p.hasLinearIndex ? static_cast<std::uint32_t>(p.linearIndex) : 0xFFFFu;
        return (index << 16) + hash_;
    }

  private:
    std::string name_;
    std::uint16_t hash_ = 0;
    bool known_ = false;
};

// The owner of a temporary that a save names "NAME.svx.tmp.PID"; none for
// every other name.
std::optional<pid_t> TemporaryOwner(const std::string& name) {
    const std::size_t mark = name.rfind(".tmp.");
    if (mark == std::string::npos || mark < 4) return std::nullopt;
    std::string extension = name.substr(mark - 4, 4);
    for (char& c : extension)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (extension != ".svx" || mark == 4) return std::nullopt;
    const std::string digits = name.substr(mark + 5);
    if (digits.empty() || digits.size() > 9 || digits[0] == '0') return std::nullopt;
    for (char c : digits)
        if (c < '0' || c > '9') return std::nullopt;
    return static_cast<pid_t>(std::stol(digits));
}

// A process that exists, ours or another user's; a save of it may still run.
bool ProcessAlive(pid_t pid) {
    return kill(pid, 0) == 0 || errno != ESRCH;
}

}  // namespace

std::uint32_t RecordKey(const Parameter& p) {
    std::uint32_t index = p.hasLinearIndex ? static_cast<std::uint32_t>(p.linearIndex) : 0xFFFFu;
    return (index << 16) + p.Hash();
}

void Save(Archive& ar, int accessLevel, const std::string& modification,
          Elements::CommonParams& common, const ParameterTable& table) {
    if (ar.IsStoring()) ar.Reserve(ar.Size() + kHeaderBytes + table.Size() * kBytesPerRecord);
    ar.WriteI32(accessLevel);
    ar.WriteText(modification);
    common.Serialize(ar);
    ar.WriteText(BaseName(table.fileName));
    ar.WriteI32(static_cast<std::int32_t>(table.Size()));
    std::int32_t records = 0;
    for (const Parameter& p : table.All())
        if (!p.pollTimer) ++records;
    ar.WriteI32(records);
    RecordKeys keyOf;
    MainWindowNotifications& notices = Notifications();
    int shown = -1;
    std::int32_t written = 0;
    for (Parameter& p : table.All()) {
        if (p.pollTimer) continue;
        // Written and taken over before the file is renamed: at most 99.
        const int percent = static_cast<int>(std::int64_t{written} * 99 / records);
        if (percent != shown) notices.ProgressPosition(shown = percent);
        ar.WriteU32(keyOf(p));
        p.Serialize(ar);
        ++written;
    }
}

bool SaveFile(const std::string& path, int accessLevel, const std::string& modification,
              Elements::CommonParams& common, const ParameterTable& table, std::string& error) {
    MainWindowNotifications& notices = Notifications();
    notices.ProgressOn();
    Archive ar;
    Save(ar, accessLevel, modification, common, table);
    const std::vector<std::uint8_t>& data = ar.Data();
    std::string bytes(reinterpret_cast<const char*>(data.data()), data.size());
    RemoveStaleTemporaries(std::filesystem::path(path).parent_path().string());
    const bool written = WriteFileAtomically(path, bytes);
    if (written) notices.ProgressPosition(100);
    notices.ProgressOff();
    if (!written) {
        error = "Не удается записать файл '" + path + "'.";
        return false;
    }
    return true;
}

int RemoveStaleTemporaries(const std::string& folder) {
    namespace fs = std::filesystem;
    std::error_code ec;
    fs::directory_iterator it(folder.empty() ? fs::path(".") : fs::path(folder), ec);
    int removed = 0;
    for (; !ec && it != fs::directory_iterator(); it.increment(ec)) {
        const std::optional<pid_t> pid = TemporaryOwner(it->path().filename().string());
        if (!pid || ProcessAlive(*pid)) continue;
        std::error_code kind;
        // A link or a folder of that name is not something a save left.
        if (!fs::is_regular_file(it->symlink_status(kind)) || kind) continue;
        std::error_code gone;
        if (fs::remove(it->path(), gone)) ++removed;
    }
    return removed;
}

LoadResult Load(Archive& ar, const std::string& path, LoadSteps& steps, bool commandLineRun,
                std::string& error) {
    // The whole file is checked before anything changes: a damaged file
    // leaves the program, its level and its configuration as they were.
    Contents file;
    const std::size_t start = ar.Position();
    if (!ReadContents(ar, path, file, error)) return LoadResult::Failed;
    const CDeviceDescription* description = nullptr;
    for (const CDeviceDescription& d : DeviceDescriptions())
        if (d.displayName == file.modification) description = &d;
    if (!description) {
        error = DamagedText(path, "unknown modification '" + file.modification + "'");
        return LoadResult::Failed;
    }

    const bool sameModification = file.modification == steps.ActiveModification();
    if (!sameModification && !commandLineRun &&
        ShowMessage("Переключить конфигуратор для работы с иной модификацией прибора?", {},
                    MessageIcon::Information, MessageButtons::YesNo) != MessageResult::Yes)
        return LoadResult::Declined;

    // The level is taken over only once its password was given.
    const int before = Access::Level();
    if (!Access::FileLevelGranted(file.accessLevel, commandLineRun)) return LoadResult::LevelKept;

    // The table the modification loads is known before it is set up: a file
    // of another table is refused with the configuration untouched.
    auto refuseTable = [&](const std::string& current) {
        error = "Файл сохранен на базе таблицы параметров '" + file.tableName +
                "',\nа сейчас активна таблица '" + current + "'!";
        ShowMessage(error, {}, MessageIcon::Error, MessageButtons::Ok);
        return LoadResult::Refused;
    };
    const std::string expectedTable =
        sameModification ? BaseName(steps.Table().fileName) : BaseName(description->parametersFile);
    if (file.tableName != expectedTable) return refuseTable(expectedTable);

    Access::SetLevel(file.accessLevel);
    try {
        steps.SetUpConfiguration(*description);
        ParameterTable& table = steps.Table();
        if (file.tableName != BaseName(table.fileName)) {
            Access::SetLevel(before);
            return refuseTable(BaseName(table.fileName));
        }
        if (file.tableSize != static_cast<std::int32_t>(table.Size()) && !commandLineRun)
            ShowMessage(
                Format("В файле сохранено %i параметров, а в активной таблице %i параметров!",
                       file.tableSize, static_cast<int>(table.Size())),
                "Предупреждение", MessageIcon::Information, MessageButtons::Ok);

        // Two parameters with one key: the first in table order takes the record.
        KeyIndex byKey(table.Size());
        RecordKeys keyOf;
        for (Parameter& p : table.All())
            if (!p.pollTimer) byKey.Add(keyOf(p), &p);

        MainWindowNotifications& notices = Notifications();
        notices.ProgressOn();
        ar.Seek(file.recordsStart);
        const std::size_t length = ar.Size() - start;
        while (ar.Size() - ar.Position() >= 4) {
            notices.ProgressPosition(static_cast<int>((ar.Position() - start) * 100 / length));
            if (Parameter* p = byKey.Find(ar.ReadU32())) {
                p->Serialize(ar);
            } else {
                Parameter unmatched;
                unmatched.Serialize(ar);
            }
        }
        notices.ProgressOff();
        return LoadResult::Loaded;
    } catch (const ArchiveError& e) {
        // The bytes were checked above; this is a reader out of step with them.
        Notifications().ProgressOff();
        Access::SetLevel(before);
        error = DamagedText(path, e.what());
        return LoadResult::Failed;
    }
}

LoadResult LoadFile(const std::string& path, LoadSteps& steps, bool commandLineRun,
                    std::string& error) {
    std::vector<std::uint8_t> bytes;
    if (!ReadFileBytes(path, bytes, error)) return LoadResult::Failed;
    Archive ar(std::move(bytes));
    return Load(ar, path, steps, commandLineRun, error);
}

}  // namespace Svx
