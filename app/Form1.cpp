#include "app/Form1.h"

#include <QApplication>
#include <QCheckBox>
#include <QCursor>
#include <QDesktopServices>
#include <QDir>
#include <QFile>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QTextBlock>
#include <QUrl>
#include <cerrno>
#include <cstring>
#include <iostream>

#include "app/FormStyle.h"
#include "app/Glyphs.h"
#include "link/BoxLine.h"
#include "serial/EComPort.h"
#include "serial/EnumComPorts.h"
#include "serial/OpenFailure.h"
#include "transfer/Pacer.h"

namespace vek {

namespace {

constexpr int kProgressFrameMs = 16;  // about a display's refresh
constexpr Qt::WindowFlags kWindowFlags = Qt::Dialog | Qt::CustomizeWindowHint |
                                         Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                                         Qt::WindowCloseButtonHint;

// Older copies of the tool that a previous installation may have left beside it.
constexpr std::array kOldCopies{"VekTool v2.35.A.exe", "VekTool v2.36.B.exe", "VekTool v2.36.C.exe",
                                "VekTool v2.36.A.exe"};

QMessageBox::StandardButton showRealMessageBox(const MessageBoxRequest& request) {
    QMessageBox box(request.icon, request.title, request.text, request.buttons);
    // Captions as a Brazilian desktop shows them.
    if (auto* b = box.button(QMessageBox::Yes))
        b->setText(QStringLiteral("Sim"));
    if (auto* b = box.button(QMessageBox::No))
        b->setText(QStringLiteral("Não"));
    if (auto* b = box.button(QMessageBox::Ok))
        b->setText(QStringLiteral("OK"));
    return static_cast<QMessageBox::StandardButton>(box.exec());
}

}  // namespace

void showStandardException(const QString& messageText) {
    showRealMessageBox(
        {QStringLiteral("Vek Tool"), messageText, QMessageBox::Critical, QMessageBox::Ok});
}

TForm1::TForm1(TForm1Options options, QWidget* parent)
    // The flags are given before any child exists: set later, they re-parent the window and
    // re-polish every control, which doubled the start-up time.
    : QWidget(parent, kWindowFlags), options_(std::move(options)) {
    buildForm(ui, *this);
    if (options_.executableDir.isEmpty())
        options_.executableDir = QCoreApplication::applicationDirPath();
    if (!options_.messageBox)
        options_.messageBox = showRealMessageBox;
    if (!options_.openUrl)
        options_.openUrl = [](const QString& url) {
            QDesktopServices::openUrl(QUrl(withScheme(url)));
        };
    CppWebBrowser1.openExternally = options_.openUrl;

    setFixedSize(557, 742);
    setWindowIcon(applicationIcon());

    setBoxLineSettings(VCP);
    VCP.OnRxChar = [this](QObject*, int count) { guarded([&] { VCPRxChar(count); }); };

    // The bar follows every packet but paints at most once a display frame: a paint for each
    // of an upload's 1,833 positions would cost more than the exchanges themselves. The first
    // change of a frame paints at once, later ones are shown when the frame ends.
    auto* frame = new QTimer(this);
    frame->setSingleShot(true);
    frame->setInterval(kProgressFrameMs);
    QProgressBar* bar = ui.ProgressBar1;
    connect(frame, &QTimer::timeout, bar, [bar] { bar->setUpdatesEnabled(true); });
    connect(bar, &QProgressBar::valueChanged, frame, [bar, frame] {
        if (frame->isActive())
            bar->setUpdatesEnabled(false);
        else
            frame->start();
    });

    Timer1.setInterval(kTransferStepInterval);
    Timer2.setInterval(50);
    Timer3.setInterval(kReadStepInterval);
    // The repeats fall on whole ticks: a coarse timer's 5% slack would add up over ten of them.
    Timer1.setTimerType(Qt::PreciseTimer);
    Timer3.setTimerType(Qt::PreciseTimer);
    Timer4.setInterval(1000);
    Timer5.setInterval(10);
    connectHandlers();
    FormCreate();
}

TForm1::~TForm1() = default;

template <typename F>
void TForm1::guarded(F&& f) {
    try {
        f();
    } catch (const std::exception& e) {
        showException(QString::fromUtf8(e.what()));
    }
}

void TForm1::showException(const QString& messageText) {
    message({QStringLiteral("Vek Tool"), messageText, QMessageBox::Critical, QMessageBox::Ok});
}

QMessageBox::StandardButton TForm1::message(const MessageBoxRequest& request) {
    return options_.messageBox(request);
}

void TForm1::processEvents() {
    QCoreApplication::processEvents();
}

void TForm1::connectHandlers() {
    auto onTick = [this](QTimer& timer, void (TForm1::*handler)()) {
        connect(&timer, &QTimer::timeout, this,
                [this, handler] { guarded([&] { (this->*handler)(); }); });
    };
    onTick(Timer1, &TForm1::Timer1Timer);
    onTick(Timer2, &TForm1::Timer2Timer);
    onTick(Timer3, &TForm1::Timer3Timer);
    onTick(Timer4, &TForm1::Timer4Timer);
    onTick(Timer5, &TForm1::Timer5Timer);

    auto onClick = [this](QAbstractButton* button, void (TForm1::*handler)()) {
        connect(button, &QAbstractButton::clicked, this,
                [this, handler] { guarded([&] { (this->*handler)(); }); });
    };
    onClick(ui.B_FwTx, &TForm1::B_FwTxClick);
    onClick(ui.B_FwJump, &TForm1::B_FwJumpClick);
    onClick(ui.B_GetConfig, &TForm1::B_GetConfigClick);
    onClick(ui.Button1, &TForm1::Button1Click);
    onClick(ui.B_SetConfig, &TForm1::B_SetConfigClick);
    onClick(ui.B_SetDefaults, &TForm1::B_SetDefaultsClick);
    onClick(ui.B_SetTrevalo, &TForm1::B_SetTrevaloClick);
    onClick(ui.B_RemConfig, &TForm1::B_RemConfigClick);

    // A press while the connection is open must not raise the button: it stays down until the
    // handler has closed the port.
    connect(ui.ButtonVCP, &QToolButton::clicked, this, [this](bool checked) {
        if (!checked && !allowAllUp_)
            ui.ButtonVCP->setChecked(true);
        guarded([&] { ButtonVCPClick(); });
    });

    // The interlocks fire on every change of state, also when code sets it.
    for (AlertGroup group : kAlertGroups)
        for (int box = 0; box < 3; ++box)
            connect(buzzerBox(group, box), &QCheckBox::toggled, this,
                    [this, group, box] { guarded([&] { BuzzerClick(group, box); }); });

    connect(ui.Log, &QTextEdit::textChanged, this, [this] { LogChange(); });
    ui.ComboBox1->installEventFilter(this);
    ui.L_Site->installEventFilter(this);
    ui.L_Msg->installEventFilter(this);
}

bool TForm1::eventFilter(QObject* watched, QEvent* event) {
    const auto type = event->type();
    if (watched == ui.ComboBox1) {
        const bool opensList =
            type == QEvent::MouseButtonPress || (type == QEvent::KeyPress && [&] {
                const auto* key = static_cast<QKeyEvent*>(event);
                return key->key() == Qt::Key_F4 || key->key() == Qt::Key_Space ||
                       (key->key() == Qt::Key_Down && (key->modifiers() & Qt::AltModifier));
            }());
        if (opensList && ui.ComboBox1->isEnabled())
            guarded([&] { ComboBox1DropDown(); });
        return false;
    }
    const bool site = watched == ui.L_Site;
    if (site || (watched == ui.L_Msg && msgHoverAttached_)) {
        if (type == QEvent::Enter)
            L_SiteMouseEnter();
        if (type == QEvent::Leave)
            L_SiteMouseLeave();
    }
    if (type == QEvent::MouseButtonRelease) {
        if (site)
            guarded([&] { L_SiteClick(); });
        if (watched == ui.L_Msg && msgClickAttached_)
            guarded([&] { L_MsgClick(); });
    }
    return false;
}

void TForm1::FormCreate() {
    ui.ButtonVCP->setIcon(QIcon(usbGlyph(1)));
    try {
        std::vector<std::string> ports;
        EnumComPorts(ports);
        for (const auto& p : ports)
            ui.ComboBox1->addItem(QString::fromStdString(p));
        ui.ComboBox1->setCurrentIndex(ports.empty() ? -1 : 0);
    } catch (const EComPort&) {
        ui.ComboBox1->setCurrentIndex(-1);
    }
    VCP.CustomBaudRate = kBoxBaudRate;
    setWindowTitle(QString::asprintf("VekTool v%d.%d.%c", kOwnVersion.major, kOwnVersion.minor,
                                     char(kOwnVersion.letter)));
    for (int seconds : kPingChoices)
        ui.CB_PING->addItem(QString::number(seconds));
    for (int hundreds : kBaudChoicesInHundreds) {
        ui.CB_A232->addItem(QString::number(hundreds * 100));
        ui.CB_B232->addItem(QString::number(hundreds * 100));
    }
    ui.CB_PING->setCurrentIndex(-1);
    ui.CB_A232->setCurrentIndex(-1);
    ui.CB_B232->setCurrentIndex(-1);
    Timer4.start();
    ui.L_Msg->setText(QString());
    deleteOldCopies();
    Timer5.start();
}

void TForm1::deleteOldCopies() {
    const QDir dir(options_.executableDir);
    for (const char* name : kOldCopies)
        QFile::remove(dir.filePath(QString::fromUtf8(name)));
}

void TForm1::Timer5Timer() {
    Timer5.stop();
    Button1Click();
}

void TForm1::Button1Click() {
    for (const char* name :
         {"ED_ACP", "ED_ACN", "ED_VMX", "ED_TVMX", "ED_VCH", "ED_TVCH", "ED_RPX", "ED_TRPX",
          "ED_VBGL", "ED_TBGL", "ED_RBGL", "ED_TOSC", "ED_XOSC", "ED_VEBK", "ED_TEBK", "ED_REBK"})
        findChild<QLineEdit*>(name)->clear();
    for (const char* name :
         {"UD_VMX", "UD_TVMX", "UD_VCH", "UD_TVCH", "UD_RPX", "UD_TRPX", "UD_ACP", "UD_ACN",
          "UD_VBGL", "UD_TBGL", "UD_RBGL", "UD_TOSC", "UD_XOSC", "UD_VEBK", "UD_REBK", "UD_TEBK"}) {
        QWidget* spin = findChild<QWidget*>(name);
        spin->move(spin->x(), spin->y() - 3);
    }
}

void TForm1::ComboBox1DropDown() {
    std::vector<std::string> ports;
    try {
        EnumComPorts(ports);
    } catch (const EComPort&) {
        return;
    }
    ui.ComboBox1->clear();
    for (const auto& p : ports)
        ui.ComboBox1->addItem(QString::fromStdString(p));
    ui.ComboBox1->setCurrentIndex(ports.empty() ? -1 : 0);
}

void TForm1::ButtonVCPClick() {
    if (ui.ComboBox1->currentIndex() < 0) {
        allowAllUp_ = true;
        ui.ButtonVCP->setChecked(false);
        return;
    }
    VCP.Port = ui.ComboBox1->currentText().toStdString();
    processEvents();
    if (VCP.Connected()) {
        VCP.Close();
        ButtonVCPState(false);
        ui.ComboBox1->setEnabled(true);
        return;
    }
    try {
        VCP.Open();
    } catch (const std::exception& e) {
        const auto* port = dynamic_cast<const EComPort*>(&e);
        std::cerr << "vektool: cannot open " << VCP.Port << ": " << e.what();
        if (port && port->SystemCode() > 0) {
            std::cerr << " (" << std::strerror(port->SystemCode());
            if (const char* reason = openFailureReason(port->SystemCode()))
                std::cerr << "; " << reason;
            std::cerr << ")";
        }
        std::cerr << std::endl;
        allowAllUp_ = true;
        ui.ButtonVCP->setChecked(false);
        return;
    }
    VCP.ClearBuffer(true, true);
    ButtonVCPState(true);
    ui.ComboBox1->setEnabled(false);
}

void TForm1::ButtonVCPState(bool open) {
    ui.ButtonVCP->setIcon(QIcon());
    processEvents();
    if (open) {
        allowAllUp_ = false;
        ui.ButtonVCP->setChecked(true);
        deviceInfo.identified = false;
        clearLog();
        ui.CB_PING->setCurrentIndex(-1);
        ui.CB_A232->setCurrentIndex(-1);
        ui.CB_B232->setCurrentIndex(-1);
        ui.B_RemConfig->setEnabled(false);
        for (const char* name :
             {"ED_ACP",        "CB_EV_ACP",     "CB_BZ_ACP",    "ED_ACN",        "CB_EV_ACN",
              "CB_BZ_ACN",     "ED_VMX",        "ED_TVMX",      "CB_EV_VMX_IN",  "CB_EV_VMX_OUT",
              "CB_BZ_VMX_IN",  "CB_BZ_VMX_OUT", "CB_BZ_VMX_WH", "ED_VCH",        "ED_TVCH",
              "CB_EV_VCH_IN",  "CB_EV_VCH_OUT", "CB_BZ_VCH_IN", "CB_BZ_VCH_OUT", "CB_BZ_VCH_WH",
              "ED_RPX",        "ED_TRPX",       "CB_EV_RPX_IN", "CB_EV_RPX_OUT", "CB_BZ_RPX_IN",
              "CB_BZ_RPX_OUT", "CB_BZ_RPX_WH",  "ED_VBGL",      "ED_TBGL",       "ED_RBGL",
              "CB_EV_BGL_IN",  "CB_EV_BGL_OUT", "CB_BZ_BGL_IN", "CB_BZ_BGL_OUT", "CB_BZ_BGL_WH",
              "ED_TOSC",       "ED_XOSC",       "CB_EV_OSC_IN", "CB_EV_OSC_OUT", "CB_BZ_OSC_IN",
              "CB_BZ_OSC_OUT", "CB_BZ_OSC_WH"}) {
            if (auto* edit = findChild<QLineEdit*>(name))
                edit->clear();
            else
                findChild<QCheckBox*>(name)->setChecked(false);
        }
        addLog(QStringLiteral("Conexão aberta..."));
        ui.ButtonVCP->setIcon(QIcon(usbGlyph(0)));
    } else {
        allowAllUp_ = true;
        ui.ButtonVCP->setChecked(false);
        addLog(QStringLiteral("Conexão fechada..."));
        ui.ButtonVCP->setIcon(QIcon(usbGlyph(1)));
        ui.B_SetConfig->setEnabled(false);
        ui.B_RemConfig->setEnabled(true);
    }
    processEvents();
}

void TForm1::clearLog() {
    ui.Log->clear();
    logFresh_ = true;
}

void TForm1::addLog(const QString& line, bool red) {
    QTextCursor cursor(ui.Log->document());
    cursor.movePosition(QTextCursor::End);
    QTextCharFormat format;
    format.setForeground(red ? QColor(Qt::red) : QColor(Qt::black));
    QString text = line;
    text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    // Every line is a paragraph of its own; only the first line of a cleared log fills the
    // paragraph an empty document already has.
    if (!logFresh_ || !ui.Log->document()->isEmpty())
        cursor.insertBlock();
    logFresh_ = false;
    const QStringList parts = text.split(QLatin1Char('\n'));
    for (int i = 0; i < parts.size(); ++i) {
        if (i > 0)
            cursor.insertBlock();
        cursor.insertText(parts[i], format);
    }
}

QStringList TForm1::logLines() const {
    QStringList lines;
    for (QTextBlock b = ui.Log->document()->begin(); b.isValid(); b = b.next())
        lines << b.text();
    if (lines.size() == 1 && lines[0].isEmpty())
        lines.clear();
    return lines;
}

void TForm1::LogChange() {
    QTextCursor cursor = ui.Log->textCursor();
    cursor.movePosition(QTextCursor::End);
    ui.Log->setTextCursor(cursor);
    ui.Log->ensureCursorVisible();
}

void TForm1::L_SiteClick() {
    options_.openUrl(ui.L_Site->text());
}

void TForm1::L_SiteMouseEnter() {
    QApplication::setOverrideCursor(Qt::PointingHandCursor);
}

void TForm1::L_SiteMouseLeave() {
    while (QApplication::overrideCursor())
        QApplication::restoreOverrideCursor();
}

}  // namespace vek
