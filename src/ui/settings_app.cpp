#include "ui/settings_app.h"

#include <unistd.h>

#include <QApplication>
#include <QLibraryInfo>
#include <QMessageBox>
#include <QTranslator>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "core/exit_status.h"
#include "core/settings.h"
#include "core/version.h"
#include "ui/frm_setting.h"

namespace tovlane {
namespace {

void reportNoWindow(const std::string& why) {
    std::fprintf(stderr, "tovlane: 設定画面を開けません: %s\n", why.c_str());
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
    reportNoWindow(std::string("ディスプレイ ") + (display ? display : "") + " に接続できません");
    std::fflush(stderr);
    ::_exit(kExitSettingsUnavailable);
}

}  // namespace

int runSettingsApp(int argc, char** argv) {
    auto place = settingsPlace();
    if (argc > 1 && (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0)) {
        std::printf(
            "使い方: tovlane-settings\n"
            "  Tovlane の設定画面を開きます (tovlane を引数なしで実行しても開きます)。\n"
            "  設定ファイル: %s\n  %s\n",
            place ? settingsStore(*place).FullPath().c_str() : "",
            place ? place->why.c_str() : place.error().reason.c_str());
        return 0;
    }
    if (!hasGraphicalSession()) {
        reportNoWindow(
            "グラフィカルなセッションが必要です（DISPLAY も WAYLAND_DISPLAY もありません）");
        return kExitSettingsUnavailable;
    }
    QtMessageHandler previous = qInstallMessageHandler(quietStartupHandler);
    QApplication app(argc, argv);
    qInstallMessageHandler(previous);

    // The window is Japanese, so Qt's own texts (the file dialog's buttons
    // and labels) are too, where Qt's translations are installed.
    QTranslator qtTexts;
    if (qtTexts.load("qtbase_ja", QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
        QApplication::installTranslator(&qtTexts);
    }

    const QString title = windowTitle(kVersionMajor, kVersionMinor);
    if (!place) {
        QMessageBox::critical(nullptr, title, QString::fromStdString(place.error().reason));
        return errorEnd(place.error().code).status;
    }
    INIAccess store = settingsStore(*place);
    Result<Settings> settings = Error{ErrorCode::SystemFailure, ""};
    try {
        settings = loadSettings(store);
    } catch (const std::exception& error) {  // no memory for a huge file's values
        settings = Error{ErrorCode::SystemFailure, store.FullPath() + ": " + error.what()};
    }
    if (!settings) {
        QMessageBox::critical(nullptr, title, QString::fromStdString(settings.error().reason));
        return errorEnd(settings.error().code).status;
    }
    frmSetting form(store, qtFilePicker(), messageBoxReporter());
    form.setWindowTitle(title);
    form.setFields(*settings);
    form.exec();
    return 0;
}

}  // namespace tovlane
