#pragma once

#include <array>
#include <memory>
#include <optional>
#include <string>
#include <system_error>

#include "core/sstp_reply.h"

namespace asio {
class io_context;
}  // namespace asio

namespace tovlane {

struct Destination {
    std::string host;
    unsigned short port = 0;
    std::string requestLine;
};

enum class SendOutcome {
    Pending,           // still connecting or waiting for the server
    Accepted,          // written, then a 2xx reply or the server closed
    Refused,           // the server answered with another status
    ConnectionFailed,  // refused, host not found, reset, ...
};

// One SSTP connection driven by an asio::io_context: resolve, connect (each
// resolved address in turn), write the request, then follow the reply until
// the server closes or the reply is complete.
class SstpSender {
  public:
    SstpSender(asio::io_context& io, Destination destination);
    ~SstpSender();
    SstpSender(const SstpSender&) = delete;
    SstpSender& operator=(const SstpSender&) = delete;

    // Starts the exchange and returns at once. With autoEnd the io_context
    // stops as soon as the exchange ends, so its run() returns.
    void SendScript(const std::string& script, bool autoEnd);

    SendOutcome outcome() const { return outcome_; }
    std::optional<int> replyStatus() const { return reply_.status(); }

  private:
    struct Connection;

    template <typename Endpoints>
    void connect(const Endpoints& endpoints);
    void onConnect();
    void readReply();
    void onClose();
    void onError(const std::error_code& error);
    void finish(SendOutcome outcome);

    asio::io_context& io_;
    Destination destination_;
    std::unique_ptr<Connection> connection_;
    std::string strScript;
    bool blnAutoEnd = false;
    std::string request_;
    std::array<char, 4096> readBuffer_{};
    SstpReply reply_;
    SendOutcome outcome_ = SendOutcome::Pending;
};

}  // namespace tovlane
