// Start-up of the configurator with a configuration of the largest
// modification (Селвар-Б4) opened, beside a bare Qt Widgets program that only
// shows an empty main window; both offscreen, in the same run and in turns,
// so that the machine's load treats them alike.
//
// The configurator is started as a driven run without a port that closes
// when it is done: with no operation it is done as soon as it runs, so its
// closing question comes right after the main window is shown, and the
// question, answered by itself, is written to the message log. The bare
// program writes a file of its own at the same point. "shown" is the time
// from exec to that file, "ended" to the end of the process. What the
// configurator adds to the shown time has a target of 300 ms at most. The
// processor time of each whole run is reported too.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/inotify.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "description/device_description.h"
#include "description/parameter_table.h"
#include "document/configuration_file.h"
#include "elements/common_params.h"

extern char** environ;

namespace {

namespace fs = std::filesystem;

constexpr double kTargetMs = 300;
constexpr const char* kSelvarShown = "messages.log";
constexpr const char* kBareShown = "bare-shown";

// A private world for the started programs: settings, home, per-user
// profile, no display; and the file they open.
struct World {
    World() {
        dir = fs::temp_directory_path() / ("selvar-bench-startup-" + std::to_string(getpid()));
        for (const char* sub : {"home", "config", "data", "cache", "runtime"})
            fs::create_directories(dir / sub);
        fs::permissions(dir / "runtime", fs::perms::owner_all, fs::perm_options::replace);
        setenv("SELVAR_SYSTEM_SETTINGS", (dir / "system.conf").c_str(), 1);
        setenv("SELVAR_USER_SETTINGS", (dir / "user.conf").c_str(), 1);
        setenv("SELVAR_HOME", (dir / "home").c_str(), 1);
        setenv("HOME", (dir / "home").c_str(), 1);
        setenv("XDG_CONFIG_HOME", (dir / "config").c_str(), 1);
        setenv("XDG_DATA_HOME", (dir / "data").c_str(), 1);
        setenv("XDG_CACHE_HOME", (dir / "cache").c_str(), 1);
        setenv("XDG_RUNTIME_DIR", (dir / "runtime").c_str(), 1);
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
        setenv("SELVAR_AUTO_ANSWER", "yes", 1);
        setenv("SELVAR_MESSAGE_LOG", (dir / kSelvarShown).c_str(), 1);
        unsetenv("SELVAR_SCREENSHOT");
        unsetenv("SELVAR_DATA_DIR");
        unsetenv("DISPLAY");
        unsetenv("WAYLAND_DISPLAY");

        const CDeviceDescription* b4 = FindDeviceDescription("b4");
        ParameterTable table;
        if (LoadParameterTable(table, DescriptionPath(b4->parametersFile)) != TableLoadStatus::Ok) {
            error = "description files missing: build first";
            return;
        }
        for (Parameter& p : table.All())
            if (!p.defaultValue.empty()) p.value = p.defaultValue;
        Elements::CommonParams common;
        // Relative: the program runs in the world's folder, and a path
        // beginning with "/" would be read as options.
        file = "largest.svx";
        if (!Svx::SaveFile((dir / file).string(), 2, b4->displayName, common, table, error)) return;
        error.clear();
    }
    ~World() {
        std::error_code ec;
        fs::remove_all(dir, ec);
    }
    fs::path dir;
    std::string file;
    std::string error;
};

World& Shared() {
    static World world;
    return world;
}

struct Times {
    double shown = -1;  // ms from exec to the file that says so; -1: never
    double ended = -1;  // ms from exec to the end; -1: it failed
    double cpu = 0;     // ms of processor time, user and system, of the whole run
};

// Runs a program in `dir` with its output discarded, watching for `shownFile`
// to be written there.
Times TimedRun(const fs::path& dir, const char* shownFile, std::vector<std::string> argv) {
    Times times;
    fs::remove(dir / shownFile);
    const int watch = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (watch < 0 || inotify_add_watch(watch, dir.c_str(), IN_CLOSE_WRITE) < 0) {
        if (watch >= 0) close(watch);
        return times;
    }
    std::vector<char*> args;
    for (std::string& a : argv)
        args.push_back(a.data());
    args.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addchdir_np(&actions, dir.c_str());
    const auto start = std::chrono::steady_clock::now();
    auto since = [&start] {
        return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
            .count();
    };
    pid_t pid = 0;
    const int spawned = posix_spawn(&pid, args[0], &actions, nullptr, args.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0) {
        close(watch);
        return times;
    }
    const int ended = static_cast<int>(syscall(SYS_pidfd_open, pid, 0));
    pollfd fds[2] = {{watch, POLLIN, 0}, {ended, POLLIN, 0}};
    for (;;) {
        if (poll(fds, ended >= 0 ? 2 : 1, ended >= 0 ? -1 : 1) < 0 && errno != EINTR) break;
        if (fds[0].revents & POLLIN) {
            alignas(inotify_event) char buffer[4096];
            const ssize_t n = read(watch, buffer, sizeof buffer);
            for (ssize_t at = 0; at < n;) {
                const auto* event = reinterpret_cast<const inotify_event*>(buffer + at);
                if (times.shown < 0 && event->len && std::strcmp(event->name, shownFile) == 0)
                    times.shown = since();
                at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
            }
        }
        int status = 0;
        rusage usage{};
        const pid_t done = wait4(pid, &status, WNOHANG, &usage);
        if (done == pid) {
            if (WIFEXITED(status) && WEXITSTATUS(status) == 0) times.ended = since();
            const auto ms = [](const timeval& t) {
                return static_cast<double>(t.tv_sec) * 1000.0 +
                       static_cast<double>(t.tv_usec) / 1000.0;
            };
            times.cpu = ms(usage.ru_utime) + ms(usage.ru_stime);
            break;
        }
        if (done < 0 && errno != EINTR) break;
    }
    close(watch);
    if (ended >= 0) close(ended);
    return times;
}

void BM_ConfiguratorStartBesideBareWindow(benchmark::State& state) {
#if defined(SELVAR_GUI_BINARY) && defined(SELVAR_BARE_WINDOW)
    World& world = Shared();
    if (!world.error.empty()) return state.SkipWithError(world.error.c_str());
    Times bareTotal{0, 0, 0}, selvarTotal{0, 0, 0};
    const std::string bareShown = (world.dir / kBareShown).string();
    for (auto _ : state) {
        const Times bare = TimedRun(world.dir, kBareShown, {SELVAR_BARE_WINDOW, bareShown});
        const Times selvar =
            TimedRun(world.dir, kSelvarShown, {SELVAR_GUI_BINARY, "/close", world.file});
        if (bare.shown < 0 || bare.ended < 0)
            return state.SkipWithError("the bare window program failed");
        if (selvar.shown < 0 || selvar.ended < 0)
            return state.SkipWithError("selvar did not show its window and end with 0");
        bareTotal.shown += bare.shown;
        bareTotal.ended += bare.ended;
        bareTotal.cpu += bare.cpu;
        selvarTotal.shown += selvar.shown;
        selvarTotal.ended += selvar.ended;
        selvarTotal.cpu += selvar.cpu;
        state.SetIterationTime(std::max(0.0, selvar.shown - bare.shown) / 1000.0);
    }
    const double n = static_cast<double>(state.iterations());
    state.counters["bare_shown_ms"] = bareTotal.shown / n;
    state.counters["selvar_shown_ms"] = selvarTotal.shown / n;
    state.counters["added_ms"] = (selvarTotal.shown - bareTotal.shown) / n;
    state.counters["target_ms"] = kTargetMs;
    state.counters["bare_ended_ms"] = bareTotal.ended / n;
    state.counters["selvar_ended_ms"] = selvarTotal.ended / n;
    // Less at the mercy of the machine's load than the wall times above.
    state.counters["bare_cpu_ms"] = bareTotal.cpu / n;
    state.counters["selvar_cpu_ms"] = selvarTotal.cpu / n;
#else
    state.SkipWithError("built without the front end");
#endif
}
BENCHMARK(BM_ConfiguratorStartBesideBareWindow)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->Iterations(8);

}  // namespace
