#pragma once

#include <unistd.h>

#include <QApplication>
#include <QtTest>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>

// Runs one widget test object in a private folder for the settings, the
// program's home and the per-user state, so that nothing of the machine's or
// the user's own is read or written; the folder goes at the end. `prepare`
// sees the folder before the application starts.
template <class TestObject>
int RunWidgetTest(int argc, char** argv, const char* name,
                  const std::function<void(const std::filesystem::path&)>& prepare = {}) {
    namespace fs = std::filesystem;
    const fs::path dir = fs::temp_directory_path() /
                         ("selvar-" + std::string(name) + "-" + std::to_string(getpid()));
    fs::create_directories(dir);
    setenv("SELVAR_SYSTEM_SETTINGS", (dir / "system.conf").c_str(), 1);
    setenv("SELVAR_USER_SETTINGS", (dir / "user.conf").c_str(), 1);
    setenv("SELVAR_HOME", (dir / "home").c_str(), 1);
    setenv("XDG_CONFIG_HOME", (dir / "config").c_str(), 1);
    if (prepare) prepare(dir);
    int result;
    {
        QApplication app(argc, argv);
        QApplication::setOrganizationName("Selvar");
        QApplication::setApplicationName("Configurator - Selvar");
        QApplication::setQuitOnLastWindowClosed(false);
        TestObject test;
        result = QTest::qExec(&test, argc, argv);
    }
    std::error_code ec;
    fs::remove_all(dir, ec);
    return result;
}
