#include "tests/support/process.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>

extern char** environ;

namespace {

std::string ReadFile(const std::string& path) {
    if (path.empty()) {
        return {};
    }
    std::ifstream in(path, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

int OpenOutput(const std::string& path) {
    return open(path.empty() ? "/dev/null" : path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC,
                0644);
}

// Starts `argv` (looked up in PATH) with the environment `envp`, in a process group of its own,
// with standard input, output and error on the given descriptors, or this process's where one
// is -1. Returns the process id, or -1 if the program cannot be started.
pid_t Spawn(std::vector<std::string> argv, char* const* envp, int in, int out, int err) {
    std::vector<char*> args;
    for (std::string& a : argv) {
        args.push_back(a.data());
    }
    args.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    const int descriptors[] = {in, out, err};
    for (int target = 0; target < 3; ++target) {
        if (descriptors[target] >= 0) {
            posix_spawn_file_actions_adddup2(&actions, descriptors[target], target);
        }
    }
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETPGROUP);
    posix_spawnattr_setpgroup(&attributes, 0);
    pid_t pid = -1;
    const int failed = posix_spawnp(&pid, args[0], &actions, &attributes, args.data(), envp);
    posix_spawnattr_destroy(&attributes);
    posix_spawn_file_actions_destroy(&actions);
    return failed == 0 ? pid : -1;
}

}  // namespace

Process::Process(const Options& options) {
    static int counter = 0;
    if (!options.output_dir.empty()) {
        const std::string stem =
            options.output_dir + "/" + std::to_string(getpid()) + "-" + std::to_string(++counter);
        stdout_path_ = stem + ".out";
        stderr_path_ = stem + ".err";
    }

    std::vector<std::string> env_strings;
    for (char** e = environ; *e != nullptr; ++e) {
        env_strings.emplace_back(*e);
    }
    for (const std::string& extra : options.env) {
        const std::string name = extra.substr(0, extra.find('=') + 1);
        std::erase_if(env_strings, [&](const std::string& s) { return s.starts_with(name); });
        env_strings.push_back(extra);
    }
    std::vector<char*> envp;
    for (std::string& s : env_strings) {
        envp.push_back(s.data());
    }
    envp.push_back(nullptr);

    const int out = OpenOutput(stdout_path_);
    const int err = OpenOutput(stderr_path_);
    const int in = open("/dev/null", O_RDONLY | O_CLOEXEC);
    pid_ = Spawn(options.argv, envp.data(), in, out, err);
    close(in);
    close(out);
    close(err);
    if (pid_ < 0) {
        status_ = 127;  // as a shell reports a command it cannot run
    }
}

Process::~Process() {
    if (Running()) {
        Stop(std::chrono::milliseconds(1000));
    }
}

bool Process::Running() {
    if (status_ || pid_ <= 0) {
        return false;
    }
    int status = 0;
    const pid_t done = waitpid(pid_, &status, WNOHANG);
    if (done == pid_) {
        status_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        return false;
    }
    return done == 0;
}

std::optional<int> Process::Wait(std::chrono::milliseconds timeout) {
    WaitUntil([this] { return !Running(); }, timeout);
    return status_;
}

void Process::Signal(int signal) {
    if (Running()) {
        kill(pid_, signal);
    }
}

void Process::Stop(std::chrono::milliseconds grace) {
    Signal(SIGTERM);
    if (!Wait(grace)) {
        Signal(SIGKILL);
        Wait(std::chrono::milliseconds(5000));
    }
}

std::string Process::Stdout() const {
    return ReadFile(stdout_path_);
}
std::string Process::Stderr() const {
    return ReadFile(stderr_path_);
}

std::string RunForOutput(const std::vector<std::string>& argv) {
    int out[2];
    if (pipe2(out, O_CLOEXEC) != 0) {
        return {};
    }
    const pid_t pid = Spawn(argv, environ, -1, out[1], -1);
    close(out[1]);
    std::string text;
    char buffer[512];
    for (ssize_t n; (n = read(out[0], buffer, sizeof buffer)) > 0;) {
        text.append(buffer, static_cast<std::size_t>(n));
    }
    close(out[0]);
    if (pid > 0) {
        waitpid(pid, nullptr, 0);
    }
    return text;
}

std::chrono::nanoseconds ProcessorTime(pid_t pid) {
    long long nanoseconds = 0;
    std::error_code error;
    const std::string tasks = "/proc/" + std::to_string(pid) + "/task";
    for (const auto& task : std::filesystem::directory_iterator(tasks, error)) {
        // The first of the three numbers is the time the thread has run on a processor.
        std::ifstream in(task.path() / "schedstat");
        long long run = 0;
        if (in >> run) {
            nanoseconds += run;
        }
    }
    return std::chrono::nanoseconds(nanoseconds);
}

std::chrono::nanoseconds ProcessorTimeWithEndedThreads(pid_t pid) {
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string line;
    std::getline(stat, line);
    const std::size_t after_name = line.rfind(')');
    if (after_name == std::string::npos) {
        return {};
    }
    // From the state on, fields 3 to 15 of which 14 and 15 are the user and system time.
    std::istringstream fields(line.substr(after_name + 2));
    std::string field;
    long long ticks = 0;
    for (int i = 3; i <= 15 && fields >> field; ++i) {
        if (i == 14 || i == 15) {
            ticks += std::stoll(field);
        }
    }
    return std::chrono::nanoseconds(ticks * 1'000'000'000LL / sysconf(_SC_CLK_TCK));
}

long ResidentKiB(pid_t pid, const std::string& field) {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    for (std::string line; std::getline(status, line);) {
        if (line.starts_with(field + ":")) {
            return std::stol(line.substr(field.size() + 1));
        }
    }
    return -1;
}
