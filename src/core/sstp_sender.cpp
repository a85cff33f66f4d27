#include "core/sstp_sender.h"

#include <asio/connect.hpp>
#include <asio/io_context.hpp>
#include <asio/ip/tcp.hpp>
#include <asio/write.hpp>

#include <vector>

#include "core/sstp_request.h"

namespace tovlane {

struct SstpSender::Connection {
    explicit Connection(asio::io_context& io) : resolver(io), socket(io) {}
    asio::ip::tcp::resolver resolver;
    asio::ip::tcp::socket socket;
};

SstpSender::SstpSender(asio::io_context& io, Destination destination)
    : io_(io), destination_(std::move(destination)) {}

SstpSender::~SstpSender() = default;

void SstpSender::SendScript(const std::string& script, bool autoEnd) {
    blnAutoEnd = false;
    connection_.reset();  // closes any earlier connection
    connection_ = std::make_unique<Connection>(io_);
    strScript = script;
    blnAutoEnd = autoEnd;
    reply_ = SstpReply();
    outcome_ = SendOutcome::Pending;

    // An address needs no lookup; only a host name goes to the resolver,
    // whose lookup runs on a thread of its own.
    asio::error_code notAnAddress;
    auto address = asio::ip::make_address(destination_.host, notAnAddress);
    if (!notAnAddress) {
        connect(std::vector{asio::ip::tcp::endpoint(address, destination_.port)});
        return;
    }
    connection_->resolver.async_resolve(
        destination_.host, std::to_string(destination_.port),
        asio::ip::tcp::resolver::numeric_service,
        [this](const asio::error_code& error, asio::ip::tcp::resolver::results_type results) {
            if (error)
                return onError(error);
            connect(results);
        });
}

// Tries each address in turn until one accepts.
template <typename Endpoints>
void SstpSender::connect(const Endpoints& endpoints) {
    asio::async_connect(connection_->socket, endpoints,
                        [this](const asio::error_code& error, const auto&) {
                            if (error)
                                return onError(error);
                            onConnect();
                        });
}

void SstpSender::onConnect() {
    request_ = buildRequest(destination_.requestLine, strScript);
    asio::async_write(connection_->socket, asio::buffer(request_),
                      [this](const asio::error_code& error, std::size_t) {
                          if (error)
                              return onError(error);
                          readReply();
                      });
}

void SstpSender::readReply() {
    connection_->socket.async_read_some(
        asio::buffer(readBuffer_), [this](const asio::error_code& error, std::size_t count) {
            if (error == asio::error::eof)
                return onClose();
            if (error)
                return onError(error);
            if (reply_.feed(std::string_view(readBuffer_.data(), count)) ==
                SstpReply::State::Complete) {
                return onClose();
            }
            readReply();
        });
}

// The server closed the connection, or its reply is complete: either way the
// exchange is over, and the status (if any) says whether the script was taken.
void SstpSender::onClose() {
    auto status = reply_.status();
    bool refused = status && (*status < 200 || *status > 299);
    finish(refused ? SendOutcome::Refused : SendOutcome::Accepted);
}

void SstpSender::onError(const asio::error_code& error) {
    // An operation of a connection that SendScript has since replaced.
    if (error == asio::error::operation_aborted)
        return;
    finish(SendOutcome::ConnectionFailed);
}

void SstpSender::finish(SendOutcome outcome) {
    outcome_ = outcome;
    asio::error_code ignored;
    connection_->socket.close(ignored);
    if (blnAutoEnd)
        io_.stop();
}

}  // namespace tovlane
