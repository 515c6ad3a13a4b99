#include "app/ui/app_ui.h"

#include "app/core/app_core.h"

#include <QWidget>

namespace qm::app {

void LayoutTitleBar(QWidget* logo, QWidget* titleLabel, QWidget* closeButton, QWidget* titlePanel) {
    const TitleBarPlaces places =
        TitleBarLayout(titlePanel ? titlePanel->width() : 0, closeButton ? closeButton->width() : 0);
    if (logo) logo->move(places.logo);
    if (titleLabel) titleLabel->move(places.title);
    if (closeButton) closeButton->move(places.close);
}

}  // namespace qm::app
