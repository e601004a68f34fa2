#include "StandinProcess.h"

#include "PortLibrary.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <thread>

extern char** environ;

namespace cable {

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

constexpr auto kEndWait = 3s;

} // namespace

std::string FindStandinProgram(const std::string& name) {
    const std::string dir = ExecutableDir();
    if (dir.empty()) return {};
    for (const auto& candidate :
         {std::filesystem::path(dir) / name,
          (std::filesystem::path(dir) / InstalledPortLibraryDir / name).lexically_normal()}) {
        if (access(candidate.c_str(), X_OK) == 0) return candidate.string();
    }
    return {};
}

TStandinProcess::~TStandinProcess() {
    Stop();
}

bool TStandinProcess::Start(const std::string& path, std::string& firstLine, std::string& error,
                            std::chrono::milliseconds timeout, int stderrFd) {
    Stop();
    int out[2];
    if (pipe2(out, O_CLOEXEC) != 0) {
        error = std::string("cannot start ") + path + ": " + std::strerror(errno);
        return false;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
    if (stderrFd >= 0) posix_spawn_file_actions_adddup2(&actions, stderrFd, STDERR_FILENO);
    char* argv[] = {const_cast<char*>(path.c_str()), nullptr};
    pid_t pid = -1;
    const int spawned = posix_spawn(&pid, path.c_str(), &actions, nullptr, argv, environ);
    posix_spawn_file_actions_destroy(&actions);
    close(out[1]);
    if (spawned != 0) {
        close(out[0]);
        error = "cannot start " + path + ": " + std::strerror(spawned);
        return false;
    }
    pid_ = pid;

    // Its first line, or its end.
    firstLine.clear();
    const auto deadline = Clock::now() + timeout;
    bool complete = false;
    while (!complete) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        pollfd p{out[0], POLLIN, 0};
        if (left.count() <= 0 || poll(&p, 1, static_cast<int>(left.count())) == 0) break;
        char c = 0;
        const ssize_t n = read(out[0], &c, 1);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        if (c == '\n')
            complete = true;
        else
            firstLine += c;
    }
    close(out[0]);
    if (!complete) {
        error = path + " did not start (it printed no line" +
                (Clock::now() >= deadline ? " in time)" : "; see its message above)");
        Stop();
        return false;
    }
    return true;
}

void TStandinProcess::Stop() {
    if (pid_ <= 0) return;
    kill(pid_, SIGTERM);
    const auto deadline = Clock::now() + kEndWait;
    int status = 0;
    while (waitpid(pid_, &status, WNOHANG) == 0) {
        if (Clock::now() >= deadline) {
            kill(pid_, SIGKILL);
            waitpid(pid_, &status, 0);
            break;
        }
        std::this_thread::sleep_for(2ms);
    }
    pid_ = -1;
}

} // namespace cable
