#include "ui/frm_setting.h"

#include "core/output.h"

#include <QComboBox>
#include <QFileDialog>
#include <QFileInfo>
#include <QFileSystemModel>
#include <QFontMetrics>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QRegularExpression>
#include <QSettings>
#include <QValidator>
#include <cmath>
#include <cstdlib>
#include <limits>

#include "core/output.h"

namespace tovlane {
namespace {

// Positions and sizes are kept in twips, the layout's own unit; 15 twips make
// one device-independent pixel, and Qt scales those for high-DPI screens.
struct Twips {
    int left, top, width, height;
};

QRect toPixels(Twips twips) {
    auto pixels = [](int value) { return static_cast<int>(std::lround(value / 15.0)); };
    return {pixels(twips.left), pixels(twips.top), pixels(twips.width), pixels(twips.height)};
}

constexpr Twips kClientArea{0, 0, 5880, 4920};
constexpr Twips kSendToFrame{105, 105, 4005, 1170};
constexpr Twips kAddressLabel{105, 210, 1170, 225};
constexpr Twips kPortLabel{105, 525, 1170, 225};
constexpr Twips kAddressBox{1260, 187, 2640, 270};
constexpr Twips kPortBox{1260, 502, 2640, 270};
constexpr Twips kFilesFrame{105, 1365, 5685, 3480};
constexpr Twips kOkButton{4200, 105, 1590, 330};
constexpr Twips kCancelButton{4200, 525, 1590, 330};
constexpr Twips kProtocolList{1260, 802, 2640, 300};
constexpr Twips kProtocolLabel{105, 840, 1170, 225};
constexpr int kRowStep = 315;
Twips browseButton(int i) {
    return {105, 315 + kRowStep * i, 225, 225};
}
Twips entryBox(int i) {
    return {420, 285 + kRowStep * i, 5160, 270};
}

// The original platform's dialogs used a 9-point (12-pixel) UI font.
constexpr int kLargestFontPixels = 12;
constexpr int kSmallestFontPixels = 8;

QLabel* rightAlignedLabel(const char* caption, QWidget* parent, Twips place, QWidget* buddy) {
    auto* label = new QLabel(QString::fromUtf8(caption), parent);
    label->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    label->setGeometry(toPixels(place));
    label->setBuddy(buddy);
    return label;
}

// Keeps line breaks out of a text box: pasted lines are joined with nothing
// between them, as a script file's lines are.
class NoLineBreaks : public QValidator {
  public:
    using QValidator::QValidator;
    State validate(QString& input, int& cursor) const override {
        cursor -= static_cast<int>(input.left(cursor).count(QRegularExpression("[\\r\\n]")));
        input.remove(QRegularExpression("[\\r\\n]"));
        return Acceptable;
    }
};

// No length limit: a long literal script must survive an OK untouched.
QLineEdit* textBox(QWidget* parent, Twips place) {
    auto* box = new QLineEdit(parent);
    box->setGeometry(toPixels(place));
    box->setMaxLength(std::numeric_limits<int>::max());
    box->setValidator(new NoLineBreaks(box));
    return box;
}

// Whether a caption, access-key marker removed, fits the control's space.
bool captionFits(const QFontMetrics& metrics, const QString& caption, QSize space) {
    QString shown = caption;
    shown.remove('&');
    return metrics.horizontalAdvance(shown) <= space.width() && metrics.height() <= space.height();
}

// Sets up Qt's file dialog for a request; "*.*" lists every file.
void prepareFileDialog(QFileDialog& dialog, const FilePickerRequest& request) {
    dialog.setWindowTitle(request.title);
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    dialog.setFileMode(QFileDialog::ExistingFile);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setNameFilters(request.filters);
    dialog.selectNameFilter(request.filters.value(0));
    dialog.selectFile(request.initialFileName);
    // Qt reads "*.*" as "names with a dot"; where these captions come from it
    // means every file, and scripts on Linux often have no extension.
    QObject::connect(&dialog, &QFileDialog::filterSelected, &dialog, [&dialog](const QString& f) {
        auto* files = dialog.findChild<QFileSystemModel*>();
        if (f.endsWith("(*.*)") && files != nullptr)
            files->setNameFilters({"*"});
    });
}

// A save the system had no memory, descriptor or thread for fails with its
// sentence; any other exception is a fault of the program, which ends it
// (status 70) with a line naming it, from whichever thread it came.
Error shortage(const std::exception& error) {
    std::string why = shortageOf(error);
    if (why.empty()) {
        tell(endingOf(error).reason);
        std::_Exit(endingRow(Ending::InternalError).status);
    }
    return {ErrorCode::OutOfResources, why};
}

}  // namespace

QString windowTitle(int major, int minor) {
    return QString::fromUtf8("基本設定 Tovlane Version%1.%2")
        .arg(major)
        .arg(minor, 2, 10, QLatin1Char('0'));
}

FilePicker qtFilePicker() {
    return [](QWidget* parent, const FilePickerRequest& request) -> std::optional<QString> {
        // The dialog remembers its folder in QtProject.conf; Tovlane writes
        // nothing but its settings file, so that memory goes nowhere.
        QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, "/dev/null");
        QFileDialog dialog(parent);
        prepareFileDialog(dialog, request);
        if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) {
            return std::nullopt;
        }
        return QFileInfo(dialog.selectedFiles().first()).absoluteFilePath();
    };
}

