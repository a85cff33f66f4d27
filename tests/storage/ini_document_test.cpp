#include "storage/ini_document.h"

#include <gtest/gtest.h>

namespace tovlane {
namespace {

TEST(IniDocument, ReadsLikeProfileFunctions) {
    IniDocument doc(
        "; comment Port=1\n"
        "[Other]\nPort=1\n"
        "[  tovlane SETTING ]\n"
        "  pORT  =  9801  \n"
        "Port=second\n"
        "Empty=\n"
        ";Address=commented\n"
        "[Tovlane Setting]\nAddress=later section\n");
    EXPECT_EQ(doc.value("Tovlane Setting", "Port"), "9801");
    EXPECT_EQ(doc.value("Tovlane Setting", "Empty"), "");
    EXPECT_EQ(doc.value("Tovlane Setting", "Address"), std::nullopt);
    EXPECT_EQ(doc.value("Missing", "Port"), std::nullopt);
    EXPECT_EQ(doc.value("other", "port"), "1");
}

// Each edit changes the one value, or adds one line (or one section) with the
// file's own line ends; every other byte stays.
TEST(IniDocument, EditsTouchOnlyTheirOwnLine) {
    struct {
        const char* before;
        const char* key;
        const char* value;
        const char* after;
    } cases[] = {
        {"; keep\r\n[A]\r\nPort=1\r\n\r\n[Tovlane Setting]\r\nAddress = old  \r\n# "
         "n\r\n\r\n[Z]\r\nx",
         "address", "new",
         "; keep\r\n[A]\r\nPort=1\r\n\r\n[Tovlane Setting]\r\nAddress = new\r\n# "
         "n\r\n\r\n[Z]\r\nx"},
        {"[Tovlane Setting]\r\nPort=1\r\n\r\n[Z]\r\nx=y\r\n", "AlarmFile0", "\\h\\e",
         "[Tovlane Setting]\r\nPort=1\r\nAlarmFile0=\\h\\e\r\n\r\n[Z]\r\nx=y\r\n"},
        {"[Tovlane Setting]\nPort=1", "Address", "host",
         "[Tovlane Setting]\nPort=1\nAddress=host\n"},
        {"[Tovlane Setting]", "Port", "2", "[Tovlane Setting]\nPort=2\n"},
        {"", "Port", "9801", "[Tovlane Setting]\nPort=9801\n"},
        {"[Z]\r\nx=y", "Port", "9801", "[Z]\r\nx=y\r\n[Tovlane Setting]\r\nPort=9801\r\n"}};
    for (const auto& c : cases) {
        IniDocument doc(c.before);
        doc.setValue("Tovlane Setting", c.key, c.value);
        EXPECT_EQ(doc.text(), c.after) << testing::PrintToString(c.before);
        EXPECT_EQ(doc.value("Tovlane Setting", c.key), c.value);
    }
}

TEST(IniDocument, ValuesAreStoredExactlyAsGiven) {
    IniDocument doc("");
    for (std::string value : {"\"quoted\"", "a=b;c", "日本語", ""}) {
        doc.setValue("S", "K", value);
        EXPECT_EQ(doc.value("S", "K"), value);
    }
    EXPECT_EQ(doc.text(), "[S]\nK=\n");
}

}  // namespace
}  // namespace tovlane
