#include "document/configuration_file.h"

#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

#include "description/device_description.h"
#include "description/parameter_table.h"
#include "document/access_level.h"
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

std::string DamagedText(const std::string& path, const std::string& detail) {
    return "Файл '" + path + "' поврежден или не является файлом конфигурации (" + detail + ").";
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

// The whole file; false when it cannot be opened. A regular file is read in
// one piece; anything else as it comes, since its size says nothing.
bool ReadWholeFile(const std::string& path, std::vector<std::uint8_t>& bytes) {
    std::error_code ec;
    const bool regular = std::filesystem::is_regular_file(path, ec);
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    std::streamoff size = -1;
    if (regular && in.seekg(0, std::ios::end)) {
        size = in.tellg();
        in.seekg(0);
    }
    if (size < 0 || !in) {
        in.clear();
        in.seekg(0);
        bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
        return true;
    }
    bytes.resize(static_cast<std::size_t>(size));
    in.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(size));
    bytes.resize(static_cast<std::size_t>(in.gcount()));
    return true;
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
    for (Parameter& p : table.All()) {
        if (p.pollTimer) continue;
        ar.WriteU32(keyOf(p));
        p.Serialize(ar);
    }
}

bool SaveFile(const std::string& path, int accessLevel, const std::string& modification,
              Elements::CommonParams& common, const ParameterTable& table, std::string& error) {
    Archive ar;
    Save(ar, accessLevel, modification, common, table);
    const std::vector<std::uint8_t>& data = ar.Data();
    std::string bytes(reinterpret_cast<const char*>(data.data()), data.size());
    if (!WriteFileAtomically(path, bytes)) {
        error = "Не удается записать файл '" + path + "'.";
        return false;
    }
    return true;
}

LoadResult Load(Archive& ar, const std::string& path, LoadSteps& steps, bool commandLineRun,
                std::string& error) {
    try {
        int before = Access::Level();
        std::int32_t level = ar.ReadI32();
        if (level < Access::kMinimal || level > Access::kFull)
            throw ArchiveError(Format("access level %d", level));
        Access::SetLevel(level);

        std::string modification = ar.ReadText();
        if (modification != steps.ActiveModification() && !commandLineRun &&
            ShowMessage("Переключить конфигуратор для работы с иной модификацией прибора?", {},
                        MessageIcon::Information, MessageButtons::YesNo) != MessageResult::Yes)
            return LoadResult::Declined;
        const CDeviceDescription* description = nullptr;
        for (const CDeviceDescription& d : DeviceDescriptions())
            if (d.displayName == modification) description = &d;
        if (!description) throw ArchiveError("unknown modification '" + modification + "'");

        if (!Access::ConfirmFileLevel(level, before, commandLineRun)) return LoadResult::LevelKept;

        Elements::CommonParams stored;  // read past; the running program's own stay
        stored.Serialize(ar);

        steps.SetUpConfiguration(*description);
        ParameterTable& table = steps.Table();

        std::string tableName = ar.ReadText();
        if (tableName != BaseName(table.fileName)) {
            error = "Файл сохранен на базе таблицы параметров '" + tableName +
                    "',\nа сейчас активна таблица '" + BaseName(table.fileName) + "'!";
            ShowMessage(error, {}, MessageIcon::Error, MessageButtons::Ok);
            return LoadResult::Refused;
        }
        std::int32_t size = ar.ReadI32();
        ar.ReadI32();  // the record count: the records run to the end of the file
        if (size != static_cast<std::int32_t>(table.Size()) && !commandLineRun)
            ShowMessage(
                Format("В файле сохранено %i параметров, а в активной таблице %i параметров!", size,
                       static_cast<int>(table.Size())),
                "Предупреждение", MessageIcon::Information, MessageButtons::Ok);

        // Two parameters with one key: the first in table order takes the record.
        KeyIndex byKey(table.Size());
        RecordKeys keyOf;
        for (Parameter& p : table.All())
            if (!p.pollTimer) byKey.Add(keyOf(p), &p);

        MainWindowNotifications& notices = Notifications();
        notices.ProgressOn();
        while (ar.Size() - ar.Position() >= 4) {
            notices.ProgressPosition(static_cast<int>(ar.Position() * 100 / ar.Size()));
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
        Notifications().ProgressOff();
        error = DamagedText(path, e.what());
        return LoadResult::Failed;
    }
}

LoadResult LoadFile(const std::string& path, LoadSteps& steps, bool commandLineRun,
                    std::string& error) {
    std::vector<std::uint8_t> bytes;
    if (!ReadWholeFile(path, bytes)) {
        error = "Не удается открыть файл '" + path + "'.";
        return LoadResult::Failed;
    }
    Archive ar(std::move(bytes));
    return Load(ar, path, steps, commandLineRun, error);
}

}  // namespace Svx
