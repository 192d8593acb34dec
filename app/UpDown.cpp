#include "app/UpDown.h"

#include <QKeyEvent>
#include <QLineEdit>
#include <QToolButton>
#include <algorithm>

namespace vek {

UpDown::UpDown(QWidget* parent)
    : QWidget(parent), up_(new QToolButton(this)), down_(new QToolButton(this)) {
    // Never a tab stop of its own: the edit box is.
    setFocusPolicy(Qt::NoFocus);
    for (QToolButton* button : {up_, down_}) {
        button->setFocusPolicy(Qt::NoFocus);
        button->setAutoRepeat(true);
    }
    up_->setArrowType(Qt::UpArrow);
    down_->setArrowType(Qt::DownArrow);
    connect(up_, &QToolButton::clicked, this, [this] { stepBy(1); });
    connect(down_, &QToolButton::clicked, this, [this] { stepBy(-1); });
    resize(17, 21);
}

void UpDown::setMinimum(int value) {
    minimum_ = value;
    maximum_ = std::max(maximum_, value);
    position_ = std::clamp(position_, minimum_, maximum_);
}

void UpDown::setMaximum(int value) {
    maximum_ = value;
    minimum_ = std::min(minimum_, value);
    position_ = std::clamp(position_, minimum_, maximum_);
}

void UpDown::setPosition(int value) {
    position_ = std::clamp(value, minimum_, maximum_);
    if (QLineEdit* edit = associate())
        edit->setText(QString::number(position_));
}

void UpDown::setAssociate(const QString& objectName) {
    associateName_ = objectName;
    bindTo(nullptr);
    associate();
}

void UpDown::setAssociate(QLineEdit* edit) {
    associateName_ = edit ? edit->objectName() : QString();
    bindTo(edit);
}

QLineEdit* UpDown::associate() {
    if (!edit_ && !associateName_.isEmpty())
        bindTo(window()->findChild<QLineEdit*>(associateName_));
    return edit_;
}

void UpDown::bindTo(QLineEdit* edit) {
    if (edit_)
        edit_->removeEventFilter(this);
    edit_ = edit;
    if (edit_)
        edit_->installEventFilter(this);
}

void UpDown::stepBy(int steps) {
    int from = position_;
    if (QLineEdit* edit = associate()) {
        bool ok = false;
        const int typed = edit->text().toInt(&ok);
        if (ok)
            from = std::clamp(typed, minimum_, maximum_);
    }
    // Widened so that a step from either end of the int range cannot overflow.
    const long long to = static_cast<long long>(from) + steps;
    setPosition(static_cast<int>(std::clamp<long long>(to, minimum_, maximum_)));
}

bool UpDown::eventFilter(QObject* watched, QEvent* event) {
    // The type first: while the edit box is being destroyed it is no longer a QLineEdit.
    if (event->type() == QEvent::KeyPress && arrowKeys_ && watched == edit_) {
        const int key = static_cast<QKeyEvent*>(event)->key();
        if (key == Qt::Key_Up || key == Qt::Key_Down) {
            stepBy(key == Qt::Key_Up ? 1 : -1);
            return true;
        }
    }
    return QWidget::eventFilter(watched, event);
}

void UpDown::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    placeButtons();
}

void UpDown::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    associate();
}

void UpDown::placeButtons() {
    const int upper = height() / 2;
    up_->setGeometry(0, 0, width(), upper);
    down_->setGeometry(0, upper, width(), height() - upper);
}

}  // namespace vek
