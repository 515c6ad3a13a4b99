// An edit box with a button at its right (and an optional second one before it) that reports
// clicks on each button and the mouse entering and leaving them.
#pragma once

#include <QLineEdit>
#include <QToolButton>
#include <QWidget>

namespace qm::formats {

class TVCButtonEdit : public QWidget {
    Q_OBJECT
public:
    explicit TVCButtonEdit(QWidget* parent = nullptr);

    QString text() const;
    void setText(const QString& text);
    // Not typeable: the text changes only through setText.
    void SetTypeable(bool typeable);
    void SetButtonWidth(int width);
    void SetAltButtonVisible(bool visible);

    QLineEdit* Edit() const { return edit_; }
    QToolButton* Button() const { return button_; }
    QToolButton* AltButton() const { return alt_; }

signals:
    void textChanged(const QString& text);
    void OnButtonClick();
    void OnAltBtnClick();
    void OnButtonMouseEnter();
    void OnButtonMouseLeave();
    void OnAltMouseEnter();
    void OnAltMouseLeave();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void resizeEvent(QResizeEvent*) override;

private:
    void placeParts();

    QLineEdit* edit_;
    QToolButton* button_;
    QToolButton* alt_;
    int buttonWidth_ = 15;
};

}  // namespace qm::formats
