#include "app/startup_options.h"

namespace App {

CommandLine ParseCommandLine(const std::vector<std::string>& arguments) {
    CommandLine line;
    for (const std::string& a : arguments) {
        line.plainArguments.push_back(a);
        line.file = a;
    }
    return line;
}

}  // namespace App
