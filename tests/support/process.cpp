#include "tests/support/process.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <stdexcept>

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

}  // namespace

Process::Process(const Options& options) {
    static int counter = 0;
    if (!options.output_dir.empty()) {
        const std::string stem =
            options.output_dir + "/" + std::to_string(getpid()) + "-" + std::to_string(++counter);
        stdout_path_ = stem + ".out";
        stderr_path_ = stem + ".err";
    }

    // Everything the child needs is prepared before fork, so the child only calls
    // async-signal-safe functions.
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
    std::vector<std::string> args = options.argv;
    std::vector<char*> argv;
    for (std::string& a : args) {
        argv.push_back(a.data());
    }
    argv.push_back(nullptr);

    const int out = OpenOutput(stdout_path_);
    const int err = OpenOutput(stderr_path_);
    const int in = open("/dev/null", O_RDONLY | O_CLOEXEC);
    pid_ = fork();
    if (pid_ == 0) {
        dup2(in, 0);
        dup2(out, 1);
        dup2(err, 2);
        setpgid(0, 0);
        execvpe(argv[0], argv.data(), envp.data());
        _exit(127);
    }
    close(in);
    close(out);
    close(err);
    if (pid_ < 0) {
        throw std::runtime_error("fork failed");
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
