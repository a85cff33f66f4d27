#include "ui/frm_setting.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QComboBox>
#include <QFontMetrics>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>

#include "support/test_support.h"

namespace tovlane {
namespace {

using test::readFile;
using test::TempDir;
using test::writeFile;

// A settings window on a temporary directory, with the file picker and the
// error box answered by the test.
class SettingsWindow : public ::testing::Test {
  protected:
    void SetUp() override {
        form = std::make_unique<frmSetting>(
            dir.path(),
            [this](QWidget*, const FilePickerRequest& request) {
                requests.push_back(request);
                return pickerAnswer;
            },
            [this](QWidget*, const QString& text) { errors.push_back(text); });
        form->setWindowTitle("基本設定 Tovlane Version0.11");
    }

    void showActive() {
        form->show();
        QApplication::setActiveWindow(form.get());
        ASSERT_TRUE(QTest::qWaitForWindowActive(form.get()));
    }

    std::string settingsPath() const { return dir.file("Tovlane.ini"); }

    Startup reload() {
        INIAccess ini(dir.path());
        return loadStartup(ini);
    }

    TempDir dir;
    std::unique_ptr<frmSetting> form;
    std::optional<QString> pickerAnswer;
    std::vector<FilePickerRequest> requests;
    std::vector<QString> errors;
};

TEST_F(SettingsWindow, LayoutFollowsTheTwipsTable) {
    struct Place {
        QWidget* widget;
        QWidget* parent;
        QRect geometry;
        QString caption;
    };
    std::vector<Place> places = {
        {form->fraSendTo, form.get(), {7, 7, 267, 78}, "送信先 / プロトコル"},
        {form->Label1, form->fraSendTo, {7, 14, 78, 15}, "IPアドレス(&A)："},
        {form->Label2, form->fraSendTo, {7, 35, 78, 15}, "ポート(&P)："},
        {form->txtIPAddr, form->fraSendTo, {84, 12, 176, 18}, ""},
        {form->txtPort, form->fraSendTo, {84, 33, 176, 18}, ""},
        {form->fraFiles, form.get(), {7, 91, 379, 232}, "スクリプト / スクリプトファイル"},
        {form->cmdOK, form.get(), {280, 7, 106, 22}, "OK"},
        {form->cmdCancel, form.get(), {280, 35, 106, 22}, "キャンセル(&C)"},
        {form->cboProtocol, form->fraSendTo, {84, 53, 176, 20}, ""},
        {form->Label3, form->fraSendTo, {7, 56, 78, 15}, "プロトコル(&S)："},
    };
    for (int i = 0; i < kEntryCount; ++i) {
        places.push_back({form->cmdFileOpen[i],
                          form->fraFiles,
                          {7, 21 + 21 * i, 15, 15},
                          "&" + QString::number(i)});
        places.push_back({form->txtAlarmFile[i], form->fraFiles, {28, 19 + 21 * i, 344, 18}, ""});
    }
    for (const auto& place : places) {
        SCOPED_TRACE(place.widget->objectName().toStdString());
        EXPECT_EQ(place.widget->parentWidget(), place.parent);
        EXPECT_EQ(place.widget->geometry(), place.geometry);
        QString caption;
        if (auto* label = qobject_cast<QLabel*>(place.widget))
            caption = label->text();
        if (auto* button = qobject_cast<QPushButton*>(place.widget))
            caption = button->text();
        if (auto* frame = qobject_cast<QGroupBox*>(place.widget))
            caption = frame->title();
        EXPECT_EQ(caption, place.caption);
    }
    EXPECT_EQ(form->size(), QSize(392, 328));
    EXPECT_EQ(form->minimumSize(), form->maximumSize()) << "the window cannot be resized";
    EXPECT_EQ(form->txtAlarmFile[9]->objectName(), "txtAlarmFile9");
    EXPECT_FALSE(form->cboProtocol->isEditable());
    ASSERT_EQ(form->cboProtocol->count(), 1);
    EXPECT_EQ(form->cboProtocol->itemText(0), "SEND SSTP/1.1");
    EXPECT_EQ(form->Label1->alignment() & Qt::AlignHorizontal_Mask, Qt::AlignRight);
}

TEST_F(SettingsWindow, EveryCaptionFitsItsControlInTheFontInUse) {
    auto check = [](QWidget* widget, QString caption, QSize space) {
        caption.remove('&');
        QFontMetrics metrics(widget->font());
        EXPECT_LE(metrics.horizontalAdvance(caption), space.width()) << caption.toStdString();
        EXPECT_LE(metrics.height(), space.height()) << caption.toStdString();
    };
    for (auto* label : form->findChildren<QLabel*>())
        check(label, label->text(), label->size());
    for (auto* button : form->findChildren<QPushButton*>()) {
        check(button, button->text(), button->size() - QSize(4, 2));
    }
    for (auto* frame : form->findChildren<QGroupBox*>()) {
        check(frame, frame->title(), frame->size() - QSize(16, 0));
    }
    EXPECT_GE(form->font().pixelSize(), 9) << "the captions are still readable";
}

TEST_F(SettingsWindow, TabGoesRoundInTheGivenOrder) {
    showActive();
    std::vector<QWidget*> chain = {form->txtIPAddr, form->txtPort};
    for (int i = 0; i < kEntryCount; ++i) {
        chain.push_back(form->cmdFileOpen[i]);
        chain.push_back(form->txtAlarmFile[i]);
    }
    chain.insert(chain.end(), {form->cmdOK, form->cmdCancel, form->cboProtocol, form->txtIPAddr});
    EXPECT_EQ(QApplication::focusWidget(), form->txtIPAddr) << "focus starts in the address";
    for (std::size_t i = 1; i < chain.size(); ++i) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        EXPECT_EQ(QApplication::focusWidget(), chain[i]) << "step " << i;
    }
}

TEST_F(SettingsWindow, AccessKeysMoveTheFocusAndOpenThePicker) {
    showActive();
    QTest::keyClick(form.get(), Qt::Key_P, Qt::AltModifier);
    EXPECT_EQ(QApplication::focusWidget(), form->txtPort);
    QTest::keyClick(form.get(), Qt::Key_S, Qt::AltModifier);
    EXPECT_EQ(QApplication::focusWidget(), form->cboProtocol);
    QTest::keyClick(form.get(), Qt::Key_A, Qt::AltModifier);
    EXPECT_EQ(QApplication::focusWidget(), form->txtIPAddr);

    pickerAnswer = "/home/me/seven.txt";
    QTest::keyClick(form.get(), Qt::Key_7, Qt::AltModifier);
    // An access key presses the button visibly, so the click comes a moment later.
    EXPECT_TRUE(QTest::qWaitFor([this] { return !requests.empty(); }, 2000));
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(form->txtAlarmFile[7]->text(), "/home/me/seven.txt");
}

TEST_F(SettingsWindow, EnterInATextBoxSavesAndCloses) {
    showActive();
    form->txtAlarmFile[4]->setFocus();
    QTest::keyClicks(form->txtAlarmFile[4], "\\h\\s[0]four");
    QTest::keyClick(form->txtAlarmFile[4], Qt::Key_Return);
    EXPECT_EQ(form->result(), QDialog::Accepted);
    EXPECT_FALSE(form->isVisible());
    EXPECT_EQ(reload().fields.entries[4], "\\h\\s[0]four");
}

TEST_F(SettingsWindow, EscapeCancelAndCloseWriteNothing) {
    const std::string before = "; mine\r\n[Tovlane Setting]\r\nPort=1\r\n";
    writeFile(settingsPath(), before);
    showActive();
    form->txtPort->setText("2");
    QTest::keyClick(form->txtPort, Qt::Key_Escape);
    EXPECT_EQ(form->result(), QDialog::Rejected);
    EXPECT_FALSE(form->isVisible());

    showActive();
    form->cmdCancel->click();
    EXPECT_FALSE(form->isVisible());
    showActive();
    form->close();
    EXPECT_FALSE(form->isVisible());
    EXPECT_EQ(readFile(settingsPath()), before);
}

TEST_F(SettingsWindow, OkCreatesTheFileWithAllThirteenKeysInOrder) {
    form->setFields(FormFields{});
    form->cmdOK->click();
    EXPECT_EQ(readFile(settingsPath()),
              "[Tovlane Setting]\nAddress=127.0.0.1\nPort=9801\nProtocolID=0\n"
              "AlarmFile0=\nAlarmFile1=\nAlarmFile2=\nAlarmFile3=\nAlarmFile4=\n"
              "AlarmFile5=\nAlarmFile6=\nAlarmFile7=\nAlarmFile8=\nAlarmFile9=\n");
    EXPECT_TRUE(errors.empty());
}

TEST_F(SettingsWindow, WhatOkSavesComesBackAtTheNextStart) {
    FormFields fields;
    fields.protocolIndex = -1;
    form->setFields(fields);
    EXPECT_EQ(form->cboProtocol->currentIndex(), -1) << "-1 shows no selection";
    form->txtIPAddr->setText("");
    form->txtPort->setText("");
    const QString japanese = "\\h\\s[0]こんにちは〜 " + QString(1000, 'x');
    form->txtAlarmFile[0]->setText(japanese);
    form->txtAlarmFile[9]->setText(" spaced ");
    form->cmdOK->click();

    Startup next = reload();
    EXPECT_EQ(next.fields.address, "127.0.0.1");
    EXPECT_EQ(next.fields.port, "9801");
    EXPECT_EQ(next.fields.protocolIndex, -1);
    EXPECT_EQ(QString::fromStdString(next.fields.entries[0]), japanese);
    EXPECT_NE(readFile(settingsPath()).find("Address=\nPort=\nProtocolID=-1\n"), std::string::npos);
}

TEST_F(SettingsWindow, AFailedSaveIsReportedAndKeepsTheEdits) {
    // The settings directory is taken by a plain file: no write can succeed,
    // for root as for anyone.
    TempDir parent;
    writeFile(parent.file("tools"), "not a directory");
    frmSetting blocked(parent.file("tools"), {},
                       [this](QWidget*, const QString& text) { errors.push_back(text); });
    blocked.show();
    blocked.txtAlarmFile[2]->setText("keep me");
    blocked.cmdOK->click();
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_TRUE(errors[0].contains(QString::fromStdString(parent.file("tools/Tovlane.ini"))));
    EXPECT_TRUE(errors[0].contains("Not a directory")) << errors[0].toStdString();
    EXPECT_TRUE(blocked.isVisible());
    EXPECT_NE(blocked.result(), QDialog::Accepted);
    EXPECT_EQ(blocked.txtAlarmFile[2]->text(), "keep me");
}

TEST_F(SettingsWindow, BrowsePutsTheChosenPathIntoThatEntryOnly) {
    for (int i = 0; i < kEntryCount; ++i)
        form->txtAlarmFile[i]->setText("entry " + QString::number(i));
    pickerAnswer = "/srv/scripts/nine.txt";
    form->cmdFileOpen[9]->click();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].title, "ファイルを開く");
    EXPECT_EQ(requests[0].filters,
              QStringList({"テキストファイル(*.txt)", "すべてのファイル(*.*)"}));
    EXPECT_EQ(requests[0].initialFileName, "*.txt");
    for (int i = 0; i < 9; ++i)
        EXPECT_EQ(form->txtAlarmFile[i]->text(), "entry " + QString::number(i));
    EXPECT_EQ(form->txtAlarmFile[9]->text(), "/srv/scripts/nine.txt");

    pickerAnswer.reset();  // cancelled
    form->cmdFileOpen[9]->click();
    EXPECT_EQ(requests.size(), 2u);
    EXPECT_EQ(requests[1].initialFileName, "*.txt") << "it never starts from the entry's path";
    EXPECT_EQ(form->txtAlarmFile[9]->text(), "/srv/scripts/nine.txt");
}

}  // namespace
}  // namespace tovlane
