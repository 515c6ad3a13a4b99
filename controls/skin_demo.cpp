// A skinned dialog with trackbars, for looking at the skin:  qm_skin_demo [--grab OUT.png]
#include "controls/skinned_window.h"
#include "controls/sv_trackbar.h"

#include <QApplication>
#include <QLabel>
#include <QTimer>

#include <cstdio>

using namespace qm::controls;

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    SkinnedWindow window;
    window.setObjectName("frmDemo");
    window.setWindowTitle("Watermark");
    window.AddMinimiseButton();
    window.AddDialogButtons();
    window.resize(360, 220);

    auto* caption = new QLabel("Transparency:", window.ClientArea());
    caption->move(14, 16);
    auto* value = new QLabel("40 %", window.ClientArea());
    value->move(300, 16);
    auto* trackbar = new TSVTrackbar(window.ClientArea());
    trackbar->setGeometry(10, 36, 336, 33);
    trackbar->SetTransParent(true);
    trackbar->SetPosition(40);
    QObject::connect(trackbar, &TSVTrackbar::OnTickChange, value,
                     [=] { value->setText(QString("%1 %").arg(trackbar->Position())); });

    auto* range = new QLabel("Segment:", window.ClientArea());
    range->move(14, 78);
    auto* segment = new TSVTrackbar(window.ClientArea());
    segment->setGeometry(10, 96, 336, 33);
    segment->SetTransParent(true);
    segment->SetMax(1000);
    segment->SetShowSegment(true);
    segment->SetShowLine(true);
    segment->SetStartPos(200);
    segment->SetEndPos(750);
    segment->SetPosition(430);

    try {
        window.LoadSkin();
    } catch (const SkinError& e) {
        std::fprintf(stderr, "%s\n", e.what());
        return 1;
    }
    window.show();
    if (argc == 3 && QString(argv[1]) == "--grab") {
        const QString out = QString::fromLocal8Bit(argv[2]);
        QTimer::singleShot(300, [&window, &app, out] {
            window.grab().save(out);
            app.quit();
        });
    }
    return app.exec();
}
