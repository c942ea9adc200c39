// A configuration file from anywhere: any bytes load or fail, without a
// crash, a hang or memory out of proportion to the file.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "description/device_description.h"
#include "description/parameter_table.h"
#include "document/access_level.h"
#include "document/configuration_contents.h"
#include "document/configuration_file.h"
#include "platform/archive.h"

namespace {

class Steps : public Svx::LoadSteps {
  public:
    Steps() {
        table.Allocate(64);
        table.fileName = "parameters2.zip";
        const char* names[] = {"r.co", "in.sl", "rEAd", "A.Len", "bPS", "dev", "x", "Y"};
        for (std::size_t i = 0; i < table.Size(); ++i) {
            Parameter& p = *table.At(i);
            p.name = names[i % 8];
            p.hasLinearIndex = i % 3 == 0;
            p.linearIndex = static_cast<int>(i / 8);
            p.type = i % 2 ? "float" : "Выкл:Вкл";
        }
    }
    std::string ActiveModification() override { return "Селвар-Б4"; }
    void SetUpConfiguration(const CDeviceDescription&) override {}
    ParameterTable& Table() override { return table; }
    ParameterTable table;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    Steps steps;
    Archive ar(std::vector<std::uint8_t>(data, data + size));
    std::string error;
    Svx::Load(ar, "fuzz.svx", steps, true, error);
    Access::SetLevel(Access::kFull);
    // The same bytes as the file viewer reads them.
    Archive again(std::vector<std::uint8_t>(data, data + size));
    Svx::Contents contents;
    Svx::ReadContents(again, "fuzz.svx", contents, error);
    return 0;
}
