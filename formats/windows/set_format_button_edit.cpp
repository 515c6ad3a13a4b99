#include "formats/windows/set_format_button_edit.h"

#include <QEvent>
#include <QResizeEvent>

namespace qm::formats {

TVCButtonEdit::TVCButtonEdit(QWidget* parent) : QWidget(parent) {
    edit_ = new QLineEdit(this);
    button_ = new QToolButton(this);
    alt_ = new QToolButton(this);
    alt_->hide();
    for (QToolButton* b : {button_, alt_}) {
        b->setFocusPolicy(Qt::NoFocus);
        b->installEventFilter(this);
    }
    connect(edit_, &QLineEdit::textChanged, this, &TVCButtonEdit::textChanged);
    // A long path shows its end; the whole of it is the hint.
    connect(edit_, &QLineEdit::textChanged, edit_, &QLineEdit::setToolTip);
    connect(button_, &QToolButton::clicked, this, &TVCButtonEdit::OnButtonClick);
    connect(alt_, &QToolButton::clicked, this, &TVCButtonEdit::OnAltBtnClick);
    setFocusProxy(edit_);
    resize(200, 22);
}

QString TVCButtonEdit::text() const { return edit_->text(); }
void TVCButtonEdit::setText(const QString& text) { edit_->setText(text); }

void TVCButtonEdit::SetTypeable(bool typeable) { edit_->setReadOnly(!typeable); }

void TVCButtonEdit::SetButtonWidth(int width) {
    buttonWidth_ = width;
    placeParts();
}

void TVCButtonEdit::SetAltButtonVisible(bool visible) {
    alt_->setVisible(visible);
    placeParts();
}

bool TVCButtonEdit::eventFilter(QObject* watched, QEvent* event) {
    const bool enter = event->type() == QEvent::Enter;
    if (enter || event->type() == QEvent::Leave) {
        if (watched == button_) emit enter ? OnButtonMouseEnter() : OnButtonMouseLeave();
        if (watched == alt_) emit enter ? OnAltMouseEnter() : OnAltMouseLeave();
    }
    return QWidget::eventFilter(watched, event);
}

void TVCButtonEdit::resizeEvent(QResizeEvent*) { placeParts(); }

void TVCButtonEdit::placeParts() {
    const int h = height();
    int right = width();
    button_->setGeometry(right - buttonWidth_, 0, buttonWidth_, h);
    right -= buttonWidth_;
    if (alt_->isVisibleTo(this)) {
        alt_->setGeometry(right - buttonWidth_, 0, buttonWidth_, h);
        right -= buttonWidth_;
    }
    edit_->setGeometry(0, 0, std::max(0, right), h);
}

}  // namespace qm::formats
