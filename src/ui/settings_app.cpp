#include "ui/settings_app.h"

#include <unistd.h>

#include <QApplication>
#include <QFileInfo>
#include <QIcon>
#include <QLibraryInfo>
#include <QTranslator>
#include <cstdlib>
#include <cstring>
#include <string>

#include "core/exit_status.h"
#include "core/output.h"
#include "core/settings.h"
#include "core/version.h"
#include "storage/localized.h"
#include "ui/frm_setting.h"

namespace tovlane {
namespace {

void reportNoWindow(const std::string& why) {
    tell(localized("cannot open the settings window: {}", "設定画面を開けません: {}", {why}));
}

int statusOf(Ending ending) {
    return endingRow(ending).status;
}

bool hasGraphicalSession() {
    for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"}) {
        const char* value = std::getenv(name);
        if (value != nullptr && *value != '\0')
            return true;
    }
    return false;
}

// While Qt connects to the display, its complaints are held back; if it gives
// up (a fatal message, which would abort with a core dump and advice meant
// for packagers), the user gets one line naming the display and a plain exit
// status instead.
void quietStartupHandler(QtMsgType type, const QMessageLogContext&, const QString&) {
    if (type != QtFatalMsg)
        return;
    const char* display = std::getenv("WAYLAND_DISPLAY");
    if (display == nullptr || *display == '\0')
        display = std::getenv("DISPLAY");
    reportNoWindow(localized("cannot connect to the display {}", "ディスプレイ {} に接続できません",
                             {display ? display : ""}));
    ::_exit(statusOf(Ending::SettingsUnavailable));
}

// The icon an install puts under share/, beside lib/tovlane/, for desktops
// whose icon theme does not search that prefix.
QString installedIcon() {
    auto directory = executableDirectory();
    QString icon = directory
                       ? QString::fromStdString(joinPath(
                             *directory, "../../share/icons/hicolor/scalable/apps/tovlane.svg"))
                       : QString();
    return QFileInfo::exists(icon) ? icon : QString();  // a build tree has none
}

}  // namespace

int runSettingsApp(int argc, char** argv) {
    prepareStandardStreams();
    auto place = settingsPlace();
    const std::string option = argc > 1 ? argv[1] : "";
    if (option == "--help" || option == "-h" || option == "--version") {
        LineWriter out(STDOUT_FILENO);
        if (option == "--version") {
            out.line(std::string("tovlane-settings ") + kVersionText);
        } else {
            out.line(localized("Usage: tovlane-settings [--help | --version]",
                               "使い方: tovlane-settings [--help | --version]"));
            out.line(localized(
                "  Opens Tovlane's settings window (as tovlane with no arguments does).",
                "  Tovlane の設定画面を開きます (tovlane を引数なしで実行しても開きます)。"));
            out.line(localized("  Settings file: {}", "  設定ファイル: {}",
                               {place ? settingsStore(*place).FullPath() : std::string()}));
            out.line("  " + (place ? whyThere(*place) : place.error().reason));
        }
        auto written = finishOutput(out);
        if (!written) {
            tell(written.error().reason);
            return statusOf(written.error().code);
        }
        return 0;
    }
    if (!hasGraphicalSession()) {
        reportNoWindow(localized(
            "it needs a graphical session (neither DISPLAY nor WAYLAND_DISPLAY is set)",
            "グラフィカルなセッションが必要です（DISPLAY も WAYLAND_DISPLAY もありません）"));
        return statusOf(Ending::SettingsUnavailable);
    }
    QtMessageHandler previous = qInstallMessageHandler(quietStartupHandler);
    QApplication app(argc, argv);
    qInstallMessageHandler(previous);

    // What the desktop entry names: docks group the window with the menu item
    // (WM_CLASS "Tovlane", Wayland's app id "tovlane") and show its icon.
    QApplication::setApplicationName("Tovlane");
    QGuiApplication::setDesktopFileName("tovlane");
    QApplication::setWindowIcon(QIcon::fromTheme("tovlane", QIcon(installedIcon())));

    // The window is Japanese, so Qt's own texts (the file dialog's buttons
    // and labels) are too, where Qt's translations are installed.
    QTranslator qtTexts;
    if (qtTexts.load("qtbase_ja", QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
        QApplication::installTranslator(&qtTexts);
    }

    try {
        return runSettingsWindow(place,
                                 messageBoxReporter(windowTitle(kVersionMajor, kVersionMinor)));
    } catch (const std::exception& error) {  // a fault of the program's own
        RunError ending = endingOf(error);
        tell(ending.reason);
        return statusOf(ending.code);
    }
}

int runSettingsWindow(const Outcome<SettingsPlace>& place, const ErrorReporter& report) {
    if (!place) {
        report(nullptr, QString::fromStdString(place.error().reason));
        return statusOf(place.error().code);
    }
    if (std::string moved = notUsedBesideProgram(*place); !moved.empty() && ::isatty(STDERR_FILENO))
        tell(moved);
    INIAccess store = settingsStore(*place);
    Outcome<Settings> settings = RunError{Ending::SystemFailure, ""};
    try {
        settings = loadSettings(store);
    } catch (const std::exception& error) {  // no memory for a huge file's values
        std::string shortage = shortageOf(error);
        if (shortage.empty())
            throw;
        settings = RunError{Ending::SystemFailure,
                            localized("cannot read {}: {}", "{} を読み込めません: {}",
                                      {store.FullPath(), shortage})};
    }
    if (!settings) {
        report(nullptr, QString::fromStdString(settings.error().reason));
        return statusOf(settings.error().code);
    }
    frmSetting form(store, qtFilePicker(), report);
    form.setWindowTitle(windowTitle(kVersionMajor, kVersionMinor));
    form.setFields(*settings);
    form.exec();
    return 0;
}

}  // namespace tovlane
