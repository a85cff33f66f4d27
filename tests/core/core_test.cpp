#include <fcntl.h>
#include <gtest/gtest.h>
#include <fstream>
#include <optional>
#include <regex>
#include <sstream>
#include <system_error>
#include <tuple>

#include "core/command_line.h"
#include "core/exit_status.h"
#include "core/host_lookup.h"
#include "core/options.h"
#include "core/output.h"
#include "core/settings.h"
#include "core/sstp_reply.h"
#include "core/sstp_request.h"
#include "storage/utf8.h"
#include "support/test_support.h"

namespace tovlane::test {
namespace {

using namespace std::string_literals;

// The arguments make one line, whose floor names the entry.
TEST(CommandLine, JoinedArgumentsAndTheFloorWithinTheEntries) {
    EXPECT_EQ(joinWords({"3", "", "x y"}), "3  x y");
    EXPECT_EQ(joinWords({}), "");
    const std::pair<const char*, int> entries[] = {{" 3 ", 3},
                                                   {"3.7", 3},
                                                   {"0", 0},
                                                   {"9.999", 9},
                                                   {"1e-400", 0},
                                                   {"900000e-5", 9},
                                                   {"4.9999999999999999", 4},
                                                   {"9.99999999999999999999", 9}};
    for (auto [text, index] : entries)
        EXPECT_EQ(*parseEntryIndex(text, 10), index) << text;
    // The reason names the floor; the end-to-end rows show each whole message.
    const std::pair<const char*, const char*> errors[] = {
        {"-0.5", "エントリ -1 "},      {"10", "エントリ 10 "},
        {"32767", "エントリ 32767 "},  {"-32768", "エントリ -32768 "},
        {"32768", "範囲外"},           {"-32768.5", "範囲外"},
        {"1e999", "範囲外"},           {"-1e-400", "エントリ -1 "},
        {"3 4", "\"3 4\" は数値では"}, {"32767.9999999999999999", "エントリ 32767 "}};
    for (auto [text, reason] : errors) {
        auto index = parseEntryIndex(text, 10);
        ASSERT_FALSE(index.ok()) << text;
        EXPECT_NE(index.error().reason.find(reason), std::string::npos) << index.error().reason;
    }
}

// Empty or missing values keep their defaults; a ProtocolID is floored and
// must name the request line (0) or none (-1).
TEST(Settings, LoadedValuesOrTheirDefaultsAndAllOrNothingSaves) {
    TempDir dir;
    INIAccess store = settingsStore({dir.path()});
    // A stored ProtocolID (nullptr: an empty file) and the index it gives, if any.
    const std::pair<const char*, std::optional<int>> cases[] = {
        {nullptr, 0},    {"", 0},       {"0", 0},  {"0.9", 0},   {" -1 ", -1}, {"-0.5", -1},
        {"-1e-400", -1}, {"1e-400", 0}, {"1", {}}, {"-1.5", {}}, {"abc", {}}};
    for (auto [stored, index] : cases) {
        std::string id = stored ? stored : "";
        writeFile(dir.file("Tovlane.ini"),
                  stored ? "[Tovlane Setting]\nAddress=\nPort=  \nProtocolID=" + id : "");
        auto settings = loadSettings(store);
        ASSERT_EQ(settings.ok(), index.has_value()) << id;
        if (index) {
            EXPECT_EQ(*protocolIndex(*settings, store), *index) << id;
            EXPECT_EQ(settings->values[kAddressKey] + " " + settings->values[kPortKey],
                      "127.0.0.1 9801");
            EXPECT_EQ(settings->values[entryKey(9)], "");
        } else {  // the end-to-end rows show the message
            EXPECT_EQ(settings.error().code, Ending::BadProtocolId);
        }
    }
    // A send takes only its own entry, as stored; a value that is not UTF-8 is CP932.
    const std::string file = "[Tovlane Setting]\nAlarmFile1=1\nAlarmFile0= \x82\xa0 \n";
    writeFile(dir.file("Tovlane.ini"), file);
    auto one = loadSettings(store, 0);
    EXPECT_EQ(one->values[entryKey(1)] + one->values[entryKey(0)], "\x82\xa0");
    EXPECT_EQ(loadSettings(store)->values[entryKey(0)], "あ");
    // A save with a value the file cannot hold leaves it whole; how saves
    // merge with the file: the window's tests.
    Settings shown, edited;
    edited.values[entryKey(9)] = std::string("a\0b", 3);
    EXPECT_EQ(saveSettings(store, shown, edited).error().code, ErrorCode::FileUnwritable);
    EXPECT_EQ(readFile(dir.file("Tovlane.ini")), file);
}

// A folder of the package manager's is never written, not even by root; its
// machine's defaults are where Debian keeps configuration.
TEST(Settings, PackagedProgramsKeepEveryonesSettingsInTheirOwnFolder) {
    const std::pair<const char*, const char*> defaults[] = {
        {nullptr, "/etc/xdg/tovlane"},
        {"", "/etc/xdg/tovlane"},
        {"relative:/opt/conf:/etc/xdg", "/opt/conf/tovlane"}};
    for (auto [dirs, folder] : defaults) {
        dirs ? ::setenv("XDG_CONFIG_DIRS", dirs, 1) : ::unsetenv("XDG_CONFIG_DIRS");
        auto place = *settingsPlaceFor("/usr/lib/tovlane");
        EXPECT_EQ(place.folders.fallbackDirectory, folder) << (dirs ? dirs : "unset");
        EXPECT_NE(whyThere(place).find(std::string(folder) + "/Tovlane.ini"), std::string::npos);
    }
    ::unsetenv("XDG_CONFIG_DIRS");
    EXPECT_EQ(settingsPlaceFor("/usr/local/lib")->folders.directory, "/usr/local/lib");
}

// The static sender's lookup: /etc/hosts, and a name that cannot exist.
TEST(HostLookup, HostsFileAndDnsAlone) {
    asio::error_code error;
    auto found = lookUpHostWithHostsAndDns("localhost", 9801, error);
    ASSERT_FALSE(error) << error.message();
    ASSERT_FALSE(found.empty());
    for (const auto& endpoint : found)
        EXPECT_TRUE(endpoint.address().is_loopback() && endpoint.port() == 9801) << endpoint;
    EXPECT_TRUE(lookUpHostWithHostsAndDns("no-such-host.invalid", 1, error).empty());
    EXPECT_TRUE(error == asio::error::host_not_found ||
                error == asio::error::host_not_found_try_again)
        << error.message();
}

// The request line and the Port message are the end-to-end rows' business.
TEST(Settings, PortIsAWholeNumberFrom1To65535) {
    INIAccess store = settingsStore({"/opt/t"});
    Settings settings;
    const std::pair<const char*, int> ports[] = {{"9801", 9801},
                                                 {" 1 ", 1},
                                                 {"65535", 65535},
                                                 {"", 0},
                                                 {"0", 0},
                                                 {"65536", 0},
                                                 {"-1", 0},
                                                 {"+80", 80},
                                                 {"19871.00", 19871},
                                                 {"80.", 80},
                                                 {"19871.5", 0},
                                                 {"9801x", 0},
                                                 {"99999999999", 0},
                                                 {"0.9999e5", 0},
                                                 {"65535.0000000000000001", 0}};
    for (auto [text, port] : ports) {
        settings.values[kPortKey] = text;
        auto number = portNumber(settings, store);
        EXPECT_EQ(number.ok() ? *number : 0, port) << text;
    }
}

// A line break never reaches the wire, whatever the script holds.
TEST(SstpRequest, NoLineBreakInsideAHeader) {
    EXPECT_EQ(buildRequest("SEND SSTP/1.1", "hi\rSender: evil\r\nX: y\x82\xa0\n"),
              "SEND SSTP/1.1\r\nSender: Tovlane\r\nScript: hiSender: evilX: y\x82\xa0\\e\r\n"
              "Charset: Shift_JIS\r\n\r\n");
}

// What a terminal would obey shows as its bytes; everything else as it is.
TEST(Output, ControlCharactersAndStrayBytesShowAsHex) {
    const std::pair<std::string, std::string> cases[] = {
        {"\x1b[2J", "⟦1B⟧[2J"},
        {"a\tb\r\n", "a⟦09⟧b⟦0D⟧⟦0A⟧"},
        {"\x7f~", "⟦7F⟧~"},
        {"\xc2\x85", "⟦C2 85⟧"},
        {"\xc2\x9f\xc2\xa0", "⟦C2 9F⟧\xc2\xa0"},
        {"\xff\xe3\x81", "⟦FF⟧⟦E3⟧⟦81⟧"},
        {"\0 ⟦1B⟧ あ"s, "⟦00⟧ ⟦1B⟧ あ"},
        // Line breaks, direction changes and hidden text a terminal would make of it.
        {"\u2027\u2028\u202e\u202f", "\u2027⟦E2 80 A8⟧⟦E2 80 AE⟧\u202f"},
        {"a\u061cb\ufeff", "a⟦D8 9C⟧b⟦EF BB BF⟧"},
        {"\U000E0041\U000E0080", "⟦F3 A0 81 81⟧\U000E0080"}};
    for (const auto& [text, shown] : cases)
        EXPECT_EQ(visibleText(text), shown) << text;
}

// A long line goes out as it is made, never held whole (--print of a long script).
TEST(Output, ALongLineGoesOutPieceByPiece) {
    TempDir dir;
    int fd = ::open(dir.file("out").c_str(), O_WRONLY | O_CREAT, 0600);
    LineWriter out(fd);
    out.part(std::string(100000, 'a'));
    EXPECT_EQ(std::filesystem::file_size(dir.file("out")), 100000u);
    out.endLine();
    EXPECT_EQ(out.finish(), 0);
    ::close(fd);
}

// Exactly Unicode's controls, format characters and line and paragraph
// separators are escaped, as the Unicode data the system has lists them.
TEST(Output, EscapesExactlyTheInvisibleCharacters) {
    std::ifstream data("/usr/share/unicode/UnicodeData.txt");
    if (!data) {
        skipped("Output.EscapesExactlyTheInvisibleCharacters", "no Unicode data (unicode-data)");
        GTEST_SKIP();
    }
    int escaped = 0;
    for (std::string line; std::getline(data, line);) {
        std::istringstream fields(line);
        std::string code, name, category;
        std::getline(fields, code, ';'), std::getline(fields, name, ';');
        std::getline(fields, category, ';');
        char32_t cp = std::stoul(code, nullptr, 16);
        if (cp >= 0xD800 && cp <= 0xDFFF)
            continue;  // no UTF-8 for a surrogate
        std::string text;
        appendUtf8(text, cp);
        bool invisible =
            category == "Cc" || category == "Cf" || category == "Zl" || category == "Zp";
        escaped += invisible;
        EXPECT_EQ(visibleText(text) != text, invisible) << code << " " << name;
    }
    EXPECT_GT(escaped, 150);
}

// Which words are options and which the entry, as the table reads them.
TEST(CommandLine, OptionsAnywhereAndNumbersAreEntries) {
    // The arguments, the words left, and the options given with their values.
    const std::tuple<std::vector<const char*>, const char*, const char*> cases[] = {
        {{"-vq", "3"}, "3", "quiet="},
        {{"3", "-q", "--verbose"}, "3", "verbose="},
        {{"--port=80", "--port", "-1", "-1e3"}, "-1e3", "port=-1"},
        {{"--", "-v", "--x"}, "-v --x", ""},
        {{"--script", "--file", "-"}, "", "script=--file"},
        {{" 3 ", "4"}, " 3  4", ""}};
    for (const auto& [args, words, given] : cases) {
        std::vector<const char*> argv = {"tovlane"};
        argv.insert(argv.end(), args.begin(), args.end());
        auto line = parseCommandLine(static_cast<int>(argv.size()), argv.data());
        ASSERT_TRUE(line.ok()) << words;
        std::string joined, options;
        for (const std::string& word : line->words)
            joined += (joined.empty() ? "" : " ") + word;
        for (const OptionRow& row : kOptions) {
            if (line->has(row.option))
                options += std::string(row.name.substr(2)) + "=" + line->value(row.option);
        }
        EXPECT_EQ(joined, words);
        EXPECT_EQ(options, given) << words;
    }
    for (const char* bad : {"--versio", "-vz", "--print=1", "--timeout"}) {
        const char* argv[] = {"tovlane", bad};
        EXPECT_EQ(parseCommandLine(2, argv).error().code, Ending::BadCommandLine) << bad;
    }
    for (auto [text, ok] : {std::pair{"0.5", true},
                            {"10", true},
                            {".5", true},
                            {"0", false},
                            {"1e3", false},
                            {"+1", false},
                            {"1.", true},
                            {"1..2", false},
                            {".", false},
                            {"31536001", false},
                            {"5s", false}})
        EXPECT_EQ(timeoutSeconds(text).ok(), ok) << text;
}

// The README lists the options as --help does, and each manual page
// describes every option, and "-", and nothing else.
TEST(Options, ReadmeAndManualPagesListTheTable) {
    ::setenv("LC_ALL", "C.UTF-8", 1);
    const auto lines = optionHelpLines();
    ::unsetenv("LC_ALL");
    const std::string readme = readFile(std::string(SOURCE_DIR) + "/README.md");
    for (const std::string& line : lines)
        EXPECT_NE(readme.find("\n" + line + "\n"), std::string::npos) << line;
    auto roff = [](std::string_view text) {
        return std::regex_replace(std::string(text), std::regex("-"), "\\-");
    };
    for (auto [file, heading] :
         {std::pair{"/data/tovlane.1", ".SH OPTIONS"}, {"/data/ja/tovlane.1", ".SH オプション"}}) {
        std::string page = readFile(std::string(SOURCE_DIR) + file);
        page.erase(0, page.find(heading));
        page.erase(page.find("\n.SH", 1));
        std::size_t tags = 0;
        for (std::size_t at = 0; (at = page.find(".TP\n", at)) != std::string::npos; at += 4)
            ++tags;
        EXPECT_EQ(tags, kOptions.size() + 1) << file;
        for (const OptionRow& row : kOptions) {
            std::string tag =
                row.letter != 0
                    ? ".BR \\-" + std::string(1, row.letter) + " \", \" " + roff(row.name)
                : !row.argument.empty()
                    ? ".BI " + roff(row.name) + " \" " + std::string(row.argument) + "\""
                    : ".B " + roff(row.name);
            EXPECT_NE(page.find(".TP\n" + tag + "\n"), std::string::npos) << file << ": " << tag;
        }
    }
}

// The README and the manual pages list exactly the endings --help prints.
TEST(Endings, ReadmeAndManualPagesListTheTable) {
    auto section = [](const char* file, const char* heading, const char* end) {
        std::string text = readFile(std::string(SOURCE_DIR) + file);
        text.erase(0, text.find(heading));
        // The manual pages' break points and hyphens are roff's own.
        text = std::regex_replace(text.substr(0, text.find(end, 1)), std::regex(R"(\\:)"), "");
        return std::regex_replace(text, std::regex(R"(\\-)"), "-");
    };
    const std::string readme = section("/README.md", "### Exit statuses", "\n#");
    const std::string english = section("/data/tovlane.1", ".SH EXIT STATUS", ".SH");
    const std::string japanese = section("/data/ja/tovlane.1", ".SH 終了ステータス", ".SH");
    auto rows = [](const std::string& text, const char* start) {
        std::regex row(start + std::string(R"([0-9])"));
        return std::size_t(std::distance(std::sregex_iterator(text.begin(), text.end(), row), {}));
    };
    EXPECT_EQ(rows(readme, R"(\n\| )"), kEndings.size());
    EXPECT_EQ(rows(english, R"(\n\.B )"), kEndings.size());
    EXPECT_EQ(rows(japanese, R"(\n\.B )"), kEndings.size());
    for (const EndingRow& row : kEndings) {
        std::string status = std::to_string(row.status) + (row.silent ? " *" : "");
        EXPECT_NE(readme.find("\n| " + status + " | "), std::string::npos) << status;
        for (auto [page, line] : {std::pair{&english, row.english}, {&japanese, row.japanese}}) {
            EXPECT_NE(page->find(".B " + status + "\n" + std::string(line) + "\n"),
                      std::string::npos)
                << status << " " << line;
        }
    }
}

// An exception at the top: the system running short says so in a sentence;
// anything else is the program's own fault, named, never "ran short".
TEST(Endings, ExceptionsAtTheTopAreNamed) {
    const std::pair<std::exception_ptr, RunError> cases[] = {
        {std::make_exception_ptr(std::bad_alloc()), {Ending::SystemFailure, "メモリが足りません"}},
        {std::make_exception_ptr(std::system_error(EMFILE, std::system_category())),
         {Ending::SystemFailure, "システムの資源が足りません: Too many open files"}},
        {std::make_exception_ptr(std::system_error(EAGAIN, std::generic_category())),
         {Ending::SystemFailure, "スレッドやプロセスをこれ以上作れません"}},
        {std::make_exception_ptr(std::system_error(EINVAL, std::system_category(), "x")),
         {Ending::InternalError,
          "内部エラーです（std::system_error: x: Invalid argument）。報告してください"}},
        {std::make_exception_ptr(std::logic_error("y")),
         {Ending::InternalError, "内部エラーです（std::logic_error: y）。報告してください"}}};
    for (const auto& [thrown, expected] : cases) {
        try {
            std::rethrow_exception(thrown);
        } catch (const std::exception& error) {
            RunError ending = endingOf(error);
            EXPECT_EQ(endingRow(ending.code).status, endingRow(expected.code).status);
            EXPECT_EQ(ending.reason, expected.reason);
        }
    }
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

// The verdicts; how the bytes are split into reads is the fuzz target's business.
TEST(SstpReply, CompleteAfterTheEmptyLineOrTheClose) {
    using enum SstpReply::State;
    SstpReply crlf;
    EXPECT_EQ(crlf.feed("SSTP/1.1 420 Refuse\r\nCharset: Shift_JIS\r\n"), Incomplete);
    EXPECT_EQ(crlf.feed("\r\nextra"), Complete);
    EXPECT_EQ(crlf.statusLine(), "SSTP/1.1 420 Refuse");
    SstpReply bare;  // a code with no text after it is judged at the line's end
    EXPECT_EQ(bare.feed("SSTP/1.1 512\r\n\r\n"), Complete);
    EXPECT_EQ(bare.status(), 512);
    SstpReply lfOnly;
    EXPECT_EQ(lfOnly.feed("SSTP/1.1 200 OK\n\nSSTP/1.1 512 Invisible\n\n"), Complete);
    EXPECT_EQ(lfOnly.status(), 200);
    SstpReply unterminated;  // a status line cut short by the close still counts
    EXPECT_EQ(unterminated.feed("SSTP/1.1 420 Refuse\r"), Incomplete);
    unterminated.close();
    EXPECT_EQ(unterminated.statusLine(), "SSTP/1.1 420 Refuse");

    SstpReply notSstp;
    EXPECT_EQ(notSstp.feed("HTTP/1.0 400 Bad Request\r\n\r\n"), NotSstp);
    EXPECT_EQ(notSstp.status(), std::nullopt);
    // The verdict rests on the status line's first bytes, however long it is
    // and however it is split; only its start is kept.
    const std::string longLine = "SSTP/1.1 512 " + std::string(66000, 'x') + "\r\n\r\n";
    for (std::size_t piece : {longLine.size(), std::size_t{1000}}) {
        SstpReply reply;
        for (std::size_t at = 0; at < longLine.size(); at += piece)
            reply.feed(longLine.substr(at, piece));
        EXPECT_TRUE(reply.state() == Complete && reply.status() == 512) << piece;
        EXPECT_EQ(reply.statusLine().size(), SstpReply::kShownStatusLine);
    }
}

}  // namespace
}  // namespace tovlane::test
