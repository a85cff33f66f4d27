#include <gtest/gtest.h>

#include "core/sstp_reply.h"
#include "core/sstp_request.h"

namespace tovlane {
namespace {

TEST(SstpRequest, BytesOnTheWire) {
    EXPECT_EQ(buildRequest("SEND SSTP/1.1", "\\h\\s[0]Hi.\\e"),
              "SEND SSTP/1.1\r\nSender: Tovlane\r\nScript: \\h\\s[0]Hi.\\e\\e\r\n"
              "Charset: Shift_JIS\r\n\r\n");
    // A line break never reaches the wire, whatever the script holds.
    EXPECT_EQ(buildRequest("SEND SSTP/1.1", "hi\rSender: evil\r\nX: y\n"),
              "SEND SSTP/1.1\r\nSender: Tovlane\r\nScript: hiSender: evilX: y\\e\r\n"
              "Charset: Shift_JIS\r\n\r\n");
    EXPECT_EQ(buildRequest("SEND SSTP/1.1", "あ〜😀"),
              "SEND SSTP/1.1\r\nSender: Tovlane\r\nScript: \x82\xa0\x81\x60?\\e\r\n"
              "Charset: Shift_JIS\r\n\r\n");
}

TEST(SstpReply, StatusLine) {
    EXPECT_EQ(parseStatusLine("SSTP/1.1 200 OK"), 200);
    EXPECT_EQ(parseStatusLine("SSTP/1.0 512 Invisible"), 512);
    EXPECT_EQ(parseStatusLine("SSTP/12.34 204"), 204);
    for (const char* bad :
         {"HTTP/1.1 200 OK", "SSTP/1.1 20 OK", "SSTP/1.1  200 OK", "SSTP/1 200", "SSTP/.1 200",
          "SSTP/1. 200", "SSTP/1.1 2000", "SSTP/1.1 20x", "SSTP/1.1 x00", "sstp/1.1 200 OK", ""}) {
        EXPECT_EQ(parseStatusLine(bad), std::nullopt) << bad;
    }
}

TEST(SstpReply, CompleteOnlyAfterTheEmptyLineInAnyChunking) {
    const std::string reply = "SSTP/1.1 420 Refuse\r\nCharset: Shift_JIS\r\n\r\nextra";
    for (std::size_t chunk : {1u, 3u, 100u}) {
        SstpReply parser;
        for (std::size_t at = 0;
             at < reply.size() && parser.state() == SstpReply::State::Incomplete; at += chunk) {
            parser.feed(std::string_view(reply).substr(at, chunk));
        }
        EXPECT_EQ(parser.state(), SstpReply::State::Complete) << chunk;
        EXPECT_EQ(parser.status(), 420);
        EXPECT_EQ(parser.statusLine(), "SSTP/1.1 420 Refuse");
    }
    SstpReply lfOnly;
    EXPECT_EQ(lfOnly.feed("SSTP/1.1 200 OK\n"), SstpReply::State::Incomplete);
    EXPECT_EQ(lfOnly.feed("\n"), SstpReply::State::Complete);
    EXPECT_EQ(lfOnly.feed("SSTP/1.1 512 Invisible\n\n"), SstpReply::State::Complete);
    EXPECT_EQ(lfOnly.status(), 200);

    // A status line cut short by the close still counts.
    SstpReply unterminated;
    EXPECT_EQ(unterminated.feed("SSTP/1.1 420 Refuse"), SstpReply::State::Incomplete);
    unterminated.close();
    EXPECT_EQ(unterminated.status(), 420);

    SstpReply notSstp;
    EXPECT_EQ(notSstp.feed("HTTP/1.0 400 Bad Request\r\n\r\n"), SstpReply::State::NotSstp);
    EXPECT_EQ(notSstp.status(), std::nullopt);
    SstpReply endless;
    EXPECT_EQ(endless.feed(std::string(64 * 1024, 'x')), SstpReply::State::Incomplete);
    EXPECT_EQ(endless.feed("x"), SstpReply::State::NotSstp);
}

}  // namespace
}  // namespace tovlane
