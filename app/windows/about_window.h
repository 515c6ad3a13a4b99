// The about window, also the splash at start-up: 450 x 250, borderless, the version and the
// maker's home page; a click on its picture closes it.
#pragma once

#include <QDialog>

class QLabel;

namespace qm::controls {
class SkinPicture;
}

namespace qm::app {

inline const QString kHomePageAddress = QStringLiteral("https://www.brelvik.com/");

class Taboutfrm : public QDialog {
    Q_OBJECT
public:
    explicit Taboutfrm(QWidget* parent = nullptr);

    controls::SkinPicture* imgBack = nullptr;
    QLabel* lblVersion = nullptr;
    QLabel* lblHomePage = nullptr;
    QLabel* lblLink = nullptr;

    void imgBackClick();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
};

}  // namespace qm::app
