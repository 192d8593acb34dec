#pragma once

class QWidget;

namespace vek {

// The form's fonts and colours, set on its controls after they are made. Set as fonts and
// palettes rather than as a style sheet: a style sheet on the form made every control go
// through the style-sheet style, a third of the window's start-up time.
void applyFormStyle(QWidget& form);

}  // namespace vek
