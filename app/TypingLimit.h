#pragma once

#include <QValidator>

class QLineEdit;
class QWidget;

namespace vek {

// How many characters the user may type into an edit box. Unlike QLineEdit's maxLength, which
// silently cuts whatever the program sets too, it holds only for typing: a value that the box
// sent back is shown whole, and the user may shorten it but never lengthen it.
class TypingLimit : public QValidator {
    Q_OBJECT
  public:
    TypingLimit(QLineEdit& edit, int limit);

    int limit() const { return limit_; }
    State validate(QString& input, int& pos) const override;

  private:
    int limit_;
    int shownLength_ = 0;  // the length of the text the box holds now
};

// Turns the maxLength of every edit box in form into a TypingLimit.
void limitTypingOnly(QWidget& form);

// The typing limit of an edit box; its maxLength when it has none.
int typingLimitOf(const QLineEdit& edit);

}  // namespace vek
