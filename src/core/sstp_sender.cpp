#include "core/sstp_sender.h"

#include <asio/io_context.hpp>
#include <asio/ip/tcp.hpp>
#include <asio/write.hpp>

#include <array>

#include "core/host_lookup.h"
#include "core/sstp_reply.h"
#include "core/sstp_request.h"
#include "storage/file_io.h"
#include "storage/localized.h"

namespace tovlane {
namespace {

using asio::ip::tcp;

// The resolver's own texts, in the user's language.
std::string lookupText(const asio::error_code& error) {
    if (error == asio::error::host_not_found)
        return localized("host not found", "ホスト名が見つかりません");
    if (error == asio::error::host_not_found_try_again)
        return localized("host not found for now; try again later",
                         "ホスト名がいまは見つかりません。あとでもう一度試してください");
    return error.message();
}

// One socket and its steps, each bounded by the run's deadline: a step that
// is still at work when it passes is stopped and gives timed_out.
class Exchange {
  public:
    explicit Exchange(Deadline deadline) : deadline_(deadline) {}

    tcp::socket& socket() { return socket_; }

    // Runs a step started by start(done) until done is called or the deadline
    // passes.
    template <typename Start>
    asio::error_code step(Start start) {
        asio::error_code result = asio::error::would_block;
        start([&result](const asio::error_code& error) { result = error; });
        io_.restart();
        if (deadline_)
            io_.run_until(*deadline_);
        else
            io_.run();
        if (result != asio::error::would_block)
            return result;
        asio::error_code ignored;
        socket_.close(ignored);  // the step ends, cancelled
        io_.run();
        return asio::error::timed_out;
    }

