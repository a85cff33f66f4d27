#pragma once

#include <string>
#include <utility>
#include <variant>

namespace tovlane {

// Every way a storage step can fail. The top of each program decides what a
// failure means for the run: storage knows files, not runs.
enum class ErrorCode {
    FileMissing,     // no such file: for settings, simply "no settings yet"
    FileUnreadable,  // a file exists but cannot be read
    NotRegularFile,  // a name that stands for a directory, FIFO, socket or device
    FileUnwritable,  // a file cannot be written or replaced
    OutOfResources,  // the system refused memory or a file descriptor
    Untrusted,       // a folder or link another user could change: never used
};

// A failure and the one line that tells the user about it.
template <typename Code>
struct Failure {
    Code code;
    std::string reason;
};
using Error = Failure<ErrorCode>;

// A value or the failure that stopped it. Result<> carries no value.
template <typename T = std::monostate, typename E = Error>
class [[nodiscard]] Result {
  public:
    Result(T value = T{}) : state_(std::move(value)) {}
    Result(E error) : state_(std::move(error)) {}

    bool ok() const { return state_.index() == 0; }
    explicit operator bool() const { return ok(); }
    T& operator*() { return std::get<0>(state_); }
    const T& operator*() const { return std::get<0>(state_); }
    T* operator->() { return &std::get<0>(state_); }
    const E& error() const { return std::get<1>(state_); }

  private:
    std::variant<T, E> state_;
};

using Status = Result<>;

}  // namespace tovlane
