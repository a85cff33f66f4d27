#pragma once

#include <QDialog>
#include <QString>
#include <QStringList>
#include <array>
#include <atomic>
#include <functional>
#include <optional>
#include <thread>

#include "core/settings.h"

class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;

namespace tovlane {

// What the settings window asks of the file-open dialog.
struct FilePickerRequest {
    QString title;
    QStringList filters;  // the first is selected when the dialog opens
    QString initialFileName;
};

// Shows the file-open dialog; the chosen file's absolute path, or nullopt
// when the user cancels.
using FilePicker = std::function<std::optional<QString>(QWidget* parent, const FilePickerRequest&)>;
// Shows an error to the user.
using ErrorReporter = std::function<void(QWidget* parent, const QString& text)>;

FilePicker qtFilePicker();
// A message box with title, showing its text as plain text.
ErrorReporter messageBoxReporter(const QString& title);

// "基本設定 Tovlane Version" + major + "." + minor with at least two digits.
QString windowTitle(int major, int minor);

// The settings window: the destination, the request line and the script
// entries, saved with OK through INIAccess.
class frmSetting : public QDialog {
  public:
    // store is where OK saves.
    frmSetting(INIAccess store, FilePicker picker, ErrorReporter reporter,
               QWidget* parent = nullptr);
    ~frmSetting() override;

    // Shows the settings; OK saves only the fields that then differ from them.
    void setFields(const Settings& settings);
    Settings fields() const;
    // Closing while a save waits for another program gives the save up.
    void reject() override;

    QGroupBox* fraSendTo;
    QLabel* Label1;
    QLabel* Label2;
    QLineEdit* txtIPAddr;
    QLineEdit* txtPort;
    QGroupBox* fraFiles;
    std::array<QPushButton*, kEntryCount> cmdFileOpen;
    std::array<QLineEdit*, kEntryCount> txtAlarmFile;
    QPushButton* cmdOK;
    QPushButton* cmdCancel;
    QComboBox* cboProtocol;
    QLabel* Label3;

  private:
    void createControls();
    void chainTabOrder();
    void fitFontToCaptions();
    QLineEdit* textBoxFor(int key) const;
    void cmdOK_Click();
    bool endSave();
    void finishSave();
    void reportSaveFailure();
    void cmdFileOpen_Click(int index);

    INIAccess store_;
    FilePicker picker_;
    ErrorReporter reporter_;
    Settings shown_;
    // A save runs beside the window, so that waiting for another program's
    // save never freezes it.
    std::thread saver_;
    std::atomic<bool> cancelSave_ = false;
    Status saved_;  // written by the save, read once it is joined
};

}  // namespace tovlane
