#include "app/FormStyle.h"

#include "app/TypingLimit.h"

#include "ui_form1.h"

#include <QColor>
#include <QFont>
#include <QPalette>
#include <QStringList>
#include <QWidget>
#include <array>
#include <initializer_list>

namespace vek {

namespace {

const QStringList kDesignedFormFaces{QStringLiteral("MS Sans Serif"),
                                     QStringLiteral("DejaVu Sans Condensed")};
// Failing those, what a Linux desktop has of the same build; in these some captions are cut.
const QStringList kFormFaces =
    kDesignedFormFaces + QStringList{QStringLiteral("Liberation Sans"),
                                     QStringLiteral("Nimbus Sans"), QStringLiteral("DejaVu Sans")};
const QStringList kCaptionFaces{QStringLiteral("Verdana"), QStringLiteral("DejaVu Sans")};
const QColor kGray(128, 128, 128);
// What a group box caption is drawn in.
constexpr std::array kCaptionRoles{QPalette::WindowText, QPalette::Text};
const QStringList kLogFaces{QStringLiteral("Consolas"), QStringLiteral("DejaVu Sans Mono"),
                            QStringLiteral("Liberation Mono"), QStringLiteral("monospace")};

QWidget& child(QWidget& form, const char* name) {
    auto* w = form.findChild<QWidget*>(QLatin1String(name));
    Q_ASSERT(w);
    return *w;
}

// Changes what the widget's own font sets; keeps what it sets already (an underline, say).
template <typename Change>
void restyleFont(QWidget& w, Change change) {
    QFont font = w.font();
    change(font);
    w.setFont(font);
}

void setTextColour(QWidget& w, const QColor& colour,
                   std::initializer_list<QPalette::ColorRole> roles) {
    QPalette palette = w.palette();
    for (const QPalette::ColorRole role : roles)
        palette.setColor(role, colour);
    w.setPalette(palette);
}

// A group box whose caption is styled apart: its controls keep the font and colours they had.
void styleCaptionOnly(QWidget& box, const QFont& font, const QPalette* palette = nullptr) {
    // Every attribute set on the controls first, or those not set would follow the caption's;
    // set before the caption, the caption's change has nothing left to propagate.
    QFont inner = box.font();
    inner.setResolveMask(QFont::AllPropertiesResolved);
    QPalette innerPalette = box.palette();
    for (const QPalette::ColorRole role : kCaptionRoles)
        innerPalette.setColor(role, innerPalette.color(role));
    for (QWidget* w : box.findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
        w->setFont(inner);
        if (palette)
            w->setPalette(innerPalette);
    }
    box.setFont(font);
    if (palette)
        box.setPalette(*palette);
}

// The controls' own faces, sizes and colours, once they are made in the form's.
void styleControls(QWidget& form) {
    for (const char* name : {"L_Msg", "L_Site"})
        restyleFont(child(form, name), [](QFont& f) {
            f.setFamilies(kCaptionFaces);
            f.setPixelSize(11);
        });

    QWidget& log = child(form, "Log");
    restyleFont(log, [](QFont& f) {
        f.setFamilies(kLogFaces);
        f.setPointSize(9);
        f.setBold(true);
    });
    setTextColour(log, Qt::black, {QPalette::Text});

    // The configuration group first: restyling its caption resets its controls, the groups.
    QWidget& config = child(form, "GB_Config");
    QFont caption = config.font();
    caption.setFamilies(kCaptionFaces);
    caption.setPixelSize(9);
    caption.setBold(true);
    QPalette gray = config.palette();
    for (const QPalette::ColorRole role : kCaptionRoles)
        gray.setColor(role, kGray);
    styleCaptionOnly(config, caption, &gray);

    for (const char* name :
         {"GB_VMX", "GB_VCH", "GB_RPX", "GB_BGL", "GB_OSC", "GB_ACP", "GB_ACN", "GB_EBK"}) {
        QWidget& group = child(form, name);
        QFont bold = group.font();
        bold.setBold(true);
        styleCaptionOnly(group, bold);
    }
    for (const char* name : {"B_SetTrevalo", "B_SetDefaults", "B_RemConfig"}) {
        QWidget& button = child(form, name);
        restyleFont(button, [](QFont& f) { f.setPointSize(9); });
        setTextColour(button, kGray, {QPalette::ButtonText});
    }
}

}  // namespace

const QStringList& designedFormFaces() {
    return kDesignedFormFaces;
}

void buildForm(Ui::Form1& ui, QWidget& form) {
    // The form's face before its controls are made: set after, it would reach each of them
    // again and lay out every line edit's text a second time.
    QFont base = form.font();
    base.setFamilies(kFormFaces);
    base.setPointSize(8);
    form.setFont(base);
    ui.setupUi(&form);
    limitTypingOnly(form);
    styleControls(form);
}

}  // namespace vek
