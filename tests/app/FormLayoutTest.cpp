// The main window's form as designed: names, kinds, ranges, captions, layout and tab order; the
// spin control's behaviour; the glyphs and the application icon.
#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QSignalSpy>
#include <QStyleOptionGroupBox>
#include <QTest>
#include <QTextEdit>
#include <QToolButton>
#include <climits>
#include <memory>

#include "app/FormStyle.h"
#include "app/Glyphs.h"
#include "app/TypingLimit.h"
#include "app/UpDown.h"
#include "ui_form1.h"

namespace vek {
namespace {

// gtest_main owns main(): the application object lives for the whole run as a test environment.
class QtEnvironment : public ::testing::Environment {
  public:
    void SetUp() override { app_ = std::make_unique<QApplication>(argc_, argv_); }
    void TearDown() override { app_.reset(); }

  private:
    int argc_ = 1;
    char name_[11] = "form_tests";
    char* argv_[2] = {name_, nullptr};
    std::unique_ptr<QApplication> app_;
};
[[maybe_unused]] const auto* const kQtEnvironment =
    ::testing::AddGlobalTestEnvironment(new QtEnvironment);

constexpr QSize kClientSize(557, 742);

class FormTest : public ::testing::Test {
  protected:
    void SetUp() override {
        window = std::make_unique<QWidget>();
        buildForm(ui, *window);
    }

    template <typename T>
    T* find(const char* name) const {
        return window->findChild<T*>(QString::fromLatin1(name));
    }
    QRect inWindow(const QWidget* w) const {
        return QRect(w->mapTo(window.get(), QPoint(0, 0)), w->size());
    }