ErrorReporter messageBoxReporter(const QString& title) {
    return [title](QWidget* parent, const QString& text) {
        // Plain text whatever it holds: a value from the file or a server's
        // reason is shown as written, never as markup Qt would guess at.
        QMessageBox box(QMessageBox::Critical, title, text, QMessageBox::Ok, parent);
        box.setTextFormat(Qt::PlainText);
        box.exec();
    };
}

frmSetting::frmSetting(INIAccess store, FilePicker picker, ErrorReporter reporter, QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint |
                          Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint),
      store_(std::move(store)),
      picker_(std::move(picker)),
      reporter_(std::move(reporter)) {
    setObjectName("frmSetting");
    setFixedSize(toPixels(kClientArea).size());
    setSizeGripEnabled(false);
    createControls();
    chainTabOrder();
    fitFontToCaptions();
    setFields(Settings());
    txtIPAddr->setFocus();
}

frmSetting::~frmSetting() {
    cancelSave_ = true;
    if (saver_.joinable())
        saver_.join();
}

void frmSetting::createControls() {
    fraSendTo = new QGroupBox(QString::fromUtf8("送信先 / プロトコル"), this);
    fraSendTo->setGeometry(toPixels(kSendToFrame));
    txtIPAddr = textBox(fraSendTo, kAddressBox);
    txtPort = textBox(fraSendTo, kPortBox);
    cboProtocol = new QComboBox(fraSendTo);
    cboProtocol->setEditable(false);
    for (auto line : kRequestLines)
        cboProtocol->addItem(QString::fromUtf8(line.data(), line.size()));
    cboProtocol->setGeometry(toPixels(kProtocolList));
    Label1 = rightAlignedLabel("IPアドレス(&A)：", fraSendTo, kAddressLabel, txtIPAddr);
    Label2 = rightAlignedLabel("ポート(&P)：", fraSendTo, kPortLabel, txtPort);
    Label3 = rightAlignedLabel("プロトコル(&S)：", fraSendTo, kProtocolLabel, cboProtocol);

    fraFiles = new QGroupBox(QString::fromUtf8("スクリプト / スクリプトファイル"), this);
    fraFiles->setGeometry(toPixels(kFilesFrame));
    for (int i = 0; i < kEntryCount; ++i) {
        cmdFileOpen[i] = new QPushButton("&" + QString::number(i), fraFiles);
        cmdFileOpen[i]->setGeometry(toPixels(browseButton(i)));
        connect(cmdFileOpen[i], &QPushButton::clicked, this, [this, i] { cmdFileOpen_Click(i); });
        txtAlarmFile[i] = textBox(fraFiles, entryBox(i));
    }

    cmdOK = new QPushButton("OK", this);
    cmdOK->setGeometry(toPixels(kOkButton));
    cmdOK->setDefault(true);
    connect(cmdOK, &QPushButton::clicked, this, &frmSetting::cmdOK_Click);
    cmdCancel = new QPushButton(QString::fromUtf8("キャンセル(&C)"), this);
    cmdCancel->setGeometry(toPixels(kCancelButton));
    connect(cmdCancel, &QPushButton::clicked, this, &QDialog::reject);

    // Object names let tests and accessibility tools find each control.
    for (auto [widget, name] :
         std::initializer_list<std::pair<QObject*, const char*>>{{fraSendTo, "fraSendTo"},
                                                                 {Label1, "Label1"},
                                                                 {Label2, "Label2"},
                                                                 {txtIPAddr, "txtIPAddr"},
                                                                 {txtPort, "txtPort"},
                                                                 {fraFiles, "fraFiles"},
                                                                 {cmdOK, "cmdOK"},
                                                                 {cmdCancel, "cmdCancel"},
                                                                 {cboProtocol, "cboProtocol"},
                                                                 {Label3, "Label3"}}) {
        widget->setObjectName(name);
    }
    for (int i = 0; i < kEntryCount; ++i) {
        cmdFileOpen[i]->setObjectName(QString("cmdFileOpen%1").arg(i));
        txtAlarmFile[i]->setObjectName(QString("txtAlarmFile%1").arg(i));
    }
}

// Tab goes through the address and port, each browse button and its entry,
// then OK, Cancel and last the request-line list, and round again.
void frmSetting::chainTabOrder() {
    std::vector<QWidget*> chain = {txtIPAddr, txtPort};
    for (int i = 0; i < kEntryCount; ++i) {
        chain.push_back(cmdFileOpen[i]);
        chain.push_back(txtAlarmFile[i]);
    }
    chain.insert(chain.end(), {cmdOK, cmdCancel, cboProtocol});
    for (std::size_t i = 0; i + 1 < chain.size(); ++i)
        QWidget::setTabOrder(chain[i], chain[i + 1]);
}

