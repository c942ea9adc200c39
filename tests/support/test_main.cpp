#include <gmock/gmock.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>

int main(int argc, char** argv) {
    // Tests never touch the settings of the machine or of the user running them.
    std::filesystem::path dir = std::filesystem::temp_directory_path() /
                                ("selvar-test-settings-" + std::to_string(getpid()));
    std::filesystem::create_directories(dir);
    setenv("SELVAR_SYSTEM_SETTINGS", (dir / "system.conf").c_str(), 1);
    setenv("SELVAR_USER_SETTINGS", (dir / "user.conf").c_str(), 1);
    // Nor the program's home folder.
    setenv("SELVAR_HOME", (dir / "home").c_str(), 1);
    ::testing::InitGoogleMock(&argc, argv);
    int result = RUN_ALL_TESTS();
    std::error_code ec;
    std::filesystem::remove_all(dir, ec);
    return result;
}
