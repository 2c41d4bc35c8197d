// A child process for tests: started with its own arguments and extra environment, its
// standard output and error kept in files, stopped by process id.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <optional>
#include <string>
#include <vector>

class Process {
  public:
    struct Options {
        std::vector<std::string> argv;
        std::vector<std::string> env;  // "NAME=value", added to this process's environment
        std::string output_dir;        // where stdout and stderr go; empty: /dev/null
    };

    explicit Process(const Options& options);
    ~Process();  // kills the process if it still runs
    Process(const Process&) = delete;
    Process& operator=(const Process&) = delete;

    pid_t pid() const { return pid_; }
    bool Running();
    // The exit status, or 128 + signal number; nothing if still running after `timeout`.
    std::optional<int> Wait(std::chrono::milliseconds timeout);
    void Signal(int signal);
    // Sends SIGTERM, then SIGKILL if it has not ended within `grace`.
    void Stop(std::chrono::milliseconds grace = std::chrono::milliseconds(2000));

    std::string Stdout() const;
    std::string Stderr() const;

  private:
    pid_t pid_ = -1;
    std::optional<int> status_;
    std::string stdout_path_;
    std::string stderr_path_;
};

// Waits until `ready` returns true, polling every few milliseconds; false on timeout.
template <typename Predicate>
bool WaitUntil(Predicate ready, std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!ready()) {
        if (std::chrono::steady_clock::now() >= deadline) {
            return false;
        }
        struct timespec pause = {0, 5'000'000};
        nanosleep(&pause, nullptr);
    }
    return true;
}