// The layout's sizes are fixed, so the font is the one thing that can give:
// the largest size up to 9 points at which every caption fits its control.
void frmSetting::fitFontToCaptions() {
    QFont chosen = font();
    for (int pixels = kLargestFontPixels; pixels >= kSmallestFontPixels; --pixels) {
        chosen.setPixelSize(pixels);
        QFontMetrics metrics(chosen);
        bool fits = true;
        for (auto* label : findChildren<QLabel*>()) {
            fits = fits && captionFits(metrics, label->text(), label->size());
        }
        for (auto* button : findChildren<QPushButton*>()) {
            fits = fits && captionFits(metrics, button->text(), button->size() - QSize(4, 2));
        }
        for (auto* frame : findChildren<QGroupBox*>()) {
            fits = fits && captionFits(metrics, frame->title(), frame->size() - QSize(16, 0));
        }
        if (fits)
            break;
    }
    setFont(chosen);
    // Each frame's caption sits on its top edge, inset from the left, with a
    // gap that keeps the line clear of the text, at any scale and font size.
    // A style sheet overrides inherited fonts, so it names the size again.
    setStyleSheet(QString("* { font-size: %1px; }"
                          "QGroupBox { border: 1px solid palette(mid); border-radius: 2px;"
                          " margin-top: 0.5em; }"
                          "QGroupBox::title { subcontrol-origin: margin; left: 6px;"
                          " padding: 0 3px; }")
                      .arg(chosen.pixelSize()));
}

QLineEdit* frmSetting::textBoxFor(int key) const {
    switch (kSettingKeys[key].kind) {
        case KeyKind::Host:
            return txtIPAddr;
        case KeyKind::Port:
            return txtPort;
        case KeyKind::Entry:
            return txtAlarmFile[key - kFirstEntryKey];
        case KeyKind::ProtocolId:
            break;
    }
    return nullptr;  // the request line is chosen from a list
}

void frmSetting::setFields(const Settings& settings) {
    for (int k = 0; k < kKeyCount; ++k) {
        if (QLineEdit* box = textBoxFor(k))
            box->setText(QString::fromStdString(settings.values[k]));
    }
    auto index = protocolIndex(settings, store_);
    cboProtocol->setCurrentIndex(index ? *index : 0);
    shown_ = fields();
}

Settings frmSetting::fields() const {
    Settings fields;
    for (int k = 0; k < kKeyCount; ++k) {
        if (QLineEdit* box = textBoxFor(k))
            fields.values[k] = box->text().toStdString();
    }
    fields.values[kProtocolKey] = std::to_string(cboProtocol->currentIndex());
    return fields;
}

// Saves in the background; the window closes once the save is done, and
// stays open with the user's edits when it fails, so nothing typed is lost.
void frmSetting::cmdOK_Click() {
    if (saver_.joinable())
        return;  // already saving
    cmdOK->setEnabled(false);
    cancelSave_ = false;
    try {
        INIAccess store = store_;
        store.Wait.cancelled = &cancelSave_;
        saver_ = std::thread([this, store, shown = shown_, edited = fields()]() mutable {
            try {
                saved_ = saveSettings(store, shown, edited);
            } catch (const std::exception& error) {
                saved_ = shortage(error);
            }
            QMetaObject::invokeMethod(this, &frmSetting::finishSave, Qt::QueuedConnection);
        });
    } catch (const std::exception& error) {  // no memory, or no thread left to give
        cmdOK->setEnabled(true);
        saved_ = shortage(error);
        reportSaveFailure();
    }
}

// Joins the save; whether it wrote the file.
bool frmSetting::endSave() {
    saver_.join();
    cmdOK->setEnabled(true);
    return saved_.ok();
}

void frmSetting::finishSave() {
    if (!saver_.joinable())
        return;  // already ended by closing the window
    if (endSave()) {
        accept();
        return;
    }
    reportSaveFailure();
}

void frmSetting::reportSaveFailure() {
    reporter_(this, QString::fromUtf8("設定ファイル %1 に保存できませんでした。\n%2")
                        .arg(QString::fromStdString(store_.FullPath()),
                             QString::fromStdString(saved_.error().reason)));
}

// A save still waiting for another program's is given up; one that already
// wrote the file has saved, and the window says so by closing as OK does.
void frmSetting::reject() {
    if (saver_.joinable()) {
        cancelSave_ = true;
        if (endSave()) {
            accept();
            return;
        }
    }
    QDialog::reject();
}

void frmSetting::cmdFileOpen_Click(int index) {
    FilePickerRequest request{
        QString::fromUtf8("ファイルを開く"),
        {QString::fromUtf8("テキストファイル(*.txt)"), QString::fromUtf8("すべてのファイル(*.*)")},
        "*.txt"};
    if (auto path = picker_(this, request))
        txtAlarmFile[index]->setText(*path);
}

}  // namespace tovlane