  private:
    Deadline deadline_;
    asio::io_context io_;
    tcp::socket socket_{io_};
};

// A step of the exchange, for its messages: that it failed, and what was
// going on when the time limit ran out; {0} is the host, {1} the port, {2}
// the reason.
struct Step {
    const char* cannotEnglish;
    const char* cannotJapanese;
    const char* whileEnglish;
    const char* whileJapanese;
};
constexpr Step kLookUp{"cannot connect to {0} port {1}: {2}",
                       "{0} ポート {1} に接続できません: {2}", "looking up {0}", "{0} を探す"};
constexpr Step kConnect{"cannot connect to {0} port {1}: {2}",
                        "{0} ポート {1} に接続できません: {2}", "connecting to {0} port {1}",
                        "{0} ポート {1} に接続する"};
constexpr Step kSend{"cannot send to {0} port {1}: {2}", "{0} ポート {1} に送信できません: {2}",
                     "sending to {0} port {1}", "{0} ポート {1} に送信する"};
constexpr Step kRead{"cannot read the reply from {0} port {1}: {2}",
                     "{0} ポート {1} の応答を読めません: {2}",
                     "waiting for the reply from {0} port {1}", "{0} ポート {1} の応答を待つ"};

// No descriptor for the socket or no memory for the lookup is the system's
// shortage, not the server's fault; the time limit running out is its own
// ending. The resolver reports a hosts file it could not open for want of a
// descriptor as an unknown host, so a failed lookup also asks whether
// descriptors ran out.
RunError failed(const Step& step, const std::string& host, unsigned short port,
                const asio::error_code& error) {
    const std::string number = std::to_string(port);
    if (error == asio::error::timed_out) {
        std::string doing = localized(step.whileEnglish, step.whileJapanese, {host, number});
        return {Ending::TimedOut, localized("the time limit ran out while {}",
                                            "{}うちに時間切れになりました", {doing})};
    }
    const bool systems = error.category() == asio::system_category();
    const bool shortage = systems ? isResourceShortage(error.value()) : descriptorsExhausted();
    std::string reason =
        localized(step.cannotEnglish, step.cannotJapanese,
                  {host, number, systems ? systemText(error.value()) : lookupText(error)});
    if (shortage && !systems)
        reason += localized(" (no file descriptor left)", "（ファイル記述子が足りません）");
    return {shortage ? Ending::SystemFailure : Ending::ConnectionFailed, reason};
}

// An address needs no lookup; only a host name goes to the resolver.
Outcome<> connect(Exchange& exchange, const Destination& to, const Trace& trace,
                  Deadline deadline) {
    std::string tried;  // the address tried last
    auto trying = [&](const tcp::endpoint& next) {
        tried = next.address().to_string();
        if (trace)
            trace(localized("connecting to the address {}", "アドレス {} に接続します", {tried}));
    };
    asio::error_code error;
    std::vector<tcp::endpoint> addresses;
    if (auto address = asio::ip::make_address(to.host, error); !error)
        addresses.emplace_back(address, to.port);
    else
        addresses = lookUpHost(to.host, to.port, error, deadline);
    if (error)
        return failed(kLookUp, to.host, to.port, error);
    // Each address in turn, opened here so that a socket the system cannot
    // give is told as such; a failure before the last is told as it happens.
    for (std::size_t i = 0; i < addresses.size(); ++i) {
        trying(addresses[i]);
        asio::error_code ignored;
        exchange.socket().close(ignored);
        exchange.socket().open(addresses[i].protocol(), error);
        if (!error) {
            error = exchange.step(
                [&](auto done) { exchange.socket().async_connect(addresses[i], done); });
        }
        if (!error)
            return {};
        if (error == asio::error::timed_out)
            break;
        if (trace && i + 1 < addresses.size())
            trace(failed(kConnect, tried, to.port, error).reason);
    }
    return failed(kConnect, to.host, to.port, error);
}

}  // namespace

Outcome<> SendScript(const Destination& to, std::string script, const Trace& trace,
                     Deadline deadline) {
    // Each line is made only when someone listens: a quiet run makes no text.
    auto explain = [&](auto line) {
        if (trace)
            trace(line());
    };
    explain([&] {
        return localized("destination: {} port {}", "送信先: {} ポート {}",
                         {to.host, std::to_string(to.port)});
    });
    Exchange exchange(deadline);
    if (auto connected = connect(exchange, to, trace, deadline); !connected)
        return connected;
    std::string request = buildRequest(to.requestLine, script);
    std::string().swap(script);  // a long script is not held twice while it goes out
    asio::error_code error = exchange.step([&](auto done) {
        asio::async_write(exchange.socket(), asio::buffer(request),
                          [done](const asio::error_code& result, std::size_t) { done(result); });
    });
    if (error)
        return failed(kSend, to.host, to.port, error);
    explain([&] {
        return localized("sent {} bytes", "{} バイトを送信しました",
                         {std::to_string(request.size())});
    });

    // Real servers often answer and leave the connection open: a complete
    // reply ends the exchange as the server's close does.
    SstpReply reply;
    std::array<char, 4096> buffer;
    while (reply.state() != SstpReply::State::Complete) {
        std::size_t count = 0;
        error = exchange.step([&](auto done) {
            exchange.socket().async_read_some(
                asio::buffer(buffer),
                [done, &count](const asio::error_code& result, std::size_t n) {
                    count = n;
                    done(result);
                });
        });
        reply.feed(std::string_view(buffer.data(), count));
        if (error == asio::error::eof) {
            reply.close();
            break;
        }
        // Once the whole status line is in, a reset, a failed read or the
        // time limit changes nothing: the server has given its verdict.
        if (error && reply.hasStatusLine())
            break;
        if (error)
            return failed(kRead, to.host, to.port, error);
    }
    auto status = reply.status();
    explain([&] {
        return status
                   ? localized("the server's reply: {}", "サーバーの応答: {}", {reply.statusLine()})
                   : localized("the server closed without an SSTP reply",
                               "サーバーは SSTP の応答を返さずに閉じました");
    });
    if (status && (*status < 200 || *status > 299)) {
        return RunError{Ending::RefusedByServer,
                        localized("the server did not accept it: {}",
                                  "サーバーが受け付けませんでした: {}", {reply.statusLine()})};
    }
    return {};
}

}  // namespace tovlane
