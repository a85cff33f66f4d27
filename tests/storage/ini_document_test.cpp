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

TEST(IniDocument, ReplacingAValueKeepsEveryOtherByte) {
    const std::string before =
        "; keep me\r\n[A]\r\nPort=1\r\n\r\n[Tovlane Setting]\r\n"
        "Address = old value  \r\n# note\r\nPort=9801\r\n\r\n[Z]\r\nx=y";
    IniDocument doc(before);
    doc.setValue("TOVLANE SETTING", "address", "new");
    EXPECT_EQ(doc.text(),
              "; keep me\r\n[A]\r\nPort=1\r\n\r\n[Tovlane Setting]\r\n"
              "Address = new\r\n# note\r\nPort=9801\r\n\r\n[Z]\r\nx=y");
}

TEST(IniDocument, MissingKeyGoesAtTheEndOfItsSectionWithTheFileLineEnds) {
    IniDocument crlf("[Tovlane Setting]\r\nPort=1\r\n\r\n[Z]\r\nx=y\r\n");
    crlf.setValue("Tovlane Setting", "AlarmFile0", "\\h\\e");
    EXPECT_EQ(crlf.text(),
              "[Tovlane Setting]\r\nPort=1\r\nAlarmFile0=\\h\\e\r\n\r\n[Z]\r\nx=y\r\n");

    IniDocument noFinalLineEnd("[Tovlane Setting]\nPort=1");
    noFinalLineEnd.setValue("Tovlane Setting", "Address", "host");
    EXPECT_EQ(noFinalLineEnd.text(), "[Tovlane Setting]\nPort=1\nAddress=host\n");

    IniDocument headerOnly("[Tovlane Setting]");
    headerOnly.setValue("Tovlane Setting", "Port", "2");
    EXPECT_EQ(headerOnly.text(), "[Tovlane Setting]\nPort=2\n");
}

TEST(IniDocument, MissingSectionIsAppendedAtTheEnd) {
    IniDocument empty("");
    empty.setValue("Tovlane Setting", "Port", "9801");
    EXPECT_EQ(empty.text(), "[Tovlane Setting]\nPort=9801\n");

    IniDocument crlf("[Z]\r\nx=y");
    crlf.setValue("Tovlane Setting", "Port", "9801");
    EXPECT_EQ(crlf.text(), "[Z]\r\nx=y\r\n[Tovlane Setting]\r\nPort=9801\r\n");
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
