#include "formats/windows/user_format_window.h"

#include <QLabel>
#include <QShowEvent>

#include "formats/core/formats_core.h"
#include "formats/windows/format_picker.h"
#include "formats/windows/set_format_window.h"

namespace qm::formats {

TUserformatfrm::TUserformatfrm(TSetFormatfrm* host, QWidget* parent)
    : controls::SkinnedWindow(parent), host_(host) {
    setObjectName(QStringLiteral("Userformatfrm"));
    setWindowTitle(QStringLiteral("Add to User Defined"));
    TitleLabel()->setText(QStringLiteral("Add to user defined"));
    TitleLabel()->adjustSize();
    AddDialogButtons();
    QWidget* c = ClientArea();
    auto* lblName = new QLabel(QStringLiteral("Name:"), c);
    lblName->setGeometry(12, 14, 80, 24);
    edtName = new QLineEdit(c);
    edtName->setObjectName(QStringLiteral("edtName"));
    edtName->setGeometry(96, 14, 250, 24);
    auto* lblDesc = new QLabel(QStringLiteral("Description:"), c);
    lblDesc->setGeometry(12, 48, 80, 24);
    edtDesc = new QLineEdit(c);
    edtDesc->setObjectName(QStringLiteral("edtDesc"));
    edtDesc->setGeometry(96, 48, 250, 24);
    resize(360 + 2 * kBorderWidth, kTitleHeight + 126 + kBottomHeight);
    setFixedSize(size());
    LoadSkin();
    disconnect(OkButton(), nullptr, this, nullptr);
    connect(OkButton(), &QAbstractButton::clicked, this, &TUserformatfrm::btnOKClick);
}

void TUserformatfrm::showEvent(QShowEvent* event) {
    controls::SkinnedWindow::showEvent(event);
    if (event->spontaneous()) return;
    edtName->setText(CurrentFormat.Name);
    edtDesc->setText(CurrentFormat.description);
    edtDesc->setCursorPosition(0);
    edtName->setFocus();
}

void TUserformatfrm::btnOKClick() {
    TFormatWindowPrompts& prompts = FormatWindowPrompts();
    // As typed: a name of spaces passes here and is stored trimmed.
    if (edtName->text().isEmpty() || edtDesc->text().isEmpty()) {
        prompts.Information(this, QStringLiteral("Information"), QStringLiteral("Invalid Name or description"));
        return;
    }
    if (!CanAddUserFormat()) {
        prompts.Information(this, QStringLiteral("Information"), QStringLiteral("User Defined number not more than 99"));
        return;
    }
    const TFormatInfo format = UserFormatFrom(CurrentFormat, CurrentOptions, edtName->text(), edtDesc->text());
    const qsizetype before = UserFormats.size();
    if (!AddUserFormat(format) || UserFormats.size() != before + 1) {
        // Nothing was kept: say so rather than show a format that is not in the file.
        const QString text = QStringLiteral("Cannot save the format to %1.").arg(UserFormatFileName());
        if (app::AppLog) app::AppLog->WriteError(text);
        prompts.Information(this, QStringLiteral("Error"), text);
        return;
    }
    CurrentFormat = format;
    if (host_) host_->SetFormatBoxText(FormatBoxTextFor(host_->FormatBoxText(), format.Name));
    accept();
}

}  // namespace qm::formats
