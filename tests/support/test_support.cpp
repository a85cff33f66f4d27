#include "support/test_support.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <thread>
#include <utility>

namespace tovlane::test {
namespace {

std::string readAll(int fd) {
    std::string text;
    char buffer[4096];
    ssize_t count;
    while ((count = ::read(fd, buffer, sizeof buffer)) > 0)
        text.append(buffer, count);
    return text;
}

[[noreturn]] void execChild(const std::vector<std::string>& argv, const ProcessOptions& options) {
    if (!options.workingDirectory.empty() && ::chdir(options.workingDirectory.c_str()) != 0) {
        _exit(126);
    }
    for (const auto& name : options.unsetEnvironment)
        ::unsetenv(name.c_str());
    for (const auto& entry : options.setEnvironment) {
        auto equals = entry.find('=');
        ::setenv(entry.substr(0, equals).c_str(), entry.substr(equals + 1).c_str(), 1);
    }
    std::vector<char*> args;
    for (const auto& arg : argv)
        args.push_back(const_cast<char*>(arg.c_str()));
    args.push_back(nullptr);
    ::execv(args[0], args.data());
    _exit(127);
}

int statusOf(int waitStatus) {
    return WIFEXITED(waitStatus) ? WEXITSTATUS(waitStatus) : -1;
}

int runChild(const std::function<void()>& prepare, const std::function<int()>& body) {
    pid_t child = ::fork();
    if (child == 0) {
        prepare();
        _exit(body());
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    return statusOf(status);
}

}  // namespace

TempDir::TempDir() {
    char templ[] = "/tmp/tovlane-test-XXXXXX";
    if (::mkdtemp(templ) == nullptr)
        throw std::runtime_error("mkdtemp failed");
    path_ = templ;
}

TempDir::~TempDir() {
    std::error_code ignored;
    std::filesystem::permissions(path_, std::filesystem::perms::owner_all,
                                 std::filesystem::perm_options::add, ignored);
    std::filesystem::remove_all(path_, ignored);
}

void writeFile(const std::string& path, const std::string& bytes) {
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    file << bytes;
    if (!file)
        throw std::runtime_error("cannot write " + path);
}

std::string readFile(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    std::ostringstream text;
    text << file.rdbuf();
    return text.str();
}

ProcessResult runProcess(const std::vector<std::string>& argv, const ProcessOptions& options) {
    int out[2], err[2];
    if (::pipe2(out, O_CLOEXEC) != 0 || ::pipe2(err, O_CLOEXEC) != 0) {
        throw std::runtime_error("pipe failed");
    }
    pid_t child = ::fork();
    if (child == 0) {
        ::dup2(out[1], 1);
        ::dup2(err[1], 2);
        execChild(argv, options);
    }
    ::close(out[1]);
    ::close(err[1]);
    ProcessResult result;
    std::thread errReader([&] { result.err = readAll(err[0]); });
    result.out = readAll(out[0]);
    errReader.join();
    ::close(out[0]);
    ::close(err[0]);
    int status = 0;
    ::waitpid(child, &status, 0);
    result.exitStatus = statusOf(status);
    return result;
}

BackgroundProcess::BackgroundProcess(const std::vector<std::string>& argv,
                                     const ProcessOptions& options) {
    int out[2];
    if (::pipe2(out, O_CLOEXEC) != 0)
        throw std::runtime_error("pipe failed");
    pid_ = ::fork();
    if (pid_ == 0) {
        ::dup2(out[1], 1);
        execChild(argv, options);
    }
    ::close(out[1]);
    out_ = out[0];
}

BackgroundProcess::~BackgroundProcess() {
    stop();
    if (out_ >= 0)
        ::close(out_);
}

std::string BackgroundProcess::readLine() {
    for (;;) {
        auto newline = buffered_.find('\n');
        if (newline != std::string::npos) {
            std::string line = buffered_.substr(0, newline);
            buffered_.erase(0, newline + 1);
            return line;
        }
        pollfd ready{out_, POLLIN, 0};
        if (::poll(&ready, 1, 10000) <= 0)
            return {};
        char buffer[4096];
        ssize_t count = ::read(out_, buffer, sizeof buffer);
        if (count <= 0)
            return std::exchange(buffered_, {});
        buffered_.append(buffer, count);
    }
}

int BackgroundProcess::waitFor(std::chrono::milliseconds timeout) {
    auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!ended_) {
        int status = 0;
        if (::waitpid(pid_, &status, WNOHANG) == pid_) {
            ended_ = true;
            status_ = statusOf(status);
            break;
        }
        if (std::chrono::steady_clock::now() >= deadline)
            return -1;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return status_;
}

bool BackgroundProcess::isRunning() {
    return waitFor(std::chrono::milliseconds(0)) == -1 && !ended_;
}

void BackgroundProcess::stop() {
    if (pid_ <= 0 || ended_)
        return;
    ::kill(pid_, SIGKILL);
    int status = 0;
    ::waitpid(pid_, &status, 0);
    ended_ = true;
}

int runUnprivileged(const std::function<int()>& body) {
    return runChild(
        [] {
            if (::geteuid() == 0 && (::setgid(65534) != 0 || ::setuid(65534) != 0))
                _exit(125);
        },
        body);
}

int runWithFileSizeLimit(long limitBytes, const std::function<int()>& body) {
    return runChild(
        [limitBytes] {
            ::signal(SIGXFSZ, SIG_IGN);
            rlimit limit{static_cast<rlim_t>(limitBytes), static_cast<rlim_t>(limitBytes)};
            ::setrlimit(RLIMIT_FSIZE, &limit);
        },
        body);
}

}  // namespace tovlane::test
