#pragma once

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>

// Resident memory in kB from /proc/self/status ("VmRSS" or "VmHWM").
inline long StatusKb(const char* key) {
    std::ifstream in("/proc/self/status");
    std::string line;
    const std::size_t n = std::strlen(key);
    while (std::getline(in, line))
        if (line.compare(0, n, key) == 0 && line.size() > n && line[n] == ':')
            return std::atol(line.c_str() + n + 1);
    return -1;
}

// Starts a new peak; false when the kernel cannot reset it.
inline bool ResetPeak() {
    std::ofstream clear("/proc/self/clear_refs");
    clear << "5";
    clear.close();
    return static_cast<bool>(clear);
}
