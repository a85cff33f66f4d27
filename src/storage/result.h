#pragma once

#include <string>
#include <utility>
#include <variant>

namespace tovlane {

// Every way a step of the program can fail. Storage and core return these;
// the top of each program turns one into its message and exit status.
enum class ErrorCode {
    FileMissing,         // no such file: for settings, simply "no settings yet"
    FileUnreadable,      // a file exists but cannot be read
    NotRegularFile,      // a name that stands for a directory, FIFO, socket or device
    FileUnwritable,      // a file cannot be written or replaced
    UnstorableValue,     // a name or value the settings file cannot hold
    NotANumber,          // the command line is not a number
    OutOfRange,          // its floor does not fit in 16 bits
    NoSuchEntry,         // it names no entry 0 to 9
    EmptyEntry,          // the chosen entry is empty: nothing to send
    BadProtocolId,       // "ProtocolID" selects no usable request line
    BadPort,             // "Port" is not a whole number 1 to 65535
    SettingsUnreadable,  // Tovlane.ini exists but cannot be read as a file
    UnreadableScript,    // the script file exists but cannot be read
    ConnectionFailed,    // refused, host not found, reset
    RefusedByServer,     // the server answered with a status other than 2xx
    SystemFailure,       // no memory, no file descriptor: the system refused
};

struct Error {
    ErrorCode code;
    std::string reason;  // one line for the user; may be empty for silent ends
};

// A value or the error that stopped it. Result<> carries no value.
template <typename T = std::monostate>
class [[nodiscard]] Result {
  public:
    Result(T value = T{}) : state_(std::move(value)) {}
    Result(Error error) : state_(std::move(error)) {}

    bool ok() const { return state_.index() == 0; }
    explicit operator bool() const { return ok(); }
    T& operator*() { return std::get<0>(state_); }
    const T& operator*() const { return std::get<0>(state_); }
    T* operator->() { return &std::get<0>(state_); }
    const Error& error() const { return std::get<1>(state_); }

  private:
    std::variant<T, Error> state_;
};

using Status = Result<>;

}  // namespace tovlane
