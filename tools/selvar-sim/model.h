#pragma once

#include <cstddef>
#include <cstdint>
#include <ctime>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "model/my_converter.h"

struct CDeviceDescription;
class Parameter;
class ParameterTable;

// The simulated controller's device model: every parameter instance of a
// modification's description with its value kept as wire data, the
// identification answers, the last error code, and the operative readings
// that change with time. It sees requests that already passed the address
// filter and turns them into replies; it knows nothing of lines or frames.
namespace sim {

// Codes of the device's error answer (the data byte of an "n.Err" answer).
namespace DeviceError {
constexpr std::uint8_t kNone = 0x00;
constexpr std::uint8_t kPointTooFar = 0x02;     // decimal point above 3
constexpr std::uint8_t kBadValue = 0x06;        // outside the range, or no such label
constexpr std::uint8_t kBadChecksum = 0x27;     // recorded only: such a frame gets no answer
constexpr std::uint8_t kUnknownName = 0x28;     // no descriptor for the hash
constexpr std::uint8_t kBadSize = 0x31;         // data size not what the type needs
constexpr std::uint8_t kWriteRefused = 0x33;    // read-only, or the access attribute forbids it
constexpr std::uint8_t kIndexTooLarge = 0x34;   // no instance with that index or address offset
constexpr std::uint8_t kBadCombination = 0x47;  // network settings the device cannot use
}  // namespace DeviceError

// hash_name("n.Err") and hash_name("APLY").
constexpr std::uint16_t kErrorHash = 0x0233;
constexpr std::uint16_t kApplyHash = 0x8403;

// Object addresses: the device answers at its address plus 0..7.
constexpr int kObjectOffsets = 8;

// What a device of a modification answers to the identification (UTF-8).
struct Identity {
    std::string dev;
    std::string pver;
    std::string ver;
};
// Nothing for a display name that is none of the three modifications.
std::optional<Identity> IdentityOf(std::string_view displayName);

struct ModelSettings {
    int address = 16;
    int addressLength = 8;
    int baud = 9600;                // what "bPS" starts with (when it is one of its labels)
    int accessCode = 271;           // the "pass" value that unlocks protected parameters
    std::uint8_t restartCause = 7;  // "exit": power-on reset
    // Identification answers other than the modification's own.
    std::optional<std::string> dev, pver, ver;
    // Wall clock of the device's real-time clock; time(nullptr) when empty.
    std::function<std::time_t()> wallClock;
};

struct Reply {
    enum class Kind { None, Data, Error };
    Kind kind = Kind::None;
    std::uint8_t code = 0;           // Error
    std::vector<std::uint8_t> data;  // Data: the value bytes, then the index bytes
    // Data: the instance answering, name[:index][@offset], and its value as
    // a master decodes it.
    std::string key;
    std::string text;
};

struct NetworkSettings {
    int address;
    int addressLength;
};

class DeviceModel {
  public:
    DeviceModel();
    ~DeviceModel();
    DeviceModel(const DeviceModel&) = delete;
    DeviceModel& operator=(const DeviceModel&) = delete;

    // Loads the modification's parameter table and trees from the
    // description folder. False with a reason when the files cannot be read.
    bool Load(const CDeviceDescription& description, const ModelSettings& settings,
              std::string& error);

    const std::string& DisplayName() const { return displayName_; }
    std::size_t InstanceCount() const;

    // One request to the device's address plus `offset` (0..7; the fixed
    // address counts as 0). `now` is seconds since the device started.
    Reply Handle(int offset, bool read, std::uint16_t hash, const std::uint8_t* data,
                 std::size_t count, double now);

    // "APLY": the address and address length last written take effect.
    // Nothing when the written pair is not usable.
    std::optional<NetworkSettings> Apply() const;

    // A request the device refused before its model saw it: the error is
    // kept, and the access code no longer opens the next write.
    void RecordError(std::uint8_t code) {
        lastError_ = code;
        unlocked_ = false;
    }
    std::uint8_t LastError() const { return lastError_; }