    std::unique_ptr<QWidget> window;
    Ui::Form1 ui;
};

// ---- window and names ----

TEST_F(FormTest, WindowIsFixedAtTheClientSize) {
    EXPECT_EQ(window->size(), kClientSize);
    EXPECT_EQ(window->minimumSize(), kClientSize);
    EXPECT_EQ(window->maximumSize(), kClientSize);
    EXPECT_EQ(window->objectName(), "Form1");
}

struct NamedKind {
    const char* name;
    const char* kind;
};

// Everything that is not one of the value rows or the event/buzzer check boxes checked below.
constexpr NamedKind kControls[] = {
    {"GB_Header", "QGroupBox"},
    {"L_Msg", "QLabel"},
    {"L_Site", "QLabel"},
    {"Log", "QTextEdit"},
    {"ComboBox1", "QComboBox"},
    {"ButtonVCP", "QToolButton"},
    {"ProgressBar1", "QProgressBar"},
    {"GB_Config", "QGroupBox"},
    {"CB_PING", "QComboBox"},
    {"CB_A232", "QComboBox"},
    {"CB_B232", "QComboBox"},
    {"L_PING", "QLabel"},
    {"L_PING_Sub", "QLabel"},
    {"L_A232", "QLabel"},
    {"L_A232_Sub", "QLabel"},
    {"L_B232", "QLabel"},
    {"L_B232_Sub", "QLabel"},
    {"B_SetConfig", "QPushButton"},
    {"B_SetTrevalo", "QPushButton"},
    {"B_SetDefaults", "QPushButton"},
    {"B_RemConfig", "QPushButton"},
    {"GB_VMX", "QGroupBox"},
    {"GB_VCH", "QGroupBox"},
    {"GB_RPX", "QGroupBox"},
    {"GB_BGL", "QGroupBox"},
    {"GB_OSC", "QGroupBox"},
    {"GB_ACP", "QGroupBox"},
    {"GB_ACN", "QGroupBox"},
    {"CB_EV_ACP", "QCheckBox"},
    {"CB_BZ_ACP", "QCheckBox"},
    {"CB_EV_ACN", "QCheckBox"},
    {"CB_BZ_ACN", "QCheckBox"},
    {"GB_EBK", "QGroupBox"},
    {"B_FwTx", "QPushButton"},
    {"B_FwJump", "QPushButton"},
    {"B_GetConfig", "QPushButton"},
    {"Button1", "QPushButton"},
    {"CppWebBrowser1_Frame", "QWidget"},
};

TEST_F(FormTest, EveryControlExistsWithItsKind) {
    for (const auto& [name, kind] : kControls) {
        const QObject* control = find<QObject>(name);
        ASSERT_NE(control, nullptr) << name;
        EXPECT_TRUE(control->inherits(kind))
            << name << " is a " << control->metaObject()->className();
    }
}

// ---- value rows ----

struct ValueRow {
    const char* code;  // ED_<code>, UD_<code>
    const char* group;
    int maxLength;
    int minimum, maximum, initial;
    bool arrowKeys;
};

constexpr ValueRow kValueRows[] = {
    {"VMX", "GB_VMX", 3, 1, 250, 120, false},      {"TVMX", "GB_VMX", 2, 0, 20, 5, true},
    {"VCH", "GB_VCH", 3, 1, 250, 90, false},       {"TVCH", "GB_VCH", 2, 0, 20, 5, true},
    {"RPX", "GB_RPX", 4, 1000, 9999, 4500, false}, {"TRPX", "GB_RPX", 2, 0, 20, 5, true},
    {"VBGL", "GB_BGL", 3, 1, 250, 40, false},      {"RBGL", "GB_BGL", 4, 300, 1500, 900, true},
    {"TBGL", "GB_BGL", 2, 0, 20, 5, true},         {"TOSC", "GB_OSC", 2, 1, 45, 10, false},
    {"XOSC", "GB_OSC", 2, 0, 20, 7, true},         {"ACP", "GB_ACP", 3, 1, 255, 11, false},
    {"ACN", "GB_ACN", 3, 1, 255, 11, false},       {"VEBK", "GB_EBK", 3, 1, 250, 40, false},
    {"TEBK", "GB_EBK", 2, 0, 20, 5, true},         {"REBK", "GB_EBK", 4, 300, 1500, 1200, true},
};

TEST_F(FormTest, ValueRowsHaveTheirLengthsRangesAndInitialPositions) {
    for (const ValueRow& row : kValueRows) {
        SCOPED_TRACE(row.code);
        auto* edit = find<QLineEdit>(qPrintable(QStringLiteral("ED_%1").arg(row.code)));
        auto* spin = find<UpDown>(qPrintable(QStringLiteral("UD_%1").arg(row.code)));
        ASSERT_NE(edit, nullptr);
        ASSERT_NE(spin, nullptr);
        EXPECT_EQ(edit->parent()->objectName(), row.group);
        EXPECT_EQ(typingLimitOf(*edit), row.maxLength);
        EXPECT_EQ(edit->text(), QString::number(row.initial));
        EXPECT_EQ(spin->minimum(), row.minimum);
        EXPECT_EQ(spin->maximum(), row.maximum);
        EXPECT_EQ(spin->position(), row.initial);
        EXPECT_EQ(spin->arrowKeys(), row.arrowKeys);
        EXPECT_EQ(spin->associate(), edit);
    }
}

TEST_F(FormTest, SpinControlsSitRightOfTheirEditBoxesOnceMovedUpAtStartUp) {
    for (const ValueRow& row : kValueRows) {
        SCOPED_TRACE(row.code);
        auto* edit = find<QLineEdit>(qPrintable(QStringLiteral("ED_%1").arg(row.code)));
        auto* spin = find<UpDown>(qPrintable(QStringLiteral("UD_%1").arg(row.code)));
        spin->move(spin->x(), spin->y() - 3);  // what the start-up fix-up does
        EXPECT_EQ(spin->x(), edit->x() + edit->width());
        EXPECT_EQ(spin->y(), edit->y());
        EXPECT_EQ(spin->height(), edit->height());
        EXPECT_LE(spin->width(), 18);
    }
}

// ---- event and buzzer boxes ----

struct AlertBoxes {
    const char* code;
    const char* eventBox;
    const char* buzzerBox;
};

// VMX and VCH name their boxes by kind; the other three by a suffix that reads the other way round.
constexpr AlertBoxes kAlertBoxes[] = {
    {"VMX", "GB_VMX_EV", "GB_VMX_BZ"},  {"VCH", "GB_VCH_EV", "GB_VCH_BZ"},
    {"RPX", "GB_RPX_OUT", "GB_RPX_IN"}, {"OSC", "GB_OSC_OUT", "GB_OSC_IN"},
    {"BGL", "GB_BGL_OUT", "GB_BGL_IN"}, {"EBK", "GB_EBK_EV", "GB_EBK_BZ"},
};

TEST_F(FormTest, AlertCheckBoxesLieInTheirBoxesWithTheirCaptions) {
    for (const auto& [code, eventBox, buzzerBox] : kAlertBoxes) {
        SCOPED_TRACE(code);
        auto* ev = find<QGroupBox>(eventBox);
        auto* bz = find<QGroupBox>(buzzerBox);
        ASSERT_NE(ev, nullptr);
        ASSERT_NE(bz, nullptr);
        EXPECT_EQ(ev->title(), " REGISTRAR EVENTO ");
        EXPECT_EQ(bz->title(), " ALERTA BUZZER ");
        const bool engineBrake = QLatin1String(code) == QLatin1String("EBK");
        struct Box {
            QGroupBox* parent;
            const char* kind;
            const char* suffix;
            const char* caption;
        };
        std::vector<Box> boxes{
            {ev, "EV", "IN", engineBrake ? " ENTRADA " : "Entrada"},
            {ev, "EV", "OUT", engineBrake ? " SAÍDA " : "Saída"},
            {bz, "BZ", "IN", engineBrake ? " ENTRADA " : "Entrada"},
            {bz, "BZ", "OUT", engineBrake ? " SAÍDA " : "Saída"},
        };
        if (!engineBrake)
            boxes.push_back({bz, "BZ", "WH", "Durante"});
        for (const Box& b : boxes) {
            const QString name = QStringLiteral("CB_%1_%2_%3").arg(b.kind, code, b.suffix);
            auto* box = find<QCheckBox>(qPrintable(name));
            ASSERT_NE(box, nullptr) << qPrintable(name);
            EXPECT_EQ(box->parent(), b.parent) << qPrintable(name);
            EXPECT_EQ(box->text(), QString::fromUtf8(b.caption)) << qPrintable(name);
            EXPECT_FALSE(box->isChecked()) << qPrintable(name);
        }
        EXPECT_EQ(ev->findChildren<QCheckBox*>().size(), 2);
        EXPECT_EQ(bz->findChildren<QCheckBox*>().size(), engineBrake ? 2 : 3);
    }
}

// ---- captions ----

struct Caption {
    const char* name;
    const char* text;
};

constexpr Caption kCaptions[] = {
    {"GB_Config", " CONFIGURAÇÕES "},
    {"GB_VMX", " VELOCIDADE "},
    {"GB_VCH", " VELOCIDADE NA CHUVA "},
    {"GB_RPX", " ROTAÇÃO DO MOTOR "},
    {"GB_BGL", " CONDUÇÃO DESENGRENADA (banguela) "},
    {"GB_OSC", " OCIOSIDADE DO MOTOR (funcionando parado) "},
    {"GB_ACP", " ACELERAÇÃO (aceleração brusca) "},
    {"GB_ACN", " DESACELERAÇÃO (frenagem brusca) "},
    {"GB_EBK", " CONDUÇÃO EM FREIO MOTOR "},
    {"L_Msg", ""},
    {"L_Site", "www.norvane.com.br/vek"},
    {"L_PING", "PING [s]:"},
    {"L_PING_Sub", "envio #VEK"},
    {"L_A232", "RS232-A:"},
    {"L_A232_Sub", "rastreador"},
    {"L_B232", "RS232-B:"},
    {"L_B232_Sub", "periférico"},
    {"L_VMX", "Velocidade máxima permitida [km/h]:"},
    {"L_TVMX", "Tempo validação [segundos]:"},
    {"L_VCH", "Velocidade máxima permitida [km/h]:"},
    {"L_TVCH", "Tempo validação [segundos]:"},
    {"L_RPX", "Rotação máxima permitida [rpm]:"},
    {"L_TRPX", "Tempo validação [segundos]:"},
    {"L_VBGL", "Velocidade mínima validação [km/h]:"},
    {"L_RBGL", "Rotação máxima validação [rpm]:"},
    {"L_TBGL", "Tempo validação [segundos]:"},
    {"L_TOSC", "Tempo máximo permitido para\nociosidade do motor [minutos]:"},
    {"L_XOSC", "Tempo de exceção para\nmanobras rápidas [segundos]:"},
    {"L_ACP", "Aceleração máxima permitida [km/h.s]:"},
    {"L_ACN", "Desaceleração máxima permitida [km/h.s]:"},
    {"CB_EV_ACP", "REGISTRAR EVENTO"},
    {"CB_BZ_ACP", "ALERTA BUZZER"},
    {"CB_EV_ACN", "REGISTRAR EVENTO"},
    {"CB_BZ_ACN", "ALERTA BUZZER"},
    {"B_SetConfig", "CONFIGURAR"},
    {"B_SetTrevalo", ""},
    {"B_SetDefaults", "preencher valores padrão"},
    {"B_RemConfig", "listar comandos de configuração remota"},
    {"B_FwTx", "FwUpload"},
    {"B_FwJump", "FwJump"},
    {"B_GetConfig", "GetConfig"},
    {"Button1", "Button1"},
};

QString captionOf(const QObject* control) {
    if (auto* box = qobject_cast<const QGroupBox*>(control))
        return box->title();
    if (auto* label = qobject_cast<const QLabel*>(control))
        return label->text();
    return qobject_cast<const QAbstractButton*>(control)->text();
}

TEST_F(FormTest, CaptionsAreTheSystemsOwn) {
    for (const auto& [name, text] : kCaptions) {
        const QObject* control = find<QObject>(name);
        ASSERT_NE(control, nullptr) << name;
        EXPECT_EQ(captionOf(control), QString::fromUtf8(text)) << name;
    }
}

// ---- states and properties ----

TEST_F(FormTest, ActionButtonsAndListsStartAsDesigned) {
    EXPECT_FALSE(ui.B_SetConfig->isEnabled());
    EXPECT_FALSE(ui.CB_A232->isEnabled());
    EXPECT_TRUE(ui.CB_PING->isEnabled());
    EXPECT_TRUE(ui.CB_B232->isEnabled());
    EXPECT_TRUE(ui.B_RemConfig->isEnabled());
    EXPECT_TRUE(ui.B_SetDefaults->isEnabled());
    EXPECT_TRUE(ui.B_SetTrevalo->isEnabled());
    EXPECT_EQ(ui.B_SetConfig->size(), QSize(140, 48));
    for (QPushButton* flat : {ui.B_SetTrevalo, ui.B_SetDefaults, ui.B_RemConfig})
        EXPECT_TRUE(flat->isFlat()) << qPrintable(flat->objectName());
    for (QComboBox* list : {ui.CB_PING, ui.CB_A232, ui.CB_B232, ui.ComboBox1}) {
        EXPECT_FALSE(list->isEditable()) << qPrintable(list->objectName());
        EXPECT_EQ(list->count(), 0) << qPrintable(list->objectName());
        EXPECT_EQ(list->currentIndex(), -1) << qPrintable(list->objectName());
    }
}

TEST_F(FormTest, HeaderControlsHaveTheirShapes) {
    EXPECT_EQ(ui.GB_Header->geometry(), QRect(-1, -6, 560, 152));
    EXPECT_EQ(ui.GB_Config->geometry(), QRect(5, 147, 548, 592));
    EXPECT_EQ(ui.Log->size(), QSize(460, 106));
    EXPECT_EQ(ui.Log->verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOn);
    EXPECT_FALSE(ui.Log->isReadOnly());
    EXPECT_EQ(ui.ComboBox1->width(), 80);
    EXPECT_EQ(ui.ComboBox1->y(), ui.Log->y());
    EXPECT_TRUE(ui.ButtonVCP->isCheckable());
    EXPECT_FALSE(ui.ButtonVCP->isChecked());
    EXPECT_EQ(ui.ButtonVCP->size(), QSize(80, 80));
    EXPECT_EQ(ui.ButtonVCP->iconSize(), QSize(51, 51));
    EXPECT_TRUE(ui.ButtonVCP->text().isEmpty());
    EXPECT_EQ(ui.ProgressBar1->height(), 7);
    EXPECT_EQ(ui.ProgressBar1->minimum(), 0);
    EXPECT_EQ(ui.ProgressBar1->maximum(), 100);
    EXPECT_EQ(ui.ProgressBar1->value(), 0);
    EXPECT_FALSE(ui.ProgressBar1->isTextVisible());
}

TEST_F(FormTest, FontsAreTheDesignedSizesAndStyles) {
    EXPECT_EQ(QFontInfo(ui.CB_PING->font()).pixelSize(), 11);
    EXPECT_EQ(QFontInfo(ui.L_VMX->font()).pixelSize(), 11);
    const QFontInfo log(ui.Log->font());
    EXPECT_EQ(log.pixelSize(), 12);
    EXPECT_TRUE(log.bold());
    EXPECT_TRUE(log.fixedPitch()) << qPrintable(log.family());
    for (QLabel* link : {ui.L_Msg, ui.L_Site}) {
        EXPECT_EQ(QFontInfo(link->font()).pixelSize(), 11) << qPrintable(link->objectName());
        EXPECT_TRUE(link->font().underline()) << qPrintable(link->objectName());
        EXPECT_EQ(link->palette().color(QPalette::WindowText), QColor(128, 128, 128));
    }
    const QFontInfo config(ui.GB_Config->font());
    EXPECT_EQ(config.pixelSize(), 9);
    EXPECT_TRUE(config.bold());
    // The configuration group's caption style is its own, not its children's.
    EXPECT_FALSE(QFontInfo(ui.L_PING->font()).bold());
    EXPECT_EQ(QFontInfo(ui.B_RemConfig->font()).pixelSize(), 12);
}

// The version check restyles L_Msg at run time; the form's style must let it.
TEST_F(FormTest, StatusLabelTakesRunTimeStyleChanges) {
    QFont plain = ui.L_Msg->font();
    plain.setUnderline(false);
    ui.L_Msg->setFont(plain);
    QPalette blue = ui.L_Msg->palette();
    blue.setColor(QPalette::WindowText, Qt::blue);
    ui.L_Msg->setPalette(blue);
    window->show();
    QCoreApplication::processEvents();
    EXPECT_FALSE(ui.L_Msg->font().underline());
    EXPECT_EQ(QFontInfo(ui.L_Msg->font()).pixelSize(), 11);
    EXPECT_EQ(ui.L_Msg->palette().color(QPalette::WindowText), QColor(Qt::blue));
}

// ---- layout ----

TEST_F(FormTest, OffScreenControlsLieRightOfTheClientArea) {
    for (const char* name :
         {"B_FwTx", "B_FwJump", "B_GetConfig", "Button1", "CppWebBrowser1_Frame", "GB_EBK"}) {
        const auto* w = find<QWidget>(name);
        EXPECT_GE(w->x(), 584) << name;
        EXPECT_EQ(w->parentWidget(), window.get()) << name;
    }
    EXPECT_EQ(ui.GB_EBK->x(), 602);
    EXPECT_EQ(find<QWidget>("CppWebBrowser1_Frame")->size(), QSize(209, 113));
}

// The visible panels: what the user sees, without clipping, overlaps or cut-off captions.
std::vector<QWidget*> visibleControls(QWidget* window) {
    std::vector<QWidget*> out;
    for (const char* panel : {"GB_Header", "GB_Config"})
        for (QWidget* w : window->findChild<QWidget*>(panel)->findChildren<QWidget*>())
            // The inner parts of compound widgets are theirs to arrange.
            if (!w->objectName().isEmpty() && !w->objectName().startsWith(QLatin1String("qt_")))
                out.push_back(w);
    return out;
}

QRect groupBoxContents(const QGroupBox* box) {
    QStyleOptionGroupBox option;
    option.initFrom(box);
    option.text = box->title();
    option.lineWidth = 1;
    option.subControls = QStyle::SC_GroupBoxFrame | QStyle::SC_GroupBoxLabel;
    return box->style()->subControlRect(QStyle::CC_GroupBox, &option, QStyle::SC_GroupBoxContents,
                                        box);
}

TEST_F(FormTest, VisibleControlsLieInsideTheClientAreaAndTheirParents) {
    const QRect client(QPoint(0, 0), kClientSize);
    for (QWidget* w : visibleControls(window.get())) {
        const QString name = w->objectName();
        EXPECT_TRUE(client.contains(inWindow(w))) << qPrintable(name);
        const QWidget* parent = w->parentWidget();
        const auto* box = qobject_cast<const QGroupBox*>(parent);
        // The header's frame reaches beyond the client area on purpose: only the client area
        // counts.
        // A pixel over the frame's line is not a clipping.
        const QRect room = box && parent != ui.GB_Header
                               ? groupBoxContents(box).adjusted(-1, -1, 1, 1)
                               : parent->rect();
        EXPECT_TRUE(room.contains(w->geometry()))
            << qPrintable(name) << " in " << qPrintable(parent->objectName());
    }
}

TEST_F(FormTest, SiblingsDoNotOverlap) {
    for (QWidget* parent : window->findChildren<QWidget*>()) {
        if (qobject_cast<UpDown*>(parent))
            continue;
        std::vector<QWidget*> children;
        for (QWidget* w : parent->findChildren<QWidget*>(Qt::FindDirectChildrenOnly))
            if (!w->objectName().startsWith(QLatin1String("qt_")) && !w->objectName().isEmpty())
                children.push_back(w);
        for (size_t i = 0; i < children.size(); ++i)
            for (size_t j = i + 1; j < children.size(); ++j)
                EXPECT_FALSE(children[i]->geometry().intersects(children[j]->geometry()))
                    << qPrintable(children[i]->objectName()) << " and "
                    << qPrintable(children[j]->objectName());
    }
}

TEST_F(FormTest, CaptionsFitTheirControls) {
    // Measured in another face, the widths below say nothing about the window as designed.
    const QString face = QFontInfo(window->font()).family();
    ASSERT_TRUE(designedFormFaces().contains(face))
        << "the form is measured in " << qPrintable(face)
        << ", none of the faces it is laid out for (" << qPrintable(designedFormFaces().join(", "))
        << "): install fonts-dejavu-extra";
    for (QWidget* w : visibleControls(window.get())) {
        const QString name = w->objectName();
        const QFontMetrics fm = w->fontMetrics();
        if (auto* label = qobject_cast<QLabel*>(w)) {
            const QStringList lines = label->text().split(QLatin1Char('\n'));
            for (const QString& line : lines)
                EXPECT_LE(fm.horizontalAdvance(line), w->width()) << qPrintable(name);
            EXPECT_LE(lines.size() * fm.lineSpacing(), w->height()) << qPrintable(name);
        } else if (auto* check = qobject_cast<QCheckBox*>(w)) {
            EXPECT_LE(check->sizeHint().width(), w->width()) << qPrintable(name);
            EXPECT_LE(check->sizeHint().height(), w->height()) << qPrintable(name);
        } else if (auto* button = qobject_cast<QPushButton*>(w)) {
            EXPECT_LE(fm.horizontalAdvance(button->text()) + 8, w->width()) << qPrintable(name);
        } else if (auto* box = qobject_cast<QGroupBox*>(w)) {
            // The style indents the title by a few pixels on each side.
            EXPECT_LE(fm.horizontalAdvance(box->title()) + 12, w->width())
                << qPrintable(name) << " " << qPrintable(box->title());
        }
    }
}

TEST_F(FormTest, ChoiceListsShowTheirWidestEntries) {
    ui.CB_PING->addItems({"5", "120", "300"});
    for (QComboBox* rates : {ui.CB_A232, ui.CB_B232})
        rates->addItems({"9600", "115200"});
    for (QComboBox* list : {ui.CB_PING, ui.CB_A232, ui.CB_B232})
        EXPECT_LE(list->sizeHint().width(), list->width()) << qPrintable(list->objectName());
}

// ---- tab order ----

QStringList tabStops(QWidget* window) {
    QStringList stops;
    for (QWidget* w = window->nextInFocusChain(); w != window; w = w->nextInFocusChain())
        if ((w->focusPolicy() & Qt::TabFocus) && !w->objectName().isEmpty() &&
            !w->objectName().startsWith(QLatin1String("qt_")))
            stops << w->objectName();
    return stops;
}

TEST_F(FormTest, TabOrderStartsWithTheOffScreenButtons) {
    const QStringList stops = tabStops(window.get());
    ASSERT_GE(stops.size(), 3);
    EXPECT_EQ(stops.mid(0, 3), QStringList({"B_FwTx", "B_FwJump", "B_GetConfig"}));
}

TEST_F(FormTest, TabOrderRunsPanelThenButton1ThenHeaderThenEngineBrake) {
    const QStringList stops = tabStops(window.get());
    const QStringList sections{"B_GetConfig", "ED_VMX",    "B_RemConfig", "Button1",
                               "Log",         "ButtonVCP", "ED_VEBK"};
    for (int i = 1; i < sections.size(); ++i)
        EXPECT_LT(stops.indexOf(sections[i - 1]), stops.indexOf(sections[i]))
            << qPrintable(sections[i - 1]) << " before " << qPrintable(sections[i]);
    EXPECT_EQ(stops.last(), "CB_BZ_EBK_OUT");
    // Every edit box and check box is reachable with the Tab key; spin controls are not stops.
    for (QWidget* w : window->findChildren<QWidget*>()) {
        if (qobject_cast<QLineEdit*>(w) || qobject_cast<QCheckBox*>(w)) {
            EXPECT_TRUE(stops.contains(w->objectName())) << qPrintable(w->objectName());
        } else if (qobject_cast<UpDown*>(w)) {
            EXPECT_FALSE(stops.contains(w->objectName())) << qPrintable(w->objectName());
        }
    }
}

// ---- the spin control ----

class UpDownTest : public ::testing::Test {
  protected:
    void SetUp() override {
        edit = new QLineEdit(&window);
        edit->setObjectName("ED_Value");
        spin = new UpDown(&window);
        window.show();
    }
    // Sets the range and the position before binding, as a form does.
    void configure(int minimum, int maximum, int position) {
        spin->setMinimum(minimum);
        spin->setMaximum(maximum);
        spin->setPosition(position);
        spin->setAssociate(QStringLiteral("ED_Value"));
    }
    QToolButton* arrow(Qt::ArrowType type) const {
        for (QToolButton* b : spin->findChildren<QToolButton*>())
            if (b->arrowType() == type)
                return b;
        return nullptr;
    }

