#pragma once

#include <QStringList>

class QWidget;
namespace Ui {
class Form1;
}

namespace vek {

// The faces the form is laid out for; in any other some captions do not fit their controls. On
// Debian the condensed one comes with fonts-dejavu-extra.
const QStringList& designedFormFaces();

// Makes the form's controls in their fonts and colours. Set as fonts and palettes rather than
// as a style sheet: a style sheet on the form made every control go through the style-sheet
// style, a third of the window's start-up time.
void buildForm(Ui::Form1& ui, QWidget& form);

}  // namespace vek
