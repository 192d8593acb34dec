// The window right after start, and opening and closing the connection.
#include <gtest/gtest.h>

#include <QTest>
#include <QTextBlock>
#include <QTextDocument>

#include <QComboBox>
#include <QFile>
#include <QTemporaryDir>

#include "WindowHarness.h"

namespace vek::testing {
namespace {

using namespace std::chrono_literals;

TEST(StartUp, WindowShowsItsDesignedStateAndClearsThePanelOnce) {
    Window w;
    TForm1& f = *w.form;
    EXPECT_EQ(f.windowTitle(), "VekTool v2.36.D");
    EXPECT_EQ(f.size(), QSize(557, 742));
    ASSERT_EQ(f.ui.CB_PING->count(), 10);
    EXPECT_EQ(f.ui.CB_PING->itemText(0), "5");
    EXPECT_EQ(f.ui.CB_PING->itemText(9), "300");
    for (QComboBox* rates : {f.ui.CB_A232, f.ui.CB_B232}) {
        ASSERT_EQ(rates->count(), 4);
        EXPECT_EQ(rates->itemText(0), "9600");
        EXPECT_EQ(rates->itemText(3), "115200");
        EXPECT_EQ(rates->currentIndex(), -1);
    }
    EXPECT_EQ(f.ui.CB_PING->currentIndex(), -1);
    EXPECT_TRUE(f.ui.L_Msg->text().isEmpty());
    EXPECT_FALSE(f.ui.B_SetConfig->isEnabled());
    EXPECT_FALSE(f.ui.CB_A232->isEnabled());
    EXPECT_TRUE(f.ui.B_RemConfig->isEnabled());
    EXPECT_TRUE(f.Timer4.isActive());
    EXPECT_EQ(f.VCP.CustomBaudRate, 3686400);

    QWidget* upDown = f.findChild<QWidget*>("UD_VMX");
    const int designedTop = upDown->y();
    ASSERT_TRUE(waitUntil([&] { return !f.Timer5.isActive(); }, 2s));
    for (const char* name : {"ED_VMX", "ED_RBGL", "ED_VEBK", "ED_REBK", "ED_ACN"})
        EXPECT_TRUE(w.edit(name)->text().isEmpty()) << name;
    EXPECT_EQ(upDown->y(), designedTop - 3);
    spin(100ms);
    EXPECT_EQ(upDown->y(), designedTop - 3) << "the start-up fix-up runs once";
}

TEST(StartUp, DeletesTheFourOldCopiesAndNeverTheRunningOne) {
    QTemporaryDir dir;
    const QStringList old{"VekTool v2.35.A.exe", "VekTool v2.36.B.exe", "VekTool v2.36.C.exe",
                          "VekTool v2.36.A.exe"};
    for (const QString& name : old + QStringList{"VekTool v2.36.D.exe", "vektool"}) {
        QFile file(dir.filePath(name));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    }
    TForm1Options options;
    options.executableDir = dir.path();
    Window w(options);
    for (const QString& name : old)
        EXPECT_FALSE(QFile::exists(dir.filePath(name))) << name.toStdString();
    EXPECT_TRUE(QFile::exists(dir.filePath("VekTool v2.36.D.exe")));
    EXPECT_TRUE(QFile::exists(dir.filePath("vektool")));
}

TEST(Connection, OpeningClearsTheLogAndThePanelButTheEngineBrakeGroup) {
    PtyPeer box;
    Window w;
    TForm1& f = *w.form;
    ASSERT_TRUE(waitUntil([&] { return !f.Timer5.isActive(); }));
    f.B_SetDefaultsClick();
    w.edit("ED_VEBK")->setText("40");
    w.check("CB_EV_EBK_IN")->setChecked(true);
    f.addLog("old line");

    w.connectTo(box.slavePath());
    ASSERT_TRUE(f.VCP.Connected());
    EXPECT_EQ(f.logLines(), QStringList{"Conexão aberta..."});
    EXPECT_TRUE(w.edit("ED_VMX")->text().isEmpty());
    EXPECT_TRUE(w.edit("ED_TOSC")->text().isEmpty());
    EXPECT_FALSE(w.check("CB_BZ_VMX_IN")->isChecked());
    EXPECT_FALSE(w.check("CB_EV_ACP")->isChecked());
    EXPECT_EQ(f.ui.CB_PING->currentIndex(), -1);
    EXPECT_EQ(w.edit("ED_VEBK")->text(), "40");
    EXPECT_TRUE(w.check("CB_EV_EBK_IN")->isChecked());
    EXPECT_FALSE(f.ui.ComboBox1->isEnabled());
    EXPECT_FALSE(f.ui.B_RemConfig->isEnabled());
    EXPECT_TRUE(f.ui.ButtonVCP->isChecked());
    EXPECT_FALSE(f.ui.ButtonVCP->icon().isNull());

    f.addLog("a line of this connection");
    w.pressConnection();
    EXPECT_FALSE(f.VCP.Connected());
    EXPECT_EQ(f.logLines(), (QStringList{"Conexão aberta...", "a line of this connection",
                                         "Conexão fechada..."}));
    EXPECT_FALSE(f.ui.ButtonVCP->isChecked());
    EXPECT_FALSE(f.ui.B_SetConfig->isEnabled());
    EXPECT_TRUE(f.ui.B_RemConfig->isEnabled());
    EXPECT_TRUE(f.ui.ComboBox1->isEnabled());
}

TEST(Connection, APressThatCannotOpenLeavesTheButtonUpAndLogsNothing) {
    Window w;
    TForm1& f = *w.form;
    f.ui.ComboBox1->clear();
    w.pressConnection();
    EXPECT_FALSE(f.ui.ButtonVCP->isChecked());
    EXPECT_FALSE(f.VCP.Connected());

    w.connectTo("/dev/vektool-no-such-port");
    EXPECT_FALSE(f.ui.ButtonVCP->isChecked());
    EXPECT_FALSE(f.VCP.Connected());
    EXPECT_TRUE(f.logLines().isEmpty());
    EXPECT_TRUE(f.ui.ComboBox1->isEnabled());
    EXPECT_TRUE(w.messages.empty());
}

TEST(Connection, APressWhileOpenKeepsTheButtonDownUntilClosed) {
    PtyPeer box;
    Window w;
    w.connectTo(box.slavePath());
    ASSERT_TRUE(w.form->VCP.Connected());
    // A second port of the same name cannot be taken while this one holds it.
    TComPort other;
    other.Port = box.slavePath();
    EXPECT_THROW(other.Open(), std::exception);
    w.pressConnection();
    EXPECT_FALSE(w.form->VCP.Connected());
    EXPECT_FALSE(w.form->ui.ButtonVCP->isChecked());
}

// Each way of opening the list reads the ports again, so that a box plugged in meanwhile shows
// up, and selects the first.
TEST(Connection, OpeningThePortListWithMouseOrKeyboardRefreshesIt) {
    PtyPeer a, b, c;
    setenv("VEKTOOL_PORTS", a.slavePath().c_str(), 1);
    Window w;
    QComboBox& list = *w.form->ui.ComboBox1;
    const auto listed = [&](const PtyPeer& peer) {
        return list.findText(QString::fromStdString(peer.slavePath())) >= 0;
    };
    ASSERT_TRUE(listed(a));
    ASSERT_FALSE(listed(b));

    std::string ports = a.slavePath() + ":" + b.slavePath();
    setenv("VEKTOOL_PORTS", ports.c_str(), 1);
    QTest::mouseClick(&list, Qt::LeftButton);
    list.hidePopup();
    EXPECT_TRUE(listed(b));

    ports += ":" + c.slavePath();
    setenv("VEKTOOL_PORTS", ports.c_str(), 1);
    list.setCurrentIndex(1);
    QTest::keyClick(&list, Qt::Key_Down, Qt::AltModifier);
    list.hidePopup();
    unsetenv("VEKTOOL_PORTS");
    EXPECT_TRUE(listed(c));
    EXPECT_EQ(list.currentIndex(), 0);
}

TEST(Log, TypingMovesTheCaretBackToTheEnd) {
    Window w;
    TForm1& f = *w.form;
    f.addLog("first");
    f.addLog("second");
    QTextCursor cursor = f.ui.Log->textCursor();
    cursor.setPosition(0);
    f.ui.Log->setTextCursor(cursor);
    f.ui.Log->insertPlainText("x");
    EXPECT_EQ(f.ui.Log->textCursor().position(), f.ui.Log->toPlainText().size());
}

TEST(Log, RedWarningsAndEmptyLinesKeepTheirPlace) {
    Window w;
    TForm1& f = *w.form;
    f.addLog("Vek v3.0.2.30\r\nId: 00000001 00000002 00000003");
    f.addLog("warning", true);
    f.addLog(QString());
    f.addLog("after");
    EXPECT_EQ(f.logLines(), (QStringList{"Vek v3.0.2.30", "Id: 00000001 00000002 00000003",
                                         "warning", "", "after"}));
    const QTextBlock warning = f.ui.Log->document()->findBlockByNumber(2);
    EXPECT_EQ(warning.begin().fragment().charFormat().foreground().color(), QColor(Qt::red));
}

TEST(SiteLabel, ClickOpensTheSiteAddress) {
    Window w;
    w.form->L_SiteClick();
    ASSERT_EQ(w.opened.size(), 1u);
    EXPECT_EQ(w.opened[0], "www.norvane.com.br/vek");
}

}  // namespace
}  // namespace vek::testing
