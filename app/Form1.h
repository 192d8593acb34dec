#pragma once

#include <QMessageBox>
#include <QTimer>
#include <QWidget>
#include <array>
#include <functional>
#include <vector>

#include "config/ConfigBlock.h"
#include "config/ConfigPanel.h"
#include "config/Presets.h"
#include "link/DevicePacket.h"
#include "link/DeviceStatus.h"
#include "serial/ComPort.h"
#include "transfer/TransferNumber.h"
#include "transfer/TransferState.h"
#include "ui_form1.h"
#include "update/VersionRecord.h"
#include "update/WebViewer.h"

class QCheckBox;
class QLineEdit;

namespace vek {

// A message box as the window asks for it; tests answer it through TForm1Options::messageBox.
struct MessageBoxRequest {
    QString title;
    QString text;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    QMessageBox::StandardButtons buttons = QMessageBox::Ok;
};
using MessageBoxHandler = std::function<QMessageBox::StandardButton(const MessageBoxRequest&)>;

struct TForm1Options {
    QString updateHost = kUpdateHost;
    QString executableDir;         // where old copies are deleted; the running binary's by default
    MessageBoxHandler messageBox;  // the real QMessageBox by default
    std::function<void(const QString& url)> openUrl;  // the desktop shell by default
};

// The framework's standard exception display, outside any window.
void showStandardException(const QString& message);

// The main window. Its handlers keep the names the rest of the system knows them by; each reads
// the controls, calls the plain code and writes the controls back.
class TForm1 : public QWidget {
    Q_OBJECT
  public:
    explicit TForm1(TForm1Options options = {}, QWidget* parent = nullptr);
    ~TForm1() override;

    Ui::Form1 ui;
    TComPort VCP;
    QTimer Timer1, Timer2, Timer3, Timer4, Timer5;
    CppWebBrowser CppWebBrowser1;

    DeviceInfo deviceInfo;
    TransferState transferState;
    ShiftCounter shiftCounter;
    ConfigBlockBytes configBlock{};
    ConfigBlockBytes readBackBlock{};
    int VersionCheckStep = 0;
    PublishedVersion publishedVersion{};
    QString DownloadAddress;

    // Application shell.
    void FormCreate();
    void Timer5Timer();
    void Button1Click();
    void ComboBox1DropDown();
    void ButtonVCPClick();
    void ButtonVCPState(bool open);
    void LogChange();
    void L_SiteClick();
    void L_SiteMouseEnter();
    void L_SiteMouseLeave();

    // Device link.
    void VCPRxChar(int count);
    void Timer2Timer();

    // Block transfer and firmware.
    void TxInit();
    void SendPackage();
    void Timer1Timer();
    void B_FwTxClick();
    void B_FwJumpClick();

    // Configuration.
    void B_SetConfigClick();
    void B_SetDefaultsClick();
    void B_SetTrevaloClick();
    void B_RemConfigClick();
    void B_GetConfigClick();
    void RequestPackage();
    void Timer3Timer();
    void BuzzerClick(AlertGroup group,
                     int box);  // the 15 interlock handlers; box 0 in, 1 out, 2 during

    // Version check.
    void Timer4Timer();
    void L_MsgClick();

    // The log's add-a-line operation; "\r\n" inside a text starts a new line.
    void addLog(const QString& line, bool red = false);
    QStringList logLines() const;

    // The framework's standard exception display.
    void showException(const QString& message);

  private:
    QMessageBox::StandardButton message(const MessageBoxRequest& request);
    static void processEvents();
    // One tick of a stop-and-wait pacer: the next packet or a repeat, or the failure report.
    void stepPacer(QTimer& timer, void (TForm1::*send)(), const QString& noConnectionTitle,
                   const std::function<MessageBoxRequest()>& failure);
    // Runs an entry point that Qt calls; what escapes is shown, never thrown into the event loop.
    template <typename F>
    void guarded(F&& f);
    void connectHandlers();
    bool eventFilter(QObject* watched, QEvent* event) override;
    void clearLog();
    void deleteOldCopies();

    void handleStatus(std::span<const uint8_t> payload);
    void showOperatingModeNotice();
    void handleAck(std::span<const uint8_t> payload);
    void handleConfigReply(std::span<const uint8_t> payload);
    void completeTransfer();
    void applyReadBack();
    void runTransferStepNow();
    void runReadStepNow();

    QLineEdit* editBox(ConfigField field) const;
    QCheckBox* buzzerBox(AlertGroup group, int box) const;
    QCheckBox* eventBox(AlertGroup group, int box) const;
    PanelValues panelValues() const;
    void applyPreset(const Preset& preset);

    TForm1Options options_;
    std::vector<uint8_t> rxBuffer_;
    std::array<uint8_t, kMaxToolFrame> txBuffer_{};
    bool allowAllUp_ = true;  // whether a press may raise ButtonVCP
    bool logFresh_ = true;    // the log was cleared and no line added since
    bool msgClickAttached_ = false;
    bool msgHoverAttached_ = false;
};

}  // namespace vek
