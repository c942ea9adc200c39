#pragma once

#include <cstdint>
#include <string>

class Archive;
class Parameter;
class ParameterTable;
struct CDeviceDescription;
namespace Elements {
class CommonParams;
}

// The configuration file (.svx): the access level it was saved at, the
// modification, the program's service parameters, and the saved state of
// every non-operative parameter of the table, keyed by index and name hash.
namespace Svx {

// (I << 16) + name hash, I the linear index of an indexed parameter, else 0xFFFF.
std::uint32_t RecordKey(const Parameter& p);

void Save(Archive& ar, int accessLevel, const std::string& modification,
          Elements::CommonParams& common, const ParameterTable& table);
// The whole file, atomically: a failed save leaves the previous file intact.
// The main window is shown the save's progress. Temporaries that saves of
// ended processes left in the folder are removed first.
bool SaveFile(const std::string& path, int accessLevel, const std::string& modification,
              Elements::CommonParams& common, const ParameterTable& table, std::string& error);

// Removes the "NAME.svx.tmp.PID" files in the folder whose process no
// longer runs (a save killed before its rename); nothing else. Returns how
// many went.
int RemoveStaleTemporaries(const std::string& folder);

// What the document does in the middle of a load.
class LoadSteps {
  public:
    virtual ~LoadSteps() = default;
    virtual std::string ActiveModification() = 0;
    // Ends polling and sets up the configuration of the modification; the
    // table may be replaced.
    virtual void SetUpConfiguration(const CDeviceDescription& description) = 0;
    virtual ParameterTable& Table() = 0;
};

// Whatever the result, the access level changes only with a load that
// completes, and nothing changes before the whole file was found sound.
// Only a load that reached SetUpConfiguration can have changed the
// configuration.
enum class LoadResult {
    Loaded,
    LevelKept,  // the password was not given: nothing was loaded
    Declined,   // the user kept the current modification
    Failed,     // a damaged or foreign file; the reason is in `error`
    Refused,    // failed like Failed, and the user has been shown why
};

LoadResult Load(Archive& ar, const std::string& path, LoadSteps& steps, bool commandLineRun,
                std::string& error);
LoadResult LoadFile(const std::string& path, LoadSteps& steps, bool commandLineRun,
                    std::string& error);

}  // namespace Svx
