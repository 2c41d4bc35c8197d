// Child processes for tests and benchmarks: one started with its own arguments and extra
// environment, its standard output and error kept in files, stopped by process id; a program
// run to its end for what it prints; and what a running process costs, read from /proc.
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

    // A program that cannot be started reads as one that ended at once with status 127.
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

// Runs a program in this process's environment until it ends and returns what it printed on
// standard output; empty if it could not be started.
std::string RunForOutput(const std::vector<std::string>& argv);

// The processor time that the threads of process `pid` have run so far, as the scheduler
// counts it, in nanoseconds (the clock ticks of /proc/<pid>/stat are too coarse to tell a
// fraction of a per cent over half a minute); zero if there is no such process.
std::chrono::nanoseconds ProcessorTime(pid_t pid);
// The same as /proc/<pid>/stat counts it: in clock ticks (10 ms), but with the time of threads
// that have ended, which a process with a pool of threads needs over a long stretch.
std::chrono::nanoseconds ProcessorTimeWithEndedThreads(pid_t pid);

// A field of /proc/<pid>/status in KiB: VmRSS, the resident memory, or a part of it (RssAnon,
// RssFile); -1 if there is no such process or field.
long ResidentKiB(pid_t pid, const std::string& field = "VmRSS");

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
