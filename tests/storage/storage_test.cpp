#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/xattr.h>

#include "iconv_convert.h"
#include "storage/file_io.h"
#include "storage/ini_access.h"
#include "storage/ini_document.h"
#include "storage/text_codec.h"
#include "storage/wr_text.h"
#include "support/test_support.h"

namespace tovlane::test {
namespace {

using namespace std::string_literals;

TEST(IniDocument, ReadsLikeProfileFunctions) {
    IniDocument doc(
        "; comment Port=1\n [Other]\nPort=1\n[  tovlane SETTING ]\n  pORT  =  9801  \n"
        "Port=second\nEmpty=\nNul=abc\0def\n;Address=commented\n#Port=commented\n"
        "[Tovlane Setting]\nAddress=later section\n"s);
    EXPECT_EQ(doc.value("Tovlane Setting", "Port"), "9801");
    EXPECT_EQ(doc.value("Tovlane Setting", "Empty"), "");
    EXPECT_EQ(doc.value("Tovlane Setting", "Nul"), "abc") << "a value ends at its first NUL";
    EXPECT_EQ(doc.value("Tovlane Setting", "Address"), std::nullopt);
    EXPECT_EQ(doc.value("Missing", "Port"), std::nullopt);
    EXPECT_EQ(doc.value("Tovlane Setting", ";Address"), std::nullopt) << "comments hold no keys";
    EXPECT_EQ(doc.value("Tovlane Setting", "#Port"), std::nullopt);
    EXPECT_EQ(doc.value("other", "port"), "1");
    // A byte order mark (as Notepad writes) hides nothing; fuzz-ini checks locate().
    EXPECT_EQ(IniDocument("\xEF\xBB\xBF[T]\nPort=1").value("T", "Port"), "1");
}

// Each edit changes the one value or adds one line (or section) in the file's
// own line ends; CR LF, LF and a lone CR each end a line. Invariants: fuzz-ini.
TEST(IniDocument, EditsTouchOnlyTheirOwnLine) {
    const std::array<const char*, 4> cases[] = {
        // before, key, value, after
        // clang-format off
        {"; keep\r\n[A]\r\nPort=1\r\n\r\n[T]\r\nAddress = old  \r\n# n\r\n\r\n[Z]\r\nx", "Address", "new",
         "; keep\r\n[A]\r\nPort=1\r\n\r\n[T]\r\nAddress = new  \r\n# n\r\n\r\n[Z]\r\nx"},
        {"[T]\r\nP=1\r\n\r\n[Z]\r\nx=y\r\n", "K", "\\h\\e", "[T]\r\nP=1\r\nK=\\h\\e\r\n\r\n[Z]\r\nx=y\r\n"},
        {"[T]\nPort=1", "Address", "host", "[T]\nPort=1\nAddress=host\n"},
        {"[T]", "Port", "2", "[T]\nPort=2\n"},
        {"", "Port", "9801", "[T]\nPort=9801\n"},
        {"\r\n[Z]\r\nx=y", "Port", "9801", "\r\n[Z]\r\nx=y\r\n[T]\r\nPort=9801\r\n"},
        {"[Z]\rx=y\r", "Port", "a=b;c", "[Z]\rx=y\r[T]\rPort=a=b;c\r"},
        {"[T]\nA=hi\nPort=47999\r", "K", "x", "[T]\nA=hi\nPort=47999\rK=x\n"},
        {"[T]\rPort=1", "K", "x", "[T]\rPort=1\rK=x\r"},
        {"[T]\nPort=1\n", "Port", "", "[T]\nPort=\n"},
        {"\xEF\xBB\xBF[T]\r\nA=1", "K", "x", "\xEF\xBB\xBF[T]\r\nA=1\r\nK=x\r\n"},
        {"\xEF\xBB\xBF", "K", "x", "\xEF\xBB\xBF[T]\nK=x\n"}};
    // clang-format on
    for (auto [before, key, value, after] : cases) {
        IniDocument doc(before);
        doc.setValue("T", key, value);
        EXPECT_EQ(doc.text(), after) << testing::PrintToString(before);
    }
}

const std::string kSection = "Tovlane Setting";

class IniAccessTest : public ::testing::Test {
  protected:
    // Run from a folder of the test's own, which every user can reach, wherever
    // the build tree is.
    void SetUp() override {
        std::filesystem::create_directory(dir.file("cwd"));
        std::filesystem::current_path(dir.file("cwd"));
    }
    void TearDown() override { std::filesystem::current_path(startedIn); }

