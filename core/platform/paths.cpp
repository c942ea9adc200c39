#include "platform/paths.h"

#include <cstdlib>
#include <filesystem>

std::string ProgramHome() {
    std::filesystem::path home;
    if (const char* v = std::getenv("SELVAR_HOME"); v && *v) {
        home = v;
    } else if (const char* x = std::getenv("XDG_DATA_HOME"); x && *x) {
        home = std::filesystem::path(x) / "selvar";
    } else {
        const char* h = std::getenv("HOME");
        home = std::filesystem::path(h && *h ? h : "/tmp") / ".local" / "share" / "selvar";
    }
    std::error_code ec;
    std::filesystem::create_directories(home, ec);
    return home.string();
}