    // For logs: the device name of a hash (empty when unknown) and whether
    // its requests carry an index.
    std::string NameOf(std::uint16_t hash) const;
    bool IsIndexed(std::uint16_t hash) const;

    // The persistent state: the written values and the clock's correction.
    // TakeStateChanged is true once after each change.
    bool TakeStateChanged();
    std::string SaveState() const;
    // Applies a saved state. Lines that fit nothing are skipped and counted
    // in `warning`; a state of another modification is refused whole.
    bool LoadState(std::string_view text, std::string& warning);
    // Every instance a line, tab-separated: name[:index][@offset], "kept"
    // (changed only by writes) or "live" (changes by itself), the value's
    // bytes in hexadecimal, its number (%.9g) and its text as a master
    // decodes it; "-" where there is none, and for every field of a live value.
    std::string Dump() const;

  private:
    enum class Role {
        Stored,
        LastError,
        Identity,
        RestartCause,
        Reading,
        OutputLevel,
        ObjectState,
        InputBits,
        OutputBits,
        Clock,
    };
    struct Instance {
        MyConverter conv;  // name, type, decimals, range
        int offset = 0;
        int index = -1;
        bool writable = true;
        bool protectedWrite = false;  // needs the access code in "pass" first
        bool written = false;         // kept in the state file
        std::string factoryText;
        std::vector<std::uint8_t> data;
    };
    using Key = std::pair<int, int>;  // address offset, linear index (-1: none)
    struct Family {
        std::string name;
        Role role = Role::Stored;
        bool indexed = false;     // requests carry the linear index
        bool addressed = false;   // instance k answers at address offset k
        bool deviceWide = false;  // one set of values whatever the offset
        std::map<Key, Instance> instances;
    };

    void AddFamilies(const ParameterTable& table, const std::set<const Parameter*>& operative);
    void AddObjectFamilies();
    void InitialiseValues();
    void InitialiseObjects();
    static Role RoleFor(std::string_view name);
    static std::string KeyOf(const Instance& inst);
    bool SizeFits(const Family& family, std::size_t count) const;
    bool Decodable(const Instance& inst, const std::vector<std::uint8_t>& value) const;
    void SetText(std::string_view name, const std::string& text);
    void ResetToFactory();
    std::vector<std::uint8_t> FactoryData(const Instance& inst) const;

    Family* FindFamily(std::string_view name);
    const Family* FindFamily(std::string_view name) const;
    Instance* Find(std::string_view name, int index);
    const Instance* Find(std::string_view name, int index) const;
    int StoredByte(std::string_view name, int index) const;
    std::optional<double> Number(std::string_view name, int index) const;

    std::uint8_t Write(Family& family, Instance& inst, const std::uint8_t* data, std::size_t count);
    std::uint8_t CheckCombination(const Family& family,
                                  const std::vector<std::uint8_t>& value) const;
    void AfterWrite(const Family& family, const Instance& inst);
    std::vector<std::uint8_t> ReadValue(const Family& family, const Instance& inst,
                                        double now) const;
    std::vector<std::uint8_t> ReadingData(std::string_view name, int k, double now) const;
    std::vector<std::uint8_t> ClockData() const;
    std::time_t WallNow() const;
    bool ObjectRunning(int k) const;
    int ObjectChannels(int k) const;
    int InputCount() const;
    float OutputLevel(int k, double now) const;

    std::string displayName_;
    ModelSettings settings_;
    Identity identity_;
    std::map<std::uint16_t, Family> families_;
    int objects_ = 1;  // objects the description knows
    std::uint8_t lastError_ = DeviceError::kNone;
    bool unlocked_ = false;     // the last exchange wrote the access code to "pass"
    bool passGranted_ = false;  // the exchange being handled follows that one
    bool stateChanged_ = false;
    long long clockOffset_ = 0;  // seconds the device's clock runs ahead of the wall clock
};

}  // namespace sim