    QWidget window;
    QLineEdit* edit;
    UpDown* spin;
};

struct StepCase {
    const char* meaning;
    int minimum, maximum, position;
    const char* typed;
    int steps;
    const char* shown;
    int newPosition;
};

const StepCase kStepCases[] = {
    {"up from the position when the box is empty", 0, 20, 5, "", 1, "6", 6},
    {"down from the position when the box is empty", 0, 20, 5, "", -1, "4", 4},
    {"from the number the user typed", 0, 20, 5, "12", 1, "13", 13},
    {"a typed number above the range is brought into it first", 0, 20, 5, "99", -1, "19", 19},
    {"a typed number below the range is brought into it first", 1, 250, 40, "-7", 1, "2", 2},
    {"no wrap-around at the maximum", 0, 20, 20, "20", 1, "20", 20},
    {"no wrap-around at the minimum", 0, 20, 0, "0", -1, "0", 0},
    {"text that is no number leaves the position to start from", 0, 20, 5, "x1", 1, "6", 6},
    {"plain decimal without a thousands separator", 1000, 9999, 4500, "1999", 1, "2000", 2000},
    {"the top of the int range does not overflow", INT_MIN, INT_MAX, INT_MAX, "", 1, "2147483647",
     INT_MAX},
    {"the bottom of the int range does not overflow", INT_MIN, INT_MAX, INT_MIN, "", -1,
     "-2147483648", INT_MIN},
};

TEST_F(UpDownTest, StepsWithinTheRange) {
    for (const StepCase& c : kStepCases) {
        SCOPED_TRACE(c.meaning);
        configure(c.minimum, c.maximum, c.position);
        edit->setText(QString::fromLatin1(c.typed));
        spin->stepBy(c.steps);
        EXPECT_EQ(edit->text(), QString::fromLatin1(c.shown));
        EXPECT_EQ(spin->position(), c.newPosition);
    }
}

TEST_F(UpDownTest, ArrowButtonsStepOnceAndTouchNothingButTheEditBox) {
    configure(0, 20, 5);
    QSignalSpy edited(edit, &QLineEdit::textChanged);
    ASSERT_NE(arrow(Qt::UpArrow), nullptr);
    ASSERT_NE(arrow(Qt::DownArrow), nullptr);
    QTest::mouseClick(arrow(Qt::UpArrow), Qt::LeftButton);
    EXPECT_EQ(edit->text(), "6");
    QTest::mouseClick(arrow(Qt::DownArrow), Qt::LeftButton);
    QTest::mouseClick(arrow(Qt::DownArrow), Qt::LeftButton);
    EXPECT_EQ(edit->text(), "4");
    EXPECT_EQ(edited.count(), 3);
    EXPECT_EQ(spin->focusPolicy(), Qt::NoFocus);
    EXPECT_EQ(arrow(Qt::UpArrow)->focusPolicy(), Qt::NoFocus);
}

TEST_F(UpDownTest, ArrowKeysStepOnlyWhenEnabled) {
    configure(0, 20, 5);
    spin->setArrowKeys(true);
    QTest::keyClick(edit, Qt::Key_Up);
    EXPECT_EQ(edit->text(), "6");
    QTest::keyClick(edit, Qt::Key_Down);
    QTest::keyClick(edit, Qt::Key_Down);
    EXPECT_EQ(edit->text(), "4");

    spin->setArrowKeys(false);
    QTest::keyClick(edit, Qt::Key_Up);
    EXPECT_EQ(edit->text(), "4");
    EXPECT_EQ(spin->position(), 4);
}

TEST_F(UpDownTest, EditBoxNamedBeforeItExistsIsFoundWhenNeeded) {
    auto* later = new QWidget(&window);
    auto* spinFirst = new UpDown(later);
    spinFirst->setAssociate(QStringLiteral("ED_Later"));
    EXPECT_EQ(spinFirst->associateName(), "ED_Later");
    auto* editLater = new QLineEdit(later);
    editLater->setObjectName("ED_Later");
    spinFirst->stepBy(1);
    EXPECT_EQ(spinFirst->associate(), editLater);
    EXPECT_EQ(editLater->text(), "1");
}

TEST_F(UpDownTest, RebindingReleasesTheFormerEditBox) {
    configure(0, 20, 5);
    auto* other = new QLineEdit(&window);
    other->setObjectName("ED_Other");
    spin->setAssociate(other);
    EXPECT_EQ(spin->associateName(), "ED_Other");
    edit->setText("5");
    QTest::keyClick(edit, Qt::Key_Up);
    EXPECT_EQ(edit->text(), "5");
    QTest::keyClick(other, Qt::Key_Up);
    EXPECT_EQ(other->text(), "6");
}

TEST_F(UpDownTest, PositionIsClampedAndShown) {
    configure(1, 45, 10);
    spin->setPosition(99);
    EXPECT_EQ(spin->position(), 45);
    EXPECT_EQ(edit->text(), "45");
    spin->setMinimum(50);  // a minimum above the maximum takes the maximum along
    EXPECT_EQ(spin->maximum(), 50);
    EXPECT_EQ(spin->position(), 50);
}

// ---- glyphs and icon ----

TEST(Glyphs, UsbGlyphsAreTheTwoImagesOfTheList) {
    const QImage open = usbGlyph(kUsbGlyphOpen).toImage();
    const QImage closed = usbGlyph(kUsbGlyphClosed).toImage();
    EXPECT_EQ(open.size(), QSize(51, 51));
    EXPECT_EQ(closed.size(), QSize(51, 51));
    EXPECT_NE(open, closed);
    // Inside the badge, clear of its mark: green for the open port, red for the closed one.
    const QColor tick = open.pixelColor(38, 30);
    const QColor cross = closed.pixelColor(38, 30);
    EXPECT_GT(tick.green(), 2 * tick.red());
    EXPECT_GT(cross.red(), 2 * cross.green());
    EXPECT_TRUE(usbGlyph(2).isNull());
    EXPECT_TRUE(usbGlyph(-1).isNull());
}

TEST(Glyphs, ApplicationIconComesInSixSizes) {
    QList<QSize> expected;
    for (int size : kApplicationIconSizes)
        expected << QSize(size, size);
    EXPECT_EQ(applicationIcon().availableSizes(), expected);
}

// The PNG files for the desktop installation must follow the drawing when it changes.
TEST(Glyphs, InstalledIconFilesMatchTheDrawing) {
    for (int size : kApplicationIconSizes) {
        SCOPED_TRACE(size);
        const QImage file = QImage(QStringLiteral(VEK_ICON_DIR "/vektool-%1.png").arg(size))
                                .convertToFormat(QImage::Format_ARGB32);
        ASSERT_FALSE(file.isNull());
        const QImage drawn = applicationIconImage(size).convertToFormat(QImage::Format_ARGB32);
        ASSERT_EQ(file.size(), drawn.size());
        long long difference = 0;
        for (int y = 0; y < size; ++y)
            for (int x = 0; x < size; ++x) {
                const QRgb a = file.pixel(x, y), b = drawn.pixel(x, y);
                difference += std::abs(qRed(a) - qRed(b)) + std::abs(qGreen(a) - qGreen(b)) +
                              std::abs(qBlue(a) - qBlue(b)) + std::abs(qAlpha(a) - qAlpha(b));
            }
        // Room for rounding differences between Qt versions, none for a changed drawing.
        EXPECT_LT(difference / (size * size), 4);
    }
}

}  // namespace
}  // namespace vek
