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

// A program started with posix_spawn, its output going to files in a
// directory of its own; killed on destruction if it still runs. To change
// its directory or environment, start it through env(1) ("-C DIR", "-u NAME").
class Process {
  public:
    explicit Process(std::vector<std::string> argv);
    ~Process();
    Process(const Process&) = delete;
    Process& operator=(const Process&) = delete;

    // The exit status, -1 after a signal, or -2 while it still runs at the end
    // of the timeout.
    int wait(std::chrono::milliseconds timeout = std::chrono::seconds(20));
    std::string out() const { return readFile(output_.file("out")); }
    std::string err() const { return readFile(output_.file("err")); }
    pid_t pid() const { return pid_; }

  private:
    TempDir output_;
    pid_t pid_ = -1;
    int status_ = -2;
};

// Runs body in a child process, so that it can drop privileges or limit its
// file size (as on a full disk) for itself; its result, or -1.
int inChild(const std::function<int()>& body);

}  // namespace tovlane::test
