#include <gtest/gtest.h>

#include "core/sstp_reply.h"
#include "core/sstp_request.h"

namespace tovlane {
namespace {

// A line break never reaches the wire, whatever the script holds.
TEST(SstpRequest, NoLineBreakInsideAHeader) {
    EXPECT_EQ(buildRequest("SEND SSTP/1.1", "hi\rSender: evil\r\nX: yあ\n"),
              "SEND SSTP/1.1\r\nSender: Tovlane\r\nScript: hiSender: evilX: y\x82\xa0\\e\r\n"
              "Charset: Shift_JIS\r\n\r\n");
}

TEST(SstpReply, StatusLine) {
    EXPECT_EQ(parseStatusLine("SSTP/1.1 200 OK"), 200);
    EXPECT_EQ(parseStatusLine("SSTP/1.0 512 Invisible"), 512);
    EXPECT_EQ(parseStatusLine("SSTP/12.34 299"), 299);
    for (const char* bad :
         {"HTTP/1.1 200 OK", "SSTP/1.1 20 OK", "SSTP/1.1  200 OK", "SSTP/1 200", "SSTP/.1 200",
          "SSTP/1. 200", "SSTP/1.1 2000", "SSTP/1.1 20x", "SSTP/1.1 x00", "sstp/1.1 200 OK", ""}) {
        EXPECT_EQ(parseStatusLine(bad), std::nullopt) << bad;
    }
}

// Splitting the bytes into reads is the fuzz target's business; these are
// the verdicts.
TEST(SstpReply, CompleteAfterTheEmptyLineOrTheClose) {
    SstpReply crlf;
    EXPECT_EQ(crlf.feed("SSTP/1.1 420 Refuse\r\nCharset: Shift_JIS\r\n"),
              SstpReply::State::Incomplete);
    EXPECT_EQ(crlf.feed("\r\nextra"), SstpReply::State::Complete);
    EXPECT_EQ(crlf.statusLine(), "SSTP/1.1 420 Refuse");
    SstpReply lfOnly;
    EXPECT_EQ(lfOnly.feed("SSTP/1.1 200 OK\n\nSSTP/1.1 512 Invisible\n\n"),
              SstpReply::State::Complete);
    EXPECT_EQ(lfOnly.status(), 200);
    SstpReply unterminated;  // a status line cut short by the close still counts
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
