#pragma once

#include <grp.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <stdexcept>
#include <string>

namespace tovlane::test {

// The tests read Tovlane's Japanese messages, and the C library's own texts
// in English (no installed locale is loaded): a test that wants another
// language says so in the environment of the run it starts.
inline const bool kJapaneseMessages = ::setenv("LANG", "ja_JP.UTF-8", 1) == 0 &&
                                      ::unsetenv("LC_ALL") == 0 && ::unsetenv("LC_MESSAGES") == 0 &&
                                      ::setenv("LOCPATH", "/nonexistent", 1) == 0;

// A fresh directory under /tmp, removed with everything in it.
class TempDir {
  public:
    TempDir() {
        if (::mkdtemp(path_.data()) == nullptr)
            throw std::runtime_error("mkdtemp failed");
    }
    ~TempDir() {
        std::error_code ignored;  // root removes even what a test made read-only
        std::filesystem::remove_all(path_, ignored);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::string& path() const { return path_; }
    std::string file(const std::string& name) const { return path_ + "/" + name; }

  private:
    std::string path_ = "/tmp/tovlane-test-XXXXXX";
};

inline void writeFile(const std::string& path, const std::string& bytes) {
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    if (!(file << bytes))
        throw std::runtime_error("cannot write " + path);
}

inline std::string readFile(const std::string& path) {
    std::ostringstream text;
    text << std::ifstream(path, std::ios::binary).rdbuf();
    return text.str();
}

// Runs body in a process of its own (to drop privileges, limit itself, or be
// another program); whether it returned true.
inline bool inChild(const std::function<bool()>& body) {
    pid_t child = ::fork();
    if (child == 0)
        _exit(body() ? 0 : 1);
    int status = 0;
    ::waitpid(child, &status, 0);
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

// Another user, by default nobody; always in nobody's group.
inline bool becomeUser(uid_t uid = 65534) {
    const gid_t groups[] = {65534};
    return ::setgroups(1, groups) == 0 && ::setgid(uid) == 0 && ::setuid(uid) == 0;
}

// A row that needs what this machine cannot give (another user, a mount
// namespace, a locale) is skipped, never failed: one line on the test output,
// which the test command counts. The rest of its table still runs.
inline void skipped(const std::string& row, const std::string& why) {
    std::printf("skipped: %s: %s\n", row.c_str(), why.c_str());
    std::fflush(stdout);
}

// Why this machine cannot run a row as another user, or "" when it can:
// only root can become one, and they must reach the temporary folders.
inline std::string cannotActAsAnotherUser() {
    static const std::string why = [] {
        if (::geteuid() != 0)
            return std::string("acting as another user needs root");
        if (!inChild([] { return becomeUser() && ::access("/tmp", W_OK | X_OK) == 0; }))
            return std::string("the user nobody (65534) cannot be taken, or cannot write /tmp");
        return std::string();
    }();
    return why;
}

// Skips the running test, with its line, when the machine has no other user
// to give it.
#define TOVLANE_SKIP_WITHOUT_ANOTHER_USER()                                            \
    if (std::string why = cannotActAsAnotherUser(); !why.empty()) {                    \
        skipped(::testing::UnitTest::GetInstance()->current_test_info()->name(), why); \
        GTEST_SKIP() << why;                                                           \
    }

}  // namespace tovlane::test
