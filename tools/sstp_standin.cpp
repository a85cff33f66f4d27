// A stand-in SSTP server for the demo, the end-to-end tests and the benchmark.
// It listens on a loopback port, reads each request up to its empty line,
// prints it decoded by its Charset header, and answers the way a chosen kind
// of real server does.
#include <asio/buffer.hpp>
#include <asio/io_context.hpp>
#include <asio/ip/tcp.hpp>
#include <asio/signal_set.hpp>
#include <asio/write.hpp>
#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <limits>
#include <map>
#include <memory>
#include <set>
#include <string>

#include "storage/text_codec.h"

namespace {

using asio::ip::tcp;

enum class Mode {
    Reply,     // answer, then close
    KeepOpen,  // answer, then leave the connection open until the client goes
    Close,     // close without answering
    Silent,    // never answer, never close
};

struct Options {
    std::string bind = "127.0.0.1";
    unsigned short port = 9801;
    Mode mode = Mode::Reply;
    int status = 200;
    std::string reason;  // the status line's text; "" for the usual one
    std::string rawFile;
    long count = 0;  // stop after this many requests; 0 = never
    bool quiet = false;
    bool unterminated = false;           // a status line without its line end, then close
    bool statusOnly = false;             // the status line without the empty line after it
    bool reset = false;                  // end with a reset, not a close
    std::size_t maxRequest = 64 * 1024;  // a longer request is dropped
};

[[noreturn]] void usage(const char* problem) {
    std::fprintf(problem ? stderr : stdout,
                 "%s%s%s"
                 "usage: sstp-standin [--bind ADDR] [--port N (0: any free port)]\n"
                 "                    [--mode reply|keep-open|close|silent] [--status CODE]\n"
                 "                    [--reason TEXT]\n"
                 "                    [--raw FILE] [--count N] [--quiet] [--unterminated]\n"
                 "                    [--status-only] [--reset] [--help]\n"
                 "                    [--max-request BYTES]\n",
                 problem ? "sstp-standin: " : "", problem ? problem : "", problem ? "\n" : "");
    std::exit(problem ? 2 : 0);
}

Mode parseMode(const std::string& text) {
    if (text == "reply")
        return Mode::Reply;
    if (text == "keep-open")
        return Mode::KeepOpen;
    if (text == "close")
        return Mode::Close;
    if (text == "silent")
        return Mode::Silent;
    usage(("unknown mode " + text).c_str());
}

// The whole of text as a number from low to high, or the usage and status 2.
template <typename Number>
Number wholeNumber(const std::string& flag, const std::string& text, Number low, Number high) {
    Number value{};
    auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || error != std::errc() || end != text.data() + text.size() || value < low ||
        value > high) {
        usage((flag + " takes a whole number from " + std::to_string(low) + " to " +
               std::to_string(high) + ", not \"" + text + "\"")
                  .c_str());
    }
    return value;
}

Options parseOptions(int argc, char** argv) {
    Options options;
    for (int i = 1; i < argc; ++i) {
        std::string flag = argv[i];
        if (flag == "--help")
            usage(nullptr);
        static const std::map<std::string, bool Options::*> switches = {
            {"--quiet", &Options::quiet},
            {"--unterminated", &Options::unterminated},
            {"--status-only", &Options::statusOnly},
            {"--reset", &Options::reset}};
        if (auto found = switches.find(flag); found != switches.end()) {
            options.*found->second = true;
            continue;
        }
        static const std::set<std::string> withValue = {"--bind",   "--port",       "--mode",
                                                        "--status", "--reason",     "--raw",
                                                        "--count",  "--max-request"};
        if (withValue.count(flag) == 0)
            usage(("unknown option " + flag).c_str());
        if (i + 1 >= argc)
            usage(("missing value for " + flag).c_str());
        std::string value = argv[++i];
        if (flag == "--bind") {
            options.bind = value;
        } else if (flag == "--port") {
            options.port = wholeNumber<unsigned short>(flag, value, 0, 65535);
        } else if (flag == "--mode") {
            options.mode = parseMode(value);
        } else if (flag == "--status") {
            options.status = wholeNumber(flag, value, 0, 999);
        } else if (flag == "--reason") {
            options.reason = value;
        } else if (flag == "--raw") {
            options.rawFile = value;
        } else if (flag == "--count") {
            options.count = wholeNumber(flag, value, 0L, std::numeric_limits<long>::max());
        } else if (flag == "--max-request") {
            options.maxRequest =
                wholeNumber(flag, value, std::size_t{0}, std::numeric_limits<std::size_t>::max());
        }
    }
    return options;
}

std::string reasonPhrase(int status) {
    switch (status) {
        case 200:
            return "OK";
        case 204:
            return "No Content";
        case 400:
            return "Bad Request";
        case 409:
            return "Conflict";
        case 420:
            return "Refuse";
        case 512:
            return "Invisible";
        default:
            return "Status";
    }
}

// The end of the request's head, looking only at bytes from "from" on.
std::size_t endOfHead(const std::string& bytes, std::size_t from) {
    std::size_t crlf = bytes.find("\r\n\r\n", from);
    if (crlf != std::string::npos)
        return crlf + 4;
    std::size_t lf = bytes.find("\n\n", from);
    return lf == std::string::npos ? std::string::npos : lf + 2;
}