    // Named from the current directory, "../" and all.
    INIAccess store(const std::string& folder = "", const std::string& machine = "") {
        INIAccess ini({std::filesystem::relative(dir.file(folder)), machine, !machine.empty()});
        ini.FileName = "Tovlane.ini";
        return ini;
    }
    std::string settingsPath() const { return dir.file("Tovlane.ini"); }

    TempDir dir;
    const std::filesystem::path startedIn = std::filesystem::current_path();
};

TEST_F(IniAccessTest, SectionRuleAndEmptyReads) {
    INIAccess ini(dir.path());
    EXPECT_FALSE(ini.SetINIData("", "Port", "1"));        // no section at all
    EXPECT_FALSE(ini.SetINIData(kSection, "Port", "1"));  // FileName still empty...
    EXPECT_EQ(ini.Section, kSection);                     // ...but the section is kept
    ini.FileName = "Tovlane.ini";
    EXPECT_EQ(ini.GetINIData("", "Port"), "");
    EXPECT_FALSE(std::filesystem::exists(settingsPath())) << "reading never creates the file";
    EXPECT_TRUE(ini.SetINIData("", "Port", "1"));
    EXPECT_EQ(readFile(settingsPath()), "[Tovlane Setting]\nPort=1\n");
    writeFile(settingsPath(), "[Other]\nPort=1\n[Tovlane Setting]\nAddress=\n");
    EXPECT_EQ(ini.GetINIData("", "Port") + ini.GetINIData("", "Address"), "");
    ini.Section = "Other";
    EXPECT_EQ(ini.GetINIData("", "Port"), "1");
}

// Each writer, a process of its own, holds the lock across its read, edit
// and replace, and sweeps what killed writers left behind, this version's and
// earlier versions' alike. In a folder its private group may write, the lock
// is open to that group.
TEST_F(IniAccessTest, ConcurrentWritersNeverLoseEachOthersKeys) {
    const std::string left[] = {".tovlane-Tovlane.ini-2718281828", ".tovlane-Ab3xZ9"};
    const std::string kept[] = {".tovlane-Tovlane.ini-27a", ".tovlane-Ab3xZ", ".tovlane-x.ini-1"};
    for (const auto& names : {left, kept}) {
        for (int i = 0; i < 2; ++i)
            writeFile(dir.file(names[i]), "a writer died here");
    }
    writeFile(dir.file(kept[2]), "someone else's");
    ::chmod(dir.path().c_str(), 0770);  // the group is root's, which no other user is in
    std::vector<pid_t> writers;
    for (int w = 0; w < 4; ++w) {
        writers.push_back(::fork());
        if (writers.back() == 0) {
            for (int k = 0; k < 10; ++k)
                store().SetINIData(kSection, "K" + std::to_string(w * 10 + k), "v");
            _exit(0);
        }
    }
    for (pid_t writer : writers)
        ::waitpid(writer, nullptr, 0);
    IniDocument file(readFile(settingsPath()));
    for (int k = 0; k < 40; ++k)
        EXPECT_EQ(file.value(kSection, "K" + std::to_string(k)), "v") << k;
    for (const auto& name : left)
        EXPECT_FALSE(std::filesystem::exists(dir.file(name))) << name;
    for (const auto& name : kept)
        EXPECT_TRUE(std::filesystem::exists(dir.file(name))) << name;
    EXPECT_EQ(std::filesystem::status(dir.file(".Tovlane.ini.lock")).permissions(),
              std::filesystem::perms(0660));
}

// Gives user write access to a folder by its access control list, as
// setfacl -m u:USER:rwx would; false where the file system has none.
bool allowWriting(const std::string& folder, uid_t user) {
    struct Entry {
        std::uint16_t tag, perm;
        std::uint32_t id;
    };
    const std::uint32_t version = 2;
    const Entry entries[] = {
        {0x01, 7, ~0u}, {0x02, 7, user}, {0x04, 5, ~0u}, {0x10, 7, ~0u}, {0x20, 5, ~0u}};
    std::string list(reinterpret_cast<const char*>(&version), sizeof version);
    list.append(reinterpret_cast<const char*>(entries), sizeof entries);
    return ::setxattr(folder.c_str(), "system.posix_acl_access", list.data(), list.size(), 0) == 0;
}

// Settings are read and saved only where nobody but this user and root can
// change them; a read refuses exactly what a save refuses, in the same words.
TEST_F(IniAccessTest, OnlyFoldersNobodyElseCanChange) {
    TOVLANE_SKIP_WITHOUT_ANOTHER_USER();
    struct Case {
        const char* name;
        mode_t holderMode;
        uid_t holderOwner;
        mode_t mode;
        uid_t owner;
        gid_t group;
        const char* refusal;     // a part of the message; "" when the folder is used
        mode_t fileMode = 0644;  // of Tovlane.ini
        uid_t listed = 0;        // a user its access control list lets write, if any
    };
    const Case cases[] = {
        {"private", 0755, 0, 0700, 0, 0, ""},
        {"its private group may write", 0755, 0, 0770, 0, 0, ""},
        {"a group with other members", 0755, 0, 0770, 0, 65534,
         "グループ nogroup のメンバーが書き込めます（モード 0770）"},
        {"everyone may write", 0755, 0, 0777, 0, 0,
         "すべてのユーザーが書き込めます（モード 0777）"},
        {"another user's", 0755, 0, 0700, 65534, 0, "はほかのユーザーのものなので使えません"},
        {"in a shared folder with the sticky bit", 01777, 0, 0700, 0, 0, ""},
        {"in a shared folder", 0777, 0, 0700, 0, 0,
         "はスティッキービットがなく、すべてのユーザーが"},
        {"in another user's folder", 01755, 65534, 0700, 0, 0, "はほかのユーザーのものです。"},
        {"a file every user may write", 0755, 0, 0700, 0, 0, "は使えません: すべてのユーザーが",
         0666},
        {"another user by its access control list", 0755, 0, 0700, 0, 0,
         "ユーザー nobody が書き込めます（アクセス制御リストにより）", 0644, 65534},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string holder = dir.file(c.name), folder = holder + "/tovlane";
        std::filesystem::create_directories(folder);
        writeFile(folder + "/Tovlane.ini", "[Tovlane Setting]\nPort=1\n");
        ASSERT_EQ(::chown(holder.c_str(), c.holderOwner, 0) +
                      ::chmod(holder.c_str(), c.holderMode) +
                      ::chown(folder.c_str(), c.owner, c.group) + ::chmod(folder.c_str(), c.mode) +
                      ::chmod((folder + "/Tovlane.ini").c_str(), c.fileMode),
                  0);
        if (c.listed != 0 && !allowWriting(folder, c.listed)) {
            skipped("IniAccessTest.OnlyFoldersNobodyElseCanChange \"" + std::string(c.name) + "\"",
                    "no access control lists in " + dir.path());
            continue;
        }
        INIAccess ini(folder);
        ini.FileName = "Tovlane.ini";
        std::string port = ini.GetINIData(kSection, "Port"), readError = ini.LastError;
        bool saved = ini.SetINIData(kSection, "Port", "2");
        if (*c.refusal == '\0') {
            EXPECT_TRUE(port == "1" && saved) << readError << ini.LastError;
        } else {
            EXPECT_NE(readError.find(c.refusal), std::string::npos) << readError;
            EXPECT_TRUE(!saved && ini.LastError == readError) << ini.LastError;
        }
    }
    // No folder is made where another user could put one of theirs instead.
    INIAccess ini(dir.file("in another user's folder/missing/tovlane"));
    ini.FileName = "Tovlane.ini";
    EXPECT_FALSE(ini.SetINIData(kSection, "Port", "2"));
    EXPECT_NE(ini.LastError.find("/missing は作りません: フォルダー"), std::string::npos)
        << ini.LastError;
    EXPECT_FALSE(std::filesystem::exists(dir.file("in another user's folder/missing")));
}

TEST_F(IniAccessTest, WriteKeepsPermissionBitsAndSymbolicLinks) {
    TOVLANE_SKIP_WITHOUT_ANOTHER_USER();
    // The user's own settings folder appears, private, with the first save.
    ::umask(022);
    EXPECT_TRUE(store("config/tovlane").SetINIData(kSection, "Port", "4"));
    EXPECT_EQ(std::filesystem::status(dir.file("config/tovlane")).permissions(),
              std::filesystem::perms::owner_all);
    EXPECT_EQ(std::filesystem::status(dir.file("config/tovlane/Tovlane.ini")).permissions(),
              std::filesystem::perms(0644));

    TempDir elsewhere;
    writeFile(elsewhere.file("real.ini"), "[Tovlane Setting]\n");
    ::chmod(elsewhere.file("real.ini").c_str(), 0640);
    std::filesystem::create_symlink(elsewhere.file("real.ini"), settingsPath());
    ASSERT_TRUE(store().SetINIData(kSection, "Port", "1"));
    EXPECT_TRUE(std::filesystem::is_symlink(settingsPath()));
    EXPECT_EQ(readFile(elsewhere.file("real.ini")), "[Tovlane Setting]\nPort=1\n");
    EXPECT_EQ(std::filesystem::status(elsewhere.file("real.ini")).permissions(),
              std::filesystem::perms(0640));

    // Another user's link is never followed, wherever on the path it stands:
    // neither read from nor written through, in the same words.
    std::filesystem::create_directory(elsewhere.file("chosen"));
    writeFile(elsewhere.file("chosen/real.ini"), "[Tovlane Setting]\nPort=9\n");
    std::filesystem::create_directory_symlink(elsewhere.file("chosen"), elsewhere.file("tv"));
    std::filesystem::remove(settingsPath());
    std::filesystem::create_symlink(elsewhere.file("tv/real.ini"), settingsPath());
    for (const std::string& link : {elsewhere.file("tv"), settingsPath()}) {
        ASSERT_EQ(::lchown(link.c_str(), 65534, 65534), 0);
        INIAccess ini = store();
        const std::string refusal =
            link + " はほかのユーザーのシンボリックリンクなので、たどりません";
        EXPECT_TRUE(ini.GetINIData(kSection, "Port").empty() && ini.LastError == refusal)
            << ini.LastError;
        EXPECT_FALSE(ini.SetINIData(kSection, "Port", "2"));
        EXPECT_EQ(ini.LastError, refusal);
        ASSERT_EQ(::lchown(link.c_str(), 0, 0), 0);
    }
    std::filesystem::remove(elsewhere.file("chosen/real.ini"));
    EXPECT_FALSE(std::filesystem::exists(elsewhere.file("chosen/real.ini")));
    // A user follows links of their own.
    ASSERT_EQ(::lchown(settingsPath().c_str(), 65534, 65534), 0);
    for (const std::string& folder : {elsewhere.path(), elsewhere.file("chosen"), dir.path()})
        ASSERT_EQ(::chown(folder.c_str(), 65534, 65534), 0);
    EXPECT_TRUE(inChild([&] { return becomeUser() && store().SetINIData(kSection, "P", "3"); }));
    EXPECT_EQ(readFile(elsewhere.file("chosen/real.ini")), "[Tovlane Setting]\nP=3\n");
}

// Each failure is real for root too: no permission bit is relied on unless
// the write runs as an unprivileged user.
TEST_F(IniAccessTest, FailedWritesReturnFalseAndLeaveTheOldFile) {
    TOVLANE_SKIP_WITHOUT_ANOTHER_USER();
    const std::string old = "[Tovlane Setting]\nPort=1\n";
    writeFile(settingsPath(), old);
    // Names and values the file could not hold.
    for (auto [key, value] :
         {std::pair{"Port", "2\nAddress=evil"}, {"Po\nrt", "2"}, {"Po=rt", "2"}})
        EXPECT_FALSE(store().SetINIData(kSection, key, value)) << key << value;

    // As "nobody": a folder they cannot write, their own folder with a file
    // they cannot read (a save would replace it by the one key), root's folder
    // where their own must be.
    auto failsAsNobody = [&](const std::string& reason, const std::string& machine = "") {
        return inChild([&] {
            INIAccess ini = store("", machine);
            return becomeUser() && !ini.SetINIData(kSection, "P", "2") && ini.LastError == reason;
        });
    };
    ::chmod(dir.path().c_str(), 0555);
    EXPECT_TRUE(
        failsAsNobody("フォルダー " + dir.path() + " に書き込めません（Permission denied）"));
    EXPECT_TRUE(failsAsNobody(
        "フォルダー " + dir.path() + " はほかのユーザーのものなので使えません", "/machine"));
    ASSERT_EQ(::chown(dir.path().c_str(), 65534, 65534) + ::chmod(dir.path().c_str(), 0700), 0);
    ::chmod(settingsPath().c_str(), 0200);
    EXPECT_TRUE(failsAsNobody("Permission denied"));
    // Their lock file, made by that save, is not trusted; ours nobody else can open.
    ASSERT_EQ(::chown(dir.path().c_str(), 0, 0) + ::chmod(dir.path().c_str(), 0711), 0);
    const std::string lock = dir.file(".Tovlane.ini.lock");
    INIAccess ini = store();
    EXPECT_FALSE(ini.SetINIData(kSection, "P", "2"));
    EXPECT_EQ(ini.LastError, "ロックファイル " + lock +
                                 " は、ほかのユーザーのものか、ほかの人も開けるか、通常のファイル"
                                 "ではないので使えません");
    std::filesystem::remove(lock);
    ASSERT_TRUE(ini.SetINIData(kSection, "Port", "1"));
    EXPECT_FALSE(inChild([&] { return becomeUser() && ::open(lock.c_str(), O_RDONLY) >= 0; }));
    ::chmod(dir.path().c_str(), 0700);
    EXPECT_TRUE(inChild([&] {
        rlimit limit{8, 8};
        ::signal(SIGXFSZ, SIG_IGN);
        INIAccess ini = store();
        return ::setrlimit(RLIMIT_FSIZE, &limit) == 0 &&
               !ini.SetINIValues(kSection, {{"Port", "2"}, {"P", "2"}}) &&
               ini.LastError == "File too large";
    }));
    EXPECT_EQ(readFile(settingsPath()), old);
    for (const auto& entry : std::filesystem::directory_iterator(dir.path()))
        EXPECT_FALSE(entry.path().filename().string().starts_with(".tovlane-")) << entry.path();
}

// The compiled-in tables give exactly what glibc's converter gives.
TEST(TextCodec, TablesAgreeWithIconvEverywhere) {
    for (char32_t cp = 0x80; cp <= 0xFFFF; ++cp) {
        if (cp >= 0xD800 && cp <= 0xDFFF)
            continue;
        const char16_t unit = static_cast<char16_t>(cp);
        std::string text =
            iconvConvert("UTF-8", "UTF-16LE", {reinterpret_cast<const char*>(&unit), 2});
        std::string expected = iconvConvert("CP932", "UTF-8", text);
        ASSERT_EQ(encodeCp932(text), expected.empty() ? "?" : expected)
            << std::hex << static_cast<unsigned>(cp);
    }
    // A pair iconv refuses reads as its two bytes, each on its own.
    for (int lead = 0x80; lead <= 0xFF; ++lead) {
        for (int trail = 0x40; trail <= 0xFC; ++trail) {
            std::string pair = {static_cast<char>(lead), static_cast<char>(trail)};
            std::string expected = iconvConvert("UTF-8", "CP932", pair);
            if (expected.empty())
                expected = decodeCp932(pair.substr(0, 1)) + decodeCp932(pair.substr(1));
            ASSERT_EQ(decodeCp932(pair), expected) << lead << " " << trail;
        }
    }
}

TEST(WRText, NamesThatAreNoRegularFileReadAsAbsent) {
    TempDir dir;
    std::filesystem::create_directory(dir.file("folder"));
    ::mkfifo(dir.file("fifo").c_str(), 0600);  // opening it would block forever
    writeFile(dir.file(".hidden"), "dot files are ordinary");
    auto read = [&](const char* name) { return *WRText{dir.file(name), ""}.RFile(); };
    for (const char* name : {"folder", "fifo", "missing.txt", "*"})
        EXPECT_EQ(read(name), "") << name;
    EXPECT_EQ(read(".hidden"), "dot files are ordinary");
    // Opening never waits for a FIFO's writer; the type is checked once open.
    EXPECT_EQ(readRegularFile(dir.file("fifo")).error().code, ErrorCode::NotRegularFile);
    // A file larger than memory does not exhaust it (one that never ends: the end-to-end rows).
    writeFile(dir.file("huge"), "");
    std::filesystem::resize_file(dir.file("huge"), 1ULL << 40);
    EXPECT_EQ(readRegularFile(dir.file("huge")).error().reason,
              "大きすぎて読み込めません（1099511627776 バイト）");
}

TEST(WRText, WFileReplacesTheFileAndEmptiesWText) {
    TempDir dir;
    writeFile(dir.file("out.txt"), "old text that is longer");
    WRText writer{dir.file("out.txt"), "\\h新しい"};
    EXPECT_TRUE(writer.WFile().ok() && writer.WText.empty());
    EXPECT_EQ(readFile(dir.file("out.txt")), "\\h新しい");
    writer = {dir.file("no/such/dir/out.txt"), "kept"};
    EXPECT_TRUE(!writer.WFile().ok() && writer.WText == "kept");
}

}  // namespace
}  // namespace tovlane::test
