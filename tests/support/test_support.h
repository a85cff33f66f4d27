#pragma once

#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <string>

namespace tovlane::test {

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

}  // namespace tovlane::test
