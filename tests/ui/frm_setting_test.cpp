#include "ui/frm_setting.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/resource.h>

#include <gtest/gtest.h>
#include <QTest>
#include <QtWidgets>

#include "support/test_support.h"
#include "ui/settings_app.h"

namespace tovlane::test {
namespace {

using namespace std::string_literals;

// A settings window on a temporary directory, with the file picker and the
// error box answered by the test.
class SettingsWindow : public ::testing::Test {
  protected:
    std::unique_ptr<frmSetting> makeForm(
        const std::string& directory,
        std::chrono::milliseconds wait = std::chrono::milliseconds(200)) {
        INIAccess store = settingsStore({directory});
        store.Wait.limit = wait;
        return std::make_unique<frmSetting>(
            store,
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
        INIAccess store = settingsStore({dir.path()});
        return *loadSettings(store);
    }

    // Presses OK and waits for the save to end: accepted, or reported.
    void pressOk(frmSetting& window) {
        std::size_t reported = errors.size();
        window.cmdOK->click();
        EXPECT_TRUE(QTest::qWaitFor(
            [&] { return window.result() == QDialog::Accepted || errors.size() > reported; },
            5000));
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
    EXPECT_EQ(form->fraSendTo->geometry(), QRect(7, 7, 267, 78));
    EXPECT_EQ(form->minimumSize(), form->maximumSize()) << "the window cannot be resized";
    EXPECT_FALSE(form->isSizeGripEnabled());
    EXPECT_EQ(form->txtAlarmFile[9]->geometry(), QRect(28, 208, 344, 18));
    EXPECT_EQ(form->cmdFileOpen[9]->geometry(), QRect(7, 210, 15, 15));
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
    form->txtPort->clear();
    QTest::keyClicks(form->txtPort, "47");
    QTest::keyClicks(form->txtAlarmFile[4], "\\h\\s[0]four");
    QTest::keyClick(form->txtAlarmFile[4], Qt::Key_Return);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !form->isVisible(); }, 5000));
    EXPECT_EQ(form->result(), QDialog::Accepted);
    Settings saved = reload();
    EXPECT_EQ(saved.values[kPortKey] + " " + saved.values[entryKey(4)], "47 \\h\\s[0]four");
}

TEST_F(SettingsWindow, OkWritesEveryKeyInOrderAndTheyComeBack) {
    Settings settings;
    settings.values[kProtocolKey] = "-1";
    settings.values[kAddressKey] = "::1";
    form->setFields(settings);
    EXPECT_EQ(form->cboProtocol->currentIndex(), -1) << "-1 shows no selection";
    // Nothing is cut (Qt's boxes stop at 32,767 characters unless told), and
    // pasted line breaks are joined away.
    const QString japanese = "\\h\\s[0]こんにちは〜 " + QString(40000, 'x');
    form->txtAlarmFile[0]->setText(japanese);
    form->txtAlarmFile[2]->insert("\\h\r\n\\s[0]\nhi");
    pressOk(*form);
    EXPECT_EQ(readFile(settingsPath()),
              "[Tovlane Setting]\nAddress=::1\nPort=9801\nProtocolID=-1\nAlarmFile0=" +
                  japanese.toStdString() +
                  "\nAlarmFile1=\nAlarmFile2=\\h\\s[0]hi\nAlarmFile3=\nAlarmFile4=\n"
                  "AlarmFile5=\nAlarmFile6=\nAlarmFile7=\nAlarmFile8=\nAlarmFile9=\n");
}

// The window shows the file as it was when it opened; OK writes only what
// the user changed since, so what another window or program saved meanwhile
// stays, and an untouched file keeps every byte.
TEST_F(SettingsWindow, WindowsAndProgramsNeverLoseEachOthersEdits) {
    const std::string before =
        "[Tovlane Setting]\nProtocolID=0.9\nAddress=\nAlarmFile3=\xE3\x81\x82 \xFF\n"
        "AlarmFile4=abc\0def\nAlarmFile5=five\n"s;
    writeFile(settingsPath(), before);
    auto open = [&] {
        auto window = makeForm(dir.path());
        window->setFields(reload());
        window->show();
        return window;
    };
    auto a = open(), b = open();
    EXPECT_EQ(a->txtAlarmFile[3]->text(), "縺\uFFFD \uFFFD") << "not UTF-8: shown as CP932";
    EXPECT_EQ(a->txtAlarmFile[5]->text(), "five");
    pressOk(*a);
    EXPECT_TRUE(readFile(settingsPath()).starts_with(before)) << "only missing keys are added";

    // Another program (a process of its own) changes entry 5, window b entry 6.
    ASSERT_TRUE(inChild([&] {
        INIAccess store = settingsStore({dir.path()});
        return store.SetINIData("Tovlane Setting", "AlarmFile5", "theirs");
    }));
    a = open();
    a->txtAlarmFile[7]->setText("a's");
    a->txtAlarmFile[6]->setText("a's");
    b->txtAlarmFile[6]->setText("b's");
    pressOk(*a);
    pressOk(*b);
    Settings saved = reload();
    EXPECT_EQ(saved.values[entryKey(5)] + saved.values[entryKey(6)] + saved.values[entryKey(7)],
              "theirsb'sa's")
        << "the later OK wins where both changed";
}

// A file in CP932, as the Windows program shares them, stays CP932; a
// character CP932 cannot hold is refused, naming its entry, and nothing is
// written. A UTF-8 file stays UTF-8 (the test above).
TEST_F(SettingsWindow, ASettingsFileKeepsItsEncoding) {
    const std::string before = "[Tovlane Setting]\r\nAlarmFile0=\x82\xa0\r\n";  // あ
    writeFile(settingsPath(), before);
    form->setFields(reload());
    form->txtAlarmFile[1]->setText("日本語");
    form->txtAlarmFile[2]->setText("x😀");
    pressOk(*form);
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_EQ(errors[0].section('\n', 1),
              "エントリ 2 の文字「😀」(U+1F600) は、設定ファイルが Shift_JIS (CP932) なので"
              "保存できません");
    EXPECT_EQ(readFile(settingsPath()), before);
    form->txtAlarmFile[2]->clear();
    pressOk(*form);
    const std::string after = readFile(settingsPath());
    EXPECT_TRUE(after.starts_with(before)) << after;
    EXPECT_NE(after.find("\r\nAlarmFile1=\x93\xfa\x96\x7b\x8c\xea\r\n"), std::string::npos);
    EXPECT_EQ(reload().values[entryKey(1)], "日本語");
}

// A save the system has no memory for says so in a sentence of its own.
TEST_F(SettingsWindow, ASaveWithoutMemorySaysSo) {
    if (TOVLANE_SANITIZED)
        GTEST_SKIP()
            << "a sanitized program needs all its address space";  // runs in the plain build
    writeFile(settingsPath(), "[Tovlane Setting]\nAlarmFile9=" + std::string(64 << 20, 'a'));
    form->txtAlarmFile[1]->setText("mine");
    // Room to read the file, none to make the longer text of the save.
    std::string status = readFile("/proc/self/status");
    rlimit old{}, tight{};
    ::getrlimit(RLIMIT_AS, &old);
    tight = {(std::stoul(status.substr(status.find("VmSize:") + 7)) << 10) + (96 << 20),
             old.rlim_max};
    ASSERT_EQ(::setrlimit(RLIMIT_AS, &tight), 0);
    pressOk(*form);
    ::setrlimit(RLIMIT_AS, &old);
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_EQ(errors[0].section('\n', 1), "メモリが足りません");
}

TEST_F(SettingsWindow, AFailedSaveIsReportedAndKeepsTheEdits) {
    // A plain file where the folder should be stops every write, root's too.
    writeFile(dir.file("tools"), "not a directory");
    form = makeForm(dir.file("tools"));
    form->show();
    form->txtAlarmFile[2]->setText("keep me");
    pressOk(*form);
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_EQ(errors[0], QString::fromStdString("設定ファイル " + dir.file("tools/Tovlane.ini") +
                                                " に保存できませんでした。\nNot a directory"));
    EXPECT_TRUE(form->isVisible() && form->result() != QDialog::Accepted);
    EXPECT_TRUE(form->cmdOK->isEnabled()) << "OK can be pressed again";
    EXPECT_EQ(form->txtAlarmFile[2]->text(), "keep me");
}

// While another program saves, OK waits without freezing the window: Escape
// still closes it, giving the save up; a wait that runs out is reported.
TEST_F(SettingsWindow, ABusySaveKeepsTheWindowAnswering) {
    writeFile(settingsPath(), "[Tovlane Setting]\n");
    // The lock taken through a description of its own, as another program's.
    int held = ::open(dir.file(".Tovlane.ini.lock").c_str(), O_RDWR | O_CREAT, 0600);
    ASSERT_EQ(::flock(held, LOCK_EX), 0);
    form = makeForm(dir.path(), std::chrono::hours(1));  // only giving up ends this wait
    showActive();
    form->txtAlarmFile[1]->setText("mine");
    form->cmdOK->click();
    QTest::qWait(100);
    EXPECT_TRUE(form->isVisible() && errors.empty()) << "still waiting";
    QTest::keyClick(form->txtAlarmFile[1], Qt::Key_Escape);
    EXPECT_FALSE(form->isVisible());
    form->cmdOK->click();
    form = makeForm(dir.path());  // a window closed by its program gives up its wait too
    showActive();
    form->txtAlarmFile[1]->setText("mine");
    pressOk(*form);
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_TRUE(errors[0].endsWith("を保存中です。しばらくしてからもう一度保存してください"));
    EXPECT_EQ(readFile(settingsPath()), "[Tovlane Setting]\n");
    ::close(held);
    form->cmdOK->click();  // a save that has written when Escape comes has saved
    form->reject();
    EXPECT_EQ(form->result(), QDialog::Accepted);
    EXPECT_EQ(reload().values[entryKey(1)], "mine");
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
        EXPECT_EQ(dialog->windowTitle(), "t");
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

// What a user sees when the window cannot start or a save fails: a message
// box titled as the window, its text shown as written, never as markup.
TEST(MessageBox, ShowsItsTextAsPlainText) {
    const QString text = "ProtocolID=<b>BOLD</b><font color=red size=7>x</font>";
    QTimer::singleShot(0, [&] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        ASSERT_NE(box, nullptr);
        EXPECT_EQ(box->windowTitle(), "基本設定 Tovlane Version0.11");
        EXPECT_EQ(box->text(), text);
        EXPECT_EQ(box->textFormat(), Qt::PlainText);
        EXPECT_EQ(box->icon(), QMessageBox::Critical);
        box->accept();
    });
    messageBoxReporter(windowTitle(0, 11))(nullptr, text);
}

// A settings file that cannot be read keeps the window shut, saying why.
TEST_F(SettingsWindow, AnUnreadableSettingsFileIsReportedAndOpensNoWindow) {
    std::filesystem::create_directory(settingsPath());
    auto report = [this](QWidget*, const QString& text) { errors.push_back(text); };
    EXPECT_EQ(runSettingsWindow(SettingsPlace{{dir.path()}}, report), 11);
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_EQ(errors[0].toStdString(),
              settingsPath() + " を読み込めません: 通常のファイルではありません");
}

// The real file dialog, cancelled: it leaves no QtProject.conf behind.
TEST(FilePicker, WritesNothingOfItsOwn) {
    const QString config = QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation);
    QTimer::singleShot(0, [] { QApplication::activeModalWidget()->close(); });
    EXPECT_EQ(qtFilePicker()(nullptr, {"開く", {"すべてのファイル(*.*)"}, ""}), std::nullopt);
    EXPECT_FALSE(QFileInfo::exists(config + "/QtProject.conf")) << config.toStdString();
}

}  // namespace
}  // namespace tovlane::test

// The widget tests need a QApplication; Qt's offscreen platform needs no
// display, so they run from ssh and CI alike.
int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    ::testing::InitGoogleTest(&argc, argv);
    tovlane::test::TempDir config;  // the user's config folder, which nothing may write into
    qputenv("XDG_CONFIG_HOME", QByteArray::fromStdString(config.path()));
    QApplication app(argc, argv);
    return RUN_ALL_TESTS();
}
