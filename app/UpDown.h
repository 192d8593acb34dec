#pragma once

#include <QPointer>
#include <QString>
#include <QWidget>

class QLineEdit;
class QToolButton;

namespace vek {

// A pair of arrow buttons bound to an edit box: each click moves the position one step within
// [minimum, maximum], without wrapping, and writes it into the edit box as plain decimal text.
// The edit box is named by `associate` (its objectName, looked up in the same window), so that a
// Designer form can bind the two; the name is resolved as soon as the edit box exists.
class UpDown : public QWidget {
    Q_OBJECT
    Q_PROPERTY(int minimum READ minimum WRITE setMinimum)
    Q_PROPERTY(int maximum READ maximum WRITE setMaximum)
    Q_PROPERTY(int position READ position WRITE setPosition)
    Q_PROPERTY(bool arrowKeys READ arrowKeys WRITE setArrowKeys)
    Q_PROPERTY(QString associate READ associateName WRITE setAssociate)

  public:
    explicit UpDown(QWidget* parent = nullptr);

    int minimum() const { return minimum_; }
    int maximum() const { return maximum_; }
    int position() const { return position_; }
    bool arrowKeys() const { return arrowKeys_; }
    QString associateName() const { return associateName_; }

    // A minimum above the maximum raises the maximum, and the reverse; the position follows.
    void setMinimum(int value);
    void setMaximum(int value);
    // Clamped into the range and written into the bound edit box.
    void setPosition(int value);
    // Whether the Up and Down keys in the bound edit box step the position.
    void setArrowKeys(bool on) { arrowKeys_ = on; }

    void setAssociate(const QString& objectName);
    void setAssociate(QLineEdit* edit);
    // The bound edit box, looking the name up if it was not found before; nullptr if none.
    QLineEdit* associate();

    // One click: starts from the edit box's number when it holds one (the user may have typed),
    // else from the position.
    void stepBy(int steps);

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void showEvent(QShowEvent* event) override;

  private:
    void bindTo(QLineEdit* edit);
    void placeButtons();

    int minimum_ = 0;
    int maximum_ = 100;
    int position_ = 0;
    bool arrowKeys_ = true;
    QString associateName_;
    QPointer<QLineEdit> edit_;
    QToolButton* up_;
    QToolButton* down_;
};

}  // namespace vek
