#pragma once

#include <sys/types.h>

#include <chrono>
#include <functional>
#include <string>
#include <vector>

namespace tovlane::test {

// A fresh directory under /tmp, removed with everything in it.
class TempDir {
  public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::string& path() const { return path_; }
    std::string file(const std::string& name) const { return path_ + "/" + name; }

  private:
    std::string path_;
};

void writeFile(const std::string& path, const std::string& bytes);
std::string readFile(const std::string& path);

struct ProcessResult {
    int exitStatus = -1;  // -1 when killed by a signal
    std::string out;
    std::string err;
};

struct ProcessOptions {
    std::string workingDirectory;
    std::vector<std::string> unsetEnvironment;
    std::vector<std::string> setEnvironment;  // "NAME=value"
};

// Runs a program to its end and collects what it printed.
ProcessResult runProcess(const std::vector<std::string>& argv, const ProcessOptions& options = {});

// A program left running while the test works; killed on destruction.
class BackgroundProcess {
  public:
    explicit BackgroundProcess(const std::vector<std::string>& argv,
                               const ProcessOptions& options = {});
    ~BackgroundProcess();
    BackgroundProcess(const BackgroundProcess&) = delete;
    BackgroundProcess& operator=(const BackgroundProcess&) = delete;

    // The next line of its standard output ("" when it ends first).
    std::string readLine();
    bool isRunning();
    // Waits up to timeout for the end; the exit status, or -1 if still running.
    int waitFor(std::chrono::milliseconds timeout);
    pid_t pid() const { return pid_; }
    void stop();

  private:
    pid_t pid_ = -1;
    int out_ = -1;
    int status_ = -1;
    bool ended_ = false;
    std::string buffered_;
};

// Runs body in a child process, as the unprivileged user "nobody" when the
// tests run as root, so that permission bits stop it as they stop a user.
// Returns body's result.
int runUnprivileged(const std::function<int()>& body);

// Runs body in a child whose files may not grow beyond limitBytes, as on a
// full disk; writes past it fail with EFBIG. Returns body's result.
int runWithFileSizeLimit(long limitBytes, const std::function<int()>& body);

}  // namespace tovlane::test
