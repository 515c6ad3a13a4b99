// The crop and watermark window over a movie, for looking at it:
//     qm_crop_demo MOVIE [--frames N] [--crop X,Y,W,H] [--watermark PICTURE] [--lock]
//                  [--transparency PERCENT] [--grab OUT.png] [--ok]
// The movie goes to frame N (default 12) in a player control, whose picture the window shows.
// With --grab the window is saved as a picture and closed, by OK with --ok, else by Cancel; the
// crop and watermark stored are printed.
#include <QApplication>
#include <QCheckBox>
#include <QSpinBox>
#include <QTimer>

#include <cstdio>

#include "conversion/offline_capture.h"
#include "controls/sv_trackbar.h"
#include "crop/windows/crop_window.h"
#include "player/qt/shockwave_flash.h"

using namespace qm;

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QStringList args = app.arguments().mid(1);
    QString movie, grab, watermark, crop;
    int frames = 12;
    bool ok = false, lock = false;
    int transparency = 0;
    for (int i = 0; i < args.size(); ++i) {
        if (args[i] == "--grab" && i + 1 < args.size())
            grab = args[++i];
        else if (args[i] == "--watermark" && i + 1 < args.size())
            watermark = args[++i];
        else if (args[i] == "--ok")
            ok = true;
        else if (args[i] == "--lock")
            lock = true;
        else if (args[i] == "--transparency" && i + 1 < args.size())
            transparency = args[++i].toInt();
        else if (args[i] == "--crop" && i + 1 < args.size())
            crop = args[++i];
        else if (args[i] == "--frames" && i + 1 < args.size())
            frames = args[++i].toInt();
        else
            movie = args[i];
    }
    if (movie.isEmpty()) {
        std::fprintf(stderr, "usage: qm_crop_demo MOVIE [--frames N] [--crop X,Y,W,H] [--watermark PICTURE] [--lock] "
                             "[--transparency PERCENT] [--grab OUT.png] [--ok]\n");
        return 2;
    }
    formats::TFileOption job;
    QString error;
    if (!conversion::ReadMovieInfo(movie, job.SWFInfo, error)) {
        std::fprintf(stderr, "%s\n", qPrintable(error));
        return 1;
    }
    formats::ClearOptions(job.Options);

    player::TShockwaveFlashEx control;
    // The main window's player has the movie's shape.
    const app::TRect shape = app::FitRect(app::TRect{0, 0, job.SWFInfo.Width, job.SWFInfo.Height},
                                          app::TRect{0, 0, 446, 291});
    control.resize(std::max(1, shape.width()), std::max(1, shape.height()));
    control.SetTimerEnabled(false);
    control.SetSoundEnabled(false);
    control.SetMovie(movie);
    control.Stop();
    control.GotoFrame(std::max(0, frames));

    crop::TCropfrm window(job, &control);
    const QStringList cropValues = crop.split(',');
    if (cropValues.size() == 4) {
        // Typed into the boxes as a user would, in the order the boxes stand.
        QTimer::singleShot(0, &window, [&window, cropValues] {
            QSpinBox* boxes[] = {window.edtcropX, window.edtCropY, window.edtCropW, window.edtCropH};
            for (int i = 0; i < 4; ++i) boxes[i]->setValue(cropValues[i].toInt());
        });
    }
    if (!watermark.isEmpty()) {
        crop::SetOpenPictureDialog([watermark](QWidget*, const QString&) { return watermark; });
        QTimer::singleShot(0, &window, [&window, lock, transparency] {
            window.chkaddwatermark->click();
            window.btnOpen->click();
            if (lock) window.btnUnLock->click();
            window.TrackTransparency->SetPosition(transparency);
            window.TrackTransparencyChange();
        });
    }
    if (!grab.isEmpty()) {
        QTimer::singleShot(400, &window, [&window, grab, ok] {
            window.grab().save(grab);
            if (ok)
                window.btnOKClick();
            else
                window.reject();
        });
    }
    window.exec();
    const auto& o = job.Options;
    std::printf("crop %s %d,%d,%d,%d  watermark %d %s %d,%d,%d,%d opacity %d\n", o.CropEnabled ? "on" : "off",
                o.CropRect.left, o.CropRect.top, o.CropRect.width(), o.CropRect.height(), o.WatermarkKind,
                qPrintable(o.WaterMark.ImageFile), o.WaterMark.Rect.left, o.WaterMark.Rect.top,
                o.WaterMark.Rect.width(), o.WaterMark.Rect.height(), o.WaterMark.Opacity);
    return 0;
}
