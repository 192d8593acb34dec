#include "bench/Startup.h"

#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fstream>

extern char** environ;

namespace vek::bench {

namespace {

constexpr int kShownLimitMs = 20'000;

// The child's own high-water mark, read while it runs. Its rusage would not do: a spawned child
// starts in the spawner's memory, whose peak the kernel carries over into the child's.
long peakResidentKiB(pid_t pid) {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind("VmHWM:", 0) == 0)
            return std::atol(line.c_str() + 6);
    return 0;
}

// Ours with extraEnv's entries in place of those of the same name, and the request to report.
std::vector<std::string> childEnvironment(const std::vector<std::string>& extraEnv) {
    std::vector<std::string> env = extraEnv;
    env.emplace_back("VEKTOOL_EXIT_WHEN_SHOWN=1");
    for (char** e = environ; *e; ++e) {
        const std::string entry = *e;
        const std::string name = entry.substr(0, entry.find('='));
        const bool overridden = std::any_of(env.begin(), env.end(), [&](const std::string& x) {
            return x.compare(0, name.size() + 1, name + "=") == 0;
        });
        if (!overridden)
            env.push_back(entry);
    }
    return env;
}

}  // namespace

StartupFigures startOnce(const std::string& program, const std::vector<std::string>& extraEnv) {
    StartupFigures figures;
    std::vector<std::string> env = childEnvironment(extraEnv);
    std::vector<char*> envp;
    for (std::string& e : env)
        envp.push_back(e.data());
    envp.push_back(nullptr);
    std::string path = program;
    char* argv[] = {path.data(), nullptr};

    int out[2], in[2];
    if (pipe2(out, O_CLOEXEC) != 0) {
        figures.failure = std::strerror(errno);
        return figures;
    }
    if (pipe2(in, O_CLOEXEC) != 0) {
        figures.failure = std::strerror(errno);
        ::close(out[0]);
        ::close(out[1]);
        return figures;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
    posix_spawn_file_actions_adddup2(&actions, in[0], STDIN_FILENO);
    pid_t pid = 0;
    const auto spawned = std::chrono::steady_clock::now();
    const int error = posix_spawn(&pid, path.c_str(), &actions, nullptr, argv, envp.data());
    posix_spawn_file_actions_destroy(&actions);
    ::close(out[1]);
    ::close(in[0]);
    if (error != 0) {
        ::close(out[0]);
        ::close(in[1]);
        figures.failure = program + ": " + std::strerror(error);
        return figures;
    }

    // The first line marks the window as shown; the pipe's end follows when the child leaves.
    bool shown = false;
    char buffer[256];
    pollfd p{out[0], POLLIN, 0};
    while (poll(&p, 1, kShownLimitMs) > 0) {
        const ssize_t n = ::read(out[0], buffer, sizeof buffer);
        if (n <= 0)
            break;
        if (!shown && std::memchr(buffer, '\n', std::size_t(n))) {
            shown = true;
            figures.shownS =
                std::chrono::duration<double>(std::chrono::steady_clock::now() - spawned).count();
            figures.peakKiB = peakResidentKiB(pid);
            ::close(in[1]);  // lets it leave
            in[1] = -1;
        }
    }
    ::close(out[0]);
    if (in[1] >= 0)
        ::close(in[1]);
    if (!shown)
        kill(pid, SIGKILL);
    int status = 0;
    rusage usage{};
    wait4(pid, &status, 0, &usage);
    figures.cpuS = double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
                   double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) * 1e-6;
    if (!shown) {
        figures.failure = program + " never reported its window";
        return figures;
    }
    figures.ok = WIFEXITED(status) && WEXITSTATUS(status) == 0;
    if (!figures.ok)
        figures.failure = program + " did not exit cleanly";
    return figures;
}

}  // namespace vek::bench
