#include "app/TypingLimit.h"

#include <QLineEdit>
#include <QWidget>

namespace vek {

namespace {
constexpr int kNoLengthLimit = 32767;  // QLineEdit's own default
}

TypingLimit::TypingLimit(QLineEdit& edit, int limit)
    : QValidator(&edit), limit_(limit), shownLength_(int(edit.text().size())) {
    // Emitted for the program's texts as for the user's accepted edits, after validate().
    connect(&edit, &QLineEdit::textChanged, this,
            [this](const QString& text) { shownLength_ = int(text.size()); });
}

QValidator::State TypingLimit::validate(QString& input, int&) const {
    const int length = int(input.size());
    return length > limit_ && length >= shownLength_ ? Invalid : Acceptable;
}

void limitTypingOnly(QWidget& form) {
    for (QLineEdit* edit : form.findChildren<QLineEdit*>()) {
        const int limit = edit->maxLength();
        if (limit >= kNoLengthLimit)
            continue;
        edit->setMaxLength(kNoLengthLimit);
        edit->setValidator(new TypingLimit(*edit, limit));
    }
}

int typingLimitOf(const QLineEdit& edit) {
    const auto* typing = qobject_cast<const TypingLimit*>(edit.validator());
    return typing ? typing->limit() : edit.maxLength();
}

}  // namespace vek
