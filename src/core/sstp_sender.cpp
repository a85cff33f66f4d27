#include "core/sstp_sender.h"

#include <asio/connect.hpp>
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

// No descriptor for the socket or no memory for the lookup is the system's
// shortage, not the server's fault. The resolver reports a hosts file it could
// not open for want of a descriptor as an unknown host, so a failed lookup
// also asks whether descriptors ran out.
RunError failed(std::string step, const asio::error_code& error) {
    const bool systems = error.category() == asio::system_category();
    const bool shortage = systems ? isResourceShortage(error.value()) : descriptorsExhausted();
    std::string reason = step + ": " + (systems ? systemText(error.value()) : lookupText(error));
    if (shortage && !systems)
        reason += localized(" (no file descriptor left)", "（ファイル記述子が足りません）");
    return {shortage ? Ending::SystemFailure : Ending::ConnectionFailed, reason};
}

// An address needs no lookup; only a host name goes to the resolver.
asio::error_code connect(tcp::socket& socket, const Destination& to, const Trace& trace) {
    auto trying = [&](const tcp::endpoint& next) {
        if (trace) {
            trace(localized("connecting to the address {}", "アドレス {} に接続します",
                            {next.address().to_string()}));
        }
    };
    asio::error_code error;
    auto address = asio::ip::make_address(to.host, error);
    if (!error) {
        trying(tcp::endpoint(address, to.port));
        socket.connect(tcp::endpoint(address, to.port), error);
        return error;
    }
    auto& io = static_cast<asio::io_context&>(socket.get_executor().context());
    auto addresses = lookUpHost(io, to.host, to.port, error);
    if (!error) {
        asio::connect(
            socket, addresses,
            [&](const asio::error_code& previous, const tcp::endpoint& next) {
                if (previous && trace)
                    trace(failed(localized("cannot connect", "接続できません"), previous).reason);
                return trying(next), true;
            },
            error);
    }
    return error;
}

}  // namespace

Outcome<> SendScript(const Destination& to, std::string script, const Trace& trace) {
    // Each line is made only when someone listens: a quiet run makes no text.
    auto explain = [&](auto line) {
        if (trace)
            trace(line());
    };
    explain([&] {
        return localized("destination: {} port {}", "送信先: {} ポート {}",
                         {to.host, std::to_string(to.port)});
    });
    asio::io_context io;
    tcp::socket socket(io);
    if (auto error = connect(socket, to, trace))
        return failed(localized("cannot connect", "接続できません"), error);
    std::string request = buildRequest(to.requestLine, script);
    std::string().swap(script);  // a long script is not held twice while it goes out
    asio::error_code error;
    asio::write(socket, asio::buffer(request), error);
    if (error)
        return failed(localized("cannot send", "送信できません"), error);
    explain([&] {
        return localized("sent {} bytes", "{} バイトを送信しました",
                         {std::to_string(request.size())});
    });

    // Real servers often answer and leave the connection open: a complete
    // reply ends the exchange as the server's close does.
    SstpReply reply;
    std::array<char, 4096> buffer;
    while (reply.state() != SstpReply::State::Complete) {
        std::size_t count = socket.read_some(asio::buffer(buffer), error);
        if (error == asio::error::eof) {
            reply.close();
            break;
        }
        // Once the whole status line is in, a reset or a failed read changes
        // nothing: the server has given its verdict.
        if (error && reply.hasStatusLine())
            break;
        if (error)
            return failed(localized("cannot read the reply", "応答を読めません"), error);
        reply.feed(std::string_view(buffer.data(), count));
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