std::string headerValue(const std::string& request, const std::string& name) {
    std::size_t at = request.find("\n" + name + ": ");
    if (at == std::string::npos)
        return {};
    at += name.size() + 3;
    std::size_t end = request.find_first_of("\r\n", at);
    return request.substr(at, end - at);
}

class Server;

class Session : public std::enable_shared_from_this<Session> {
  public:
    Session(tcp::socket socket, Server& server) : socket_(std::move(socket)), server_(server) {}
    void start() { read(); }

  private:
    void read();
    void respond(const std::string& request);
    void drainUntilClosed();

    tcp::socket socket_;
    Server& server_;
    std::string received_;
    std::string reply_;
    char buffer_[4096];
};

class Server {
  public:
    Server(asio::io_context& io, Options options)
        : io_(io),
          options_(std::move(options)),
          acceptor_(io, tcp::endpoint(asio::ip::make_address(options_.bind), options_.port)) {}

    void run() {
        std::printf("listening on %s port %u\n", options_.bind.c_str(),
                    static_cast<unsigned>(acceptor_.local_endpoint().port()));
        std::fflush(stdout);
        accept();
    }

    const Options& options() const { return options_; }

    void record(const std::string& request, const std::string& peer) {
        ++handled_;
        if (!options_.rawFile.empty()) {
            std::ofstream(options_.rawFile, std::ios::binary | std::ios::app) << request;
        }
        if (!options_.quiet)
            print(request, peer);
    }

    void note(const std::string& what) {
        if (!options_.quiet)
            std::printf("--- %s\n", what.c_str());
        std::fflush(stdout);
    }

    // Called when a session is done with its request, answered or not.
    void sessionDone() {
        if (options_.count > 0 && handled_ >= options_.count)
            io_.stop();
    }

  private:
    void accept() {
        acceptor_.async_accept([this](const asio::error_code& error, tcp::socket socket) {
            if (!error)
                std::make_shared<Session>(std::move(socket), *this)->start();
            accept();
        });
    }

    void print(const std::string& request, const std::string& peer) {
        std::string charset = headerValue(request, "Charset");
        std::string text = charset == "Shift_JIS" ? tovlane::decodeCp932(request) : request;
        std::string shown;
        for (std::size_t i = 0; i < text.size(); ++i) {
            if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n')
                continue;
            shown += text[i];
        }
        std::printf("--- request %ld from %s (%zu bytes, Charset %s)\n%s", handled_, peer.c_str(),
                    request.size(), charset.empty() ? "none" : charset.c_str(), shown.c_str());
        std::fflush(stdout);
    }

    asio::io_context& io_;
    Options options_;
    tcp::acceptor acceptor_;
    long handled_ = 0;
};

void Session::read() {
    socket_.async_read_some(
        asio::buffer(buffer_), [self = shared_from_this()](asio::error_code error, std::size_t n) {
            if (error) {
                self->server_.note("client closed before the end of its request");
                return self->server_.sessionDone();
            }
            std::size_t from =
                self->received_.size() - std::min<std::size_t>(self->received_.size(), 3);
            self->received_.append(self->buffer_, n);
            std::size_t end = endOfHead(self->received_, from);
            if (end != std::string::npos)
                return self->respond(self->received_.substr(0, end));
            if (self->received_.size() > self->server_.options().maxRequest) {
                self->server_.note("request too large; connection closed");
                return self->server_.sessionDone();
            }
            self->read();
        });
}

void Session::respond(const std::string& request) {
    asio::error_code ignored;
    auto peer = socket_.remote_endpoint(ignored);
    server_.record(request, peer.address().to_string() + ":" + std::to_string(peer.port()));
    const Options& options = server_.options();
    if (options.mode == Mode::Close) {
        socket_.close(ignored);
        return server_.sessionDone();
    }
    if (options.mode == Mode::Silent)
        return drainUntilClosed();
    reply_ = "SSTP/1.1 " + std::to_string(options.status) + " " +
             (options.reason.empty() ? reasonPhrase(options.status) : options.reason) +
             (options.unterminated ? ""
              : options.statusOnly ? "\r\n"
                                   : "\r\n\r\n");
    asio::async_write(socket_, asio::buffer(reply_),
                      [self = shared_from_this()](asio::error_code error, std::size_t) {
                          if (!error && self->server_.options().mode == Mode::KeepOpen) {
                              return self->drainUntilClosed();
                          }
                          asio::error_code ignored;
                          if (self->server_.options().reset)  // a close that sends RST
                              self->socket_.set_option(asio::socket_base::linger(true, 0), ignored);
                          self->socket_.close(ignored);
                          self->server_.sessionDone();
                      });
}

// Holds the connection open; it ends when the client closes it.
void Session::drainUntilClosed() {
    socket_.async_read_some(asio::buffer(buffer_),
                            [self = shared_from_this()](asio::error_code error, std::size_t) {
                                if (error)
                                    return self->server_.sessionDone();
                                self->drainUntilClosed();
                            });
}

}  // namespace

int main(int argc, char** argv) {
    Options options = parseOptions(argc, argv);
    try {
        asio::io_context io;
        asio::signal_set signals(io, SIGINT, SIGTERM);
        signals.async_wait([&io](const asio::error_code&, int) { io.stop(); });
        Server server(io, options);
        server.run();
        io.run();
    } catch (const std::exception& error) {
        std::fprintf(stderr, "sstp-standin: %s\n", error.what());
        return 1;
    }
    return 0;
}
