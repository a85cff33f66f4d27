#include "ui/frm_setting.h"

#include <gtest/gtest.h>
#include <QTest>
#include <QtWidgets>

#include "support/test_support.h"

namespace tovlane::test {
namespace {

// A settings window on a temporary directory, with the file picker and the
// error box answered by the test.
class SettingsWindow : public ::testing::Test {
  protected:
    std::unique_ptr<frmSetting> makeForm(const std::string& directory) {
        return std::make_unique<frmSetting>(
            directory,
            [this](QWidget*, const FilePickerRequest& request) {
                requests.push_back(request);
                return pickerAnswer;
            },
            [this](QWidget*, const QString& text) { errors.push_back(text); });
    }

    void showActive() {
        form->show();
        QApplication::setActiveWindow(form.get());
        ASSERT_TRUE(QTest::qWaitForWindowActive(form.get()));
    }

    std::string settingsPath() const { return dir.file("Tovlane.ini"); }

    Settings reload() {
        INIAccess store = settingsStore(dir.path());
        return *loadSettings(store);
    }

    TempDir dir;
    std::optional<QString> pickerAnswer;
    std::vector<FilePickerRequest> requests;
    std::vector<QString> errors;
    std::unique_ptr<frmSetting> form = makeForm(dir.path());
};

// Twips become pixels at 15 to one: the last entry row shows the rule.
TEST_F(SettingsWindow, LayoutFollowsTheTwipsTableAndTheTitleShowsTheVersion) {
    EXPECT_EQ(form->size(), QSize(392, 328));
    EXPECT_EQ(form->minimumSize(), form->maximumSize()) << "the window cannot be resized";
    EXPECT_EQ(form->txtAlarmFile[9]->geometry(), QRect(28, 208, 344, 18));
    EXPECT_EQ(form->txtAlarmFile[9]->parentWidget(), form->fraFiles);
    EXPECT_EQ(form->cboProtocol->geometry(), QRect(84, 53, 176, 20));
    EXPECT_FALSE(form->cboProtocol->isEditable());
    EXPECT_EQ(form->cboProtocol->itemText(0), "SEND SSTP/1.1");
    EXPECT_EQ(form->Label3->alignment() & Qt::AlignHorizontal_Mask, Qt::AlignRight);
    EXPECT_GE(form->font().pixelSize(), 9) << "the captions are still readable";
    EXPECT_EQ(windowTitle(0, 11), "基本設定 Tovlane Version0.11");
    EXPECT_EQ(windowTitle(1, 2), "基本設定 Tovlane Version1.02");
}

TEST_F(SettingsWindow, TabGoesRoundInTheGivenOrderAndAccessKeysJump) {
    showActive();
    std::vector<QWidget*> chain = {form->txtIPAddr, form->txtPort};
    for (int i = 0; i < kEntryCount; ++i)
        chain.insert(chain.end(), {form->cmdFileOpen[i], form->txtAlarmFile[i]});
    chain.insert(chain.end(), {form->cmdOK, form->cmdCancel, form->cboProtocol, form->txtIPAddr});
    EXPECT_EQ(QApplication::focusWidget(), form->txtIPAddr) << "focus starts in the address";
    for (std::size_t i = 1; i < chain.size(); ++i) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        EXPECT_EQ(QApplication::focusWidget(), chain[i]) << "step " << i;
    }
    for (auto [key, field] : {std::pair{Qt::Key_P, static_cast<QWidget*>(form->txtPort)},
                              {Qt::Key_S, form->cboProtocol},
                              {Qt::Key_A, form->txtIPAddr}}) {
        QTest::keyClick(form.get(), key, Qt::AltModifier);
        EXPECT_EQ(QApplication::focusWidget(), field);
    }
}

TEST_F(SettingsWindow, EnterSavesEscapeCancelAndCloseWriteNothing) {
    const std::string before = "; mine\r\n[Tovlane Setting]\r\nPort=1\r\n";
    writeFile(settingsPath(), before);
    // Keys go to the widget that has the focus: Escape in a box, Enter on キャンセル.
    for (auto leave : std::initializer_list<std::function<void()>>{
             [&] { QTest::keyClick(form->txtPort, Qt::Key_Escape); },
             [&] { QTest::keyClick(form->cmdCancel, Qt::Key_Return); },
             [&] { form->cmdCancel->click(); }, [&] { form->close(); }}) {
        showActive();
        form->txtPort->setText("2");
        leave();
        EXPECT_FALSE(form->isVisible());
        EXPECT_EQ(form->result(), QDialog::Rejected);
    }
    EXPECT_EQ(readFile(settingsPath()), before);

    showActive();
    QTest::keyClick(form->cmdFileOpen[3], Qt::Key_Return);
    EXPECT_EQ(requests.size(), 1u) << "Enter on a browse button opens the picker";
    QTest::keyClicks(form->txtAlarmFile[4], "\\h\\s[0]four");
    QTest::keyClick(form->txtAlarmFile[4], Qt::Key_Return);
    EXPECT_EQ(form->result(), QDialog::Accepted);
    EXPECT_FALSE(form->isVisible());
    EXPECT_EQ(reload().entries[4], "\\h\\s[0]four");
}

TEST_F(SettingsWindow, OkWritesAllThirteenKeysInOrderAndTheyComeBack) {
    Settings settings;
    settings.protocolIndex = -1;
    settings.address = "::1";
    form->setFields(settings);
    EXPECT_EQ(form->cboProtocol->currentIndex(), -1) << "-1 shows no selection";
    // Nothing is cut (Qt's boxes stop at 32,767 characters unless told), and
    // pasted line breaks are joined away.
    const QString japanese = "\\h\\s[0]こんにちは〜 " + QString(40000, 'x');
    form->txtAlarmFile[0]->setText(japanese);
    form->txtAlarmFile[2]->insert("\\h\r\n\\s[0]\nhi");
    form->cmdOK->click();
    EXPECT_EQ(readFile(settingsPath()),
              "[Tovlane Setting]\nAddress=::1\nPort=9801\nProtocolID=-1\nAlarmFile0=" +
                  japanese.toStdString() +
                  "\nAlarmFile1=\nAlarmFile2=\\h\\s[0]hi\nAlarmFile3=\nAlarmFile4=\n"
                  "AlarmFile5=\nAlarmFile6=\nAlarmFile7=\nAlarmFile8=\nAlarmFile9=\n");
    EXPECT_TRUE(errors.empty());
    Settings next = reload();
    EXPECT_EQ(next.address + " " + std::to_string(next.protocolIndex), "::1 -1");
    EXPECT_EQ(QString::fromStdString(next.entries[0]), japanese);
}

TEST_F(SettingsWindow, AFailedSaveIsReportedAndKeepsTheEdits) {
    // A plain file where the folder should be stops every write, root's too.
    writeFile(dir.file("tools"), "not a directory");
    form = makeForm(dir.file("tools"));
    form->show();
    form->txtAlarmFile[2]->setText("keep me");
    form->cmdOK->click();
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_EQ(errors[0], QString::fromStdString("設定ファイル " + dir.file("tools/Tovlane.ini") +
                                                " に保存できませんでした。\nNot a directory"));
    EXPECT_TRUE(form->isVisible());
    EXPECT_NE(form->result(), QDialog::Accepted);
    EXPECT_EQ(form->txtAlarmFile[2]->text(), "keep me");
}

TEST_F(SettingsWindow, BrowsePutsTheChosenPathIntoThatEntryOnly) {
    showActive();
    for (int i = 0; i < kEntryCount; ++i)
        form->txtAlarmFile[i]->setText("entry " + QString::number(i));
    pickerAnswer = "/srv/scripts/nine.txt";
    QTest::keyClick(form.get(), Qt::Key_9, Qt::AltModifier);
    // An access key presses the button visibly, so the click comes a moment later.
    ASSERT_TRUE(QTest::qWaitFor([this] { return !requests.empty(); }, 2000));
    pickerAnswer.reset();  // cancelled
    form->cmdFileOpen[9]->click();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(requests[1].title, "ファイルを開く");
    EXPECT_EQ(requests[1].filters,
              QStringList({"テキストファイル(*.txt)", "すべてのファイル(*.*)"}));
    EXPECT_EQ(requests[1].initialFileName, "*.txt") << "it never starts from the entry's path";
    for (int i = 0; i < 9; ++i)
        EXPECT_EQ(form->txtAlarmFile[i]->text(), "entry " + QString::number(i));
    EXPECT_EQ(form->txtAlarmFile[9]->text(), "/srv/scripts/nine.txt");
}

// Qt's own dialog, as a browse button opens it: checked while it is open,
// then cancelled, which picks nothing.
TEST_F(SettingsWindow, FileDialogStartsOnTextFilesAndAllFilesMeansEveryFile) {
    QTimer::singleShot(0, [] {
        auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
        auto* files = dialog->findChild<QFileSystemModel*>();
        auto listed = [&](const char* name) { return QDir::match(files->nameFilters(), name); };
        EXPECT_EQ(dialog->selectedNameFilter(), "テキストファイル(*.txt)");
        EXPECT_EQ(dialog->findChild<QLineEdit*>("fileNameEdit")->text(), "*.txt");
        EXPECT_FALSE(listed("script"));
        auto* types = dialog->findChild<QComboBox*>("fileTypeCombo");  // as a user picks it
        types->setCurrentIndex(1);
        types->activated(1);
        types->textActivated(types->currentText());
        EXPECT_TRUE(listed("script") && listed("a.txt"));
        dialog->reject();
    });
    FilePickerRequest request{"t", {"テキストファイル(*.txt)", "すべてのファイル(*.*)"}, "*.txt"};
    EXPECT_EQ(qtFilePicker()(nullptr, request), std::nullopt);
}

}  // namespace
}  // namespace tovlane::test

// The widget tests need a QApplication; Qt's offscreen platform needs no
// display, so they run from ssh and CI alike.
int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    ::testing::InitGoogleTest(&argc, argv);
    QApplication app(argc, argv);
    return RUN_ALL_TESTS();
}
