// The dialog that saves the format window's values as a format of the user's own.
#pragma once

#include <QLineEdit>

#include "controls/skinned_window.h"

namespace qm::formats {

class TSetFormatfrm;

class TUserformatfrm : public controls::SkinnedWindow {
    Q_OBJECT
public:
    // `host` is the format window whose format box takes the new name.
    explicit TUserformatfrm(TSetFormatfrm* host, QWidget* parent = nullptr);

    QLineEdit* edtName;
    QLineEdit* edtDesc;

    // Saves the new format and closes, or refuses and stays open.
    void btnOKClick();

protected:
    void showEvent(QShowEvent* event) override;

private:
    TSetFormatfrm* host_;
};

}  // namespace qm::formats
