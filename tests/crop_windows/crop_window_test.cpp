// The crop and watermark window: the preview and its mapping to movie pixels, the boxes and the
// editors kept together, the watermark picture, what OK stores and reopening restores, and the
// crop and watermark reaching a converted video where the preview showed them.
#include <gtest/gtest.h>

#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QProcess>
#include <QTemporaryDir>

#include <memory>

#include "controls/sv_trackbar.h"
#include "conversion/offline_capture.h"
#include "crop/windows/crop_window.h"
#include "crop_test_support.h"
#include "engine/library_loader.h"
#include "formats/core/formats_core.h"
#include "player/qt/shockwave_flash.h"
#include "testing/swfwriter/swfwriter.h"

namespace qm::crop {
namespace {

using app::TRect;
using formats::TFileOption;
using test::Drag;
using test::Type;

TRect BoundsOf(const QWidget* w) {
    const QRect g = w->geometry();
    return TRect{g.x(), g.y(), g.x() + g.width(), g.y() + g.height()};
}

bool Contains(const TRect& outer, const TRect& inner) {
    return outer.left <= inner.left && outer.top <= inner.top && outer.right >= inner.right &&
           outer.bottom >= inner.bottom;
}

class CropWindowTest : public ::testing::Test {
protected:
    void SetUp() override {
        app::DataDir = data.path() + QLatin1Char('/');
        app::SourceImgPath = QString();
        SetOpenPictureDialog([this](QWidget*, const QString& folder) {
            dialogFolders << folder;
            return nextPicture;
        });
        SetWarningBox([this](QWidget*, const QString& caption, const QString& text) {
            warnings << caption + QLatin1Char('|') + text;
        });
    }
    void TearDown() override {
        SetOpenPictureDialog({});
        SetWarningBox({});
    }

    static TFileOption Job(int w, int h) {
        TFileOption job;
        job.SWFInfo.Width = w;
        job.SWFInfo.Height = h;
        formats::ClearOptions(job.Options);
        return job;
    }

    static QImage Still(int w, int h) {
        QImage still(w, h, QImage::Format_ARGB32);
        still.fill(QColor(128, 128, 128));
        return still;
    }

    QString Picture(const QString& name, int w, int h, QColor color = Qt::red) {
        QImage picture(w, h, QImage::Format_ARGB32);
        picture.fill(color);
        const QString path = pictures.filePath(name);
        EXPECT_TRUE(picture.save(path));
        return path;
    }

    std::unique_ptr<TCropfrm> Open(TFileOption& job, const QImage& still) {
        auto window = std::make_unique<TCropfrm>(job, still);
        window->show();
        return window;
    }

    // Opens the picture through the window's open button.
    void OpenPicture(TCropfrm& window, const QString& path) {
        nextPicture = path;
        window.btnOpen->click();
    }

    // A click on the transparency track where `value` lies.
    static void ClickTrack(controls::TSVTrackbar* track, int value) {
        QTest::mouseClick(track, Qt::LeftButton, {}, QPoint(track->ValueToPixel(value), track->TrackRect().center().y()));
    }

    QTemporaryDir data, pictures;
    QString nextPicture;
    QStringList dialogFolders, warnings;
};

TEST_F(CropWindowTest, PreviewFitsTheFrameAndOkWithoutMovingStoresNoCrop) {
    TFileOption job = Job(550, 400);
    job.Options.CropRect = TRect{1, 2, 3, 4};
    auto window = Open(job, Still(550, 400));
    EXPECT_EQ(window->windowTitle(), "Edit");
    EXPECT_EQ(window->pnlSWF->geometry(), QRect(23, 0, 400, 291));
    EXPECT_EQ(window->imgSWF->size(), QSize(400, 291));
    EXPECT_EQ(window->ardtrCrop->Bounds(), (TRect{0, 0, 400, 291}));
    EXPECT_EQ(window->ardtrCrop->BorderFrameSize(), 3);
    EXPECT_TRUE(window->ardtrWatermark->isHidden());
    EXPECT_FALSE(window->grpWatermark->isEnabled());
    EXPECT_EQ(window->edtcropX->value(), 0);
    EXPECT_EQ(window->edtCropW->value(), 550);
    EXPECT_EQ(window->edtCropH->value(), 400);
    // 18 preview pixels are 25 movie pixels each way.
    EXPECT_EQ(window->edtCropW->minimum(), 25);
    EXPECT_EQ(window->edtcropX->maximum(), 525);
    EXPECT_EQ(window->edtCropY->maximum(), 375);

    window->OkButton()->click();
    EXPECT_EQ(window->result(), QDialog::Accepted);
    EXPECT_FALSE(job.Options.CropEnabled);
    EXPECT_EQ(job.Options.CropRect, (TRect{1, 2, 3, 4}));
    EXPECT_EQ(job.Options.WatermarkKind, -1);
    EXPECT_EQ(job.Options.WaterMark.Opacity, 100);
}

TEST_F(CropWindowTest, DraggedCropStoresMoviePixelsHalvesToEven) {
    TFileOption job = Job(550, 400);
    auto window = Open(job, Still(550, 400));
    Drag(window->ardtrCrop, {0, 0}, {100, 50});
    EXPECT_EQ(window->ardtrCrop->Bounds(), (TRect{100, 50, 400, 291}));
    Drag(window->ardtrCrop, {299, 240}, {-100, -41});
    EXPECT_EQ(window->ardtrCrop->Bounds(), (TRect{100, 50, 300, 250}));
    // The boxes follow the drag: 137.5 -> 138 and 412.5 -> 412.
    EXPECT_EQ(window->edtcropX->value(), 138);
    EXPECT_EQ(window->edtCropY->value(), 69);
    EXPECT_EQ(window->edtCropW->value(), 412 - 138);
    EXPECT_EQ(window->edtCropH->value(), 344 - 69);
    window->OkButton()->click();
    EXPECT_TRUE(job.Options.CropEnabled);
    EXPECT_EQ(job.Options.CropRect, (TRect{138, 69, 412, 344}));
    EXPECT_EQ(job.Options.CropViewRect, (TRect{100, 50, 300, 250}));
}

TEST_F(CropWindowTest, TypedCropBoxesMoveTheEditorWithinThePicture) {
    // Preview and movie pixels are the same here.
    TFileOption job = Job(446, 291);
    auto window = Open(job, Still(446, 291));
    struct Step {
        QSpinBox* box;
        int value;
        TRect editor;
        int shownWidth, shownHeight;
    } steps[] = {
        {window->edtcropX, 100, {100, 0, 446, 291}, 346, 291},   // keeps what fits of its width
        {window->edtCropW, 200, {100, 0, 300, 291}, 200, 291},
        {window->edtCropW, 999, {100, 0, 446, 291}, 346, 291},   // the maximum, cut at the picture
        {window->edtCropY, 250, {100, 250, 446, 291}, 346, 41},
        {window->edtCropH, 18, {100, 250, 446, 268}, 346, 18},
        {window->edtCropH, 5, {100, 250, 446, 268}, 346, 18},    // below the minimum: not taken
        {window->edtcropX, 440, {428, 250, 446, 268}, 18, 18},   // at most the maximum, 18 wide
    };
    for (const Step& s : steps) {
        SCOPED_TRACE(s.box->objectName().toStdString() + " " + std::to_string(s.value));
        Type(s.box, s.value);
        EXPECT_EQ(window->ardtrCrop->Bounds(), s.editor);
        EXPECT_EQ(window->edtCropW->value(), s.shownWidth);
        EXPECT_EQ(window->edtCropH->value(), s.shownHeight);
    }
    window->OkButton()->click();
    EXPECT_EQ(job.Options.CropRect, (TRect{428, 250, 446, 268}));
}

TEST_F(CropWindowTest, TypedNumbersAreKeptWhileTheEditorsShowThem) {
    // A preview pixel is 1.375 movie pixels: typed numbers survive, dragged ones come from the editor.
    TFileOption job = Job(550, 400);
    const QString red = Picture("mark.png", 40, 20);
    auto window = Open(job, Still(550, 400));
    // Sizes first, then places: a place must not round the size away.
    Type(window->edtCropW, 360);
    Type(window->edtCropH, 260);
    Type(window->edtcropX, 101);
    Type(window->edtCropY, 61);
    Type(window->edtcropX, 100);
    Type(window->edtCropY, 60);
    window->chkaddwatermark->click();
    OpenPicture(*window, red);
    Type(window->edtwatermarkW, 111);
    Type(window->edtwatermarkH, 57);
    Type(window->edtWatermarkX, 201);
    Type(window->edtWaterMarkY, 103);
    EXPECT_EQ(window->edtCropW->value(), 360);
    EXPECT_EQ(window->edtwatermarkW->value(), 111);
    window->OkButton()->click();
    EXPECT_EQ(job.Options.CropRect, (TRect{100, 60, 460, 320}));
    EXPECT_EQ(job.Options.WaterMark.Rect, (TRect{201, 103, 312, 160}));
    EXPECT_EQ(job.Options.WaterMark.ViewRect, ToPreviewRect(TRect{201, 103, 312, 160}, 550, 400, 400, 291));

    // Reopened and confirmed, the same numbers.
    const TFileOption stored = job;
    Open(job, Still(550, 400))->OkButton()->click();
    EXPECT_EQ(job.Options.CropRect, stored.Options.CropRect);
    EXPECT_EQ(job.Options.WaterMark.Rect, stored.Options.WaterMark.Rect);

    // Dragged by a pixel, the editor's own place counts.
    auto again = Open(job, Still(550, 400));
    Drag(again->ardtrCrop, {100, 100}, {1, 0});
    again->OkButton()->click();
    EXPECT_EQ(job.Options.CropRect, ToMovieRect(job.Options.CropViewRect, 550, 400, 400, 291));
    EXPECT_NE(job.Options.CropRect.left, 100);
}

TEST_F(CropWindowTest, TransparencyAndAWatermarkTickedWithoutPicture) {
    TFileOption job = Job(446, 291);
    auto window = Open(job, Still(446, 291));
    EXPECT_EQ(window->lblPos->text(), "100");
    window->chkaddwatermark->click();
    EXPECT_TRUE(window->grpWatermark->isEnabled());
    EXPECT_TRUE(window->ardtrWatermark->isHidden());  // no picture yet
    ClickTrack(window->TrackTransparency, 30);
    EXPECT_EQ(window->TrackTransparency->Position(), 30);
    EXPECT_EQ(window->lblPos->text(), "70");
    window->OkButton()->click();
    EXPECT_EQ(job.Options.WatermarkKind, 1);
    EXPECT_EQ(job.Options.WaterMark.Kind, 1);
    EXPECT_EQ(job.Options.WaterMark.ImageFile, "");
    EXPECT_EQ(job.Options.WaterMark.Opacity, 70);
}

TEST_F(CropWindowTest, PicturePlacedAtItsOwnSizeInTheCropAndStored) {
    TFileOption job = Job(446, 291);
    app::SourceImgPath = QStringLiteral("/nonexistent/start/");
    const QString red = Picture("mark.png", 40, 20);
    auto window = Open(job, Still(446, 291));
    Type(window->edtCropW, 300);
    Type(window->edtCropH, 200);
    window->chkaddwatermark->click();
    OpenPicture(*window, red);
    EXPECT_EQ(dialogFolders, QStringList{"/nonexistent/start/"});
    EXPECT_TRUE(warnings.isEmpty());
    EXPECT_FALSE(window->ardtrWatermark->isHidden());
    EXPECT_EQ(window->ardtrWatermark->Bounds(), (TRect{0, 0, 40, 20}));
    EXPECT_EQ(BoundsOf(window->imgWatemark), (TRect{0, 0, 40, 20}));
    EXPECT_EQ(window->ardtrWatermark->Area(), (TRect{0, 0, 300, 200}));
    EXPECT_DOUBLE_EQ(window->AspectRatio(), 0.5);
    EXPECT_EQ(window->edtimage->text(), red);
    EXPECT_EQ(window->edtwatermarkW->value(), 40);
    EXPECT_EQ(window->edtwatermarkH->value(), 20);
    EXPECT_EQ(window->edtWatermarkX->maximum(), 300 - 40);
    EXPECT_EQ(window->WatermarkPreview().size(), QSize(40, 20));

    // The preview shows the picture, then half of it over the still.
    auto shown = [&] { return window->pnlSWF->grab().toImage().pixel(20, 10); };
    EXPECT_EQ(shown(), qRgb(255, 0, 0));
    ClickTrack(window->TrackTransparency, 50);
    const QRgb half = shown();
    EXPECT_NEAR(qRed(half), (255 + 128) / 2, 3);
    EXPECT_NEAR(qGreen(half), 64, 3);
    ClickTrack(window->TrackTransparency, 0);

    window->OkButton()->click();
    const auto& mark = job.Options.WaterMark;
    EXPECT_EQ(job.Options.WatermarkKind, 1);
    EXPECT_EQ(mark.ImageFile, red);
    EXPECT_EQ(mark.Opacity, 100);
    EXPECT_EQ(mark.Rect, (TRect{0, 0, 40, 20}));
    EXPECT_EQ(mark.ViewRect, (TRect{0, 0, 40, 20}));
    EXPECT_DOUBLE_EQ(mark.AspectRatio, 0.5);
    EXPECT_FALSE(mark.KeepAspect);
    const QString folder = QFileInfo(red).absolutePath() + "/";
    EXPECT_EQ(app::SourceImgPath, folder);
    EXPECT_EQ(app::IniFile(app::SettingsFileName()).ReadString("Output", "SourceImgPath"), folder);
}

TEST_F(CropWindowTest, CropCanNeitherBeDraggedNorTypedOffTheWatermark) {
    TFileOption job = Job(446, 291);
    auto window = Open(job, Still(446, 291));
    Type(window->edtCropW, 300);
    Type(window->edtCropH, 200);
    window->chkaddwatermark->click();
    OpenPicture(*window, Picture("mark.png", 40, 20));
    Type(window->edtWatermarkX, 200);
    Type(window->edtWaterMarkY, 100);
    const TRect mark{200, 100, 240, 120};
    ASSERT_EQ(window->ardtrWatermark->Bounds(), mark);
    EXPECT_EQ(window->edtcropX->maximum(), 200);
    EXPECT_EQ(window->edtCropY->maximum(), 100);

    TAreaEditor* crop = window->ardtrCrop;
    struct Case {
        QPoint at, by;  // at: 0 left or top, 1 middle, 2 right or bottom of the editor
    } drags[] = {
        {{1, 1}, {300, 300}}, {{1, 1}, {-300, -300}}, {{0, 1}, {250, 0}},  {{2, 1}, {-250, 0}},
        {{1, 0}, {0, 200}},   {{1, 2}, {0, -200}},    {{0, 0}, {300, 300}}, {{2, 2}, {-300, -300}},
    };
    for (const Case& d : drags) {
        const QPoint at((crop->width() - 1) * d.at.x() / 2, (crop->height() - 1) * d.at.y() / 2);
        Drag(crop, at, d.by);
        EXPECT_TRUE(Contains(crop->Bounds(), mark)) << crop->Bounds();
    }
    window->btnFullAreadClick();
    Type(window->edtcropX, 300);  // above the maximum: the watermark's left
    EXPECT_EQ(crop->Bounds().left, 200);
    Type(window->edtCropW, 20);
    EXPECT_EQ(crop->Bounds(), (TRect{200, 0, 240, 291}));
    Type(window->edtCropY, 150);
    EXPECT_TRUE(Contains(crop->Bounds(), mark)) << crop->Bounds();
    Type(window->edtCropH, 20);
    EXPECT_TRUE(Contains(crop->Bounds(), mark)) << crop->Bounds();
    window->OkButton()->click();
    const TRect stored = job.Options.CropRect;
    EXPECT_TRUE(Contains(stored, job.Options.WaterMark.Rect)) << stored;
}

TEST_F(CropWindowTest, AspectLockKeepsThePicturesShape) {
    TFileOption job = Job(446, 291);
    auto window = Open(job, Still(446, 291));
    Type(window->edtCropW, 300);
    window->chkaddwatermark->click();
    OpenPicture(*window, Picture("mark.png", 40, 20));
    EXPECT_TRUE(window->btnLock->isHidden());
    window->btnUnLock->click();
    EXPECT_TRUE(window->KeepAspect());
    EXPECT_FALSE(window->btnLock->isHidden());
    EXPECT_TRUE(window->btnUnLock->isHidden());
    TAreaEditor* mark = window->ardtrWatermark;
    EXPECT_DOUBLE_EQ(mark->ChangeWHScale(), 0.5);

    Type(window->edtwatermarkW, 100);
    EXPECT_EQ(mark->Bounds(), (TRect{0, 0, 100, 50}));
    EXPECT_EQ(window->edtwatermarkH->value(), 50);
    Drag(mark, {99, 49}, {60, 0});
    EXPECT_EQ(mark->Bounds(), (TRect{0, 0, 160, 80}));
    EXPECT_EQ(BoundsOf(window->imgWatemark), mark->Bounds());

    // Free, it takes any shape; locked again, it is brought back to the picture's.
    window->btnLock->click();
    EXPECT_FALSE(window->KeepAspect());
    Drag(mark, {159, 79}, {0, 30});
    EXPECT_EQ(mark->Bounds(), (TRect{0, 0, 160, 110}));
    window->btnUnLock->click();
    EXPECT_EQ(mark->Bounds(), (TRect{0, 0, 160, 80}));

    // A typed width that reaches past the crop is cut there, the height following.
    Type(window->edtwatermarkW, 60);
    Type(window->edtWatermarkX, 200);
    ASSERT_EQ(mark->Bounds(), (TRect{200, 0, 260, 30}));
    Type(window->edtwatermarkW, 150);
    EXPECT_EQ(mark->Bounds(), (TRect{200, 0, 300, 50}));
    EXPECT_EQ(window->edtwatermarkW->value(), 100);
    EXPECT_EQ(window->edtwatermarkH->value(), 50);

    // A typed height drives the width the same way.
    Type(window->edtwatermarkH, 40);
    EXPECT_EQ(mark->Bounds(), (TRect{200, 0, 280, 40}));
    EXPECT_EQ(window->edtwatermarkW->value(), 80);

    window->OkButton()->click();
    EXPECT_TRUE(job.Options.WaterMark.KeepAspect);
    EXPECT_DOUBLE_EQ(job.Options.WaterMark.AspectRatio, 0.5);
    EXPECT_EQ(job.Options.WaterMark.Rect, (TRect{200, 0, 280, 40}));
}

TEST_F(CropWindowTest, ArrowKeysMoveTheEditorsAndTheBoxesFollow) {
    TFileOption job = Job(446, 291);
    auto window = Open(job, Still(446, 291));
    Type(window->edtCropW, 200);
    Type(window->edtCropH, 100);
    window->chkaddwatermark->click();
    OpenPicture(*window, Picture("mark.png", 40, 20));
    QTest::keyClick(window->ardtrWatermark, Qt::Key_Right, Qt::ShiftModifier);
    QTest::keyClick(window->ardtrWatermark, Qt::Key_Down);
    EXPECT_EQ(window->ardtrWatermark->Bounds(), (TRect{10, 1, 50, 21}));
    EXPECT_EQ(BoundsOf(window->imgWatemark), (TRect{10, 1, 50, 21}));
    EXPECT_EQ(window->edtWatermarkX->value(), 10);
    EXPECT_EQ(window->edtWaterMarkY->value(), 1);
    // The crop moves right but never past the watermark's left edge.
    for (int i = 0; i < 3; ++i) QTest::keyClick(window->ardtrCrop, Qt::Key_Right, Qt::ShiftModifier);
    EXPECT_EQ(window->ardtrCrop->Bounds(), (TRect{10, 0, 210, 100}));
    EXPECT_EQ(window->edtcropX->value(), 10);
    EXPECT_EQ(window->ardtrWatermark->Area(), (TRect{10, 0, 210, 100}));
    window->OkButton()->click();
    EXPECT_EQ(job.Options.CropRect, (TRect{10, 0, 210, 100}));
    EXPECT_EQ(job.Options.WaterMark.Rect, (TRect{10, 1, 50, 21}));
}

TEST_F(CropWindowTest, ReopeningRestoresBothEditorsAndOkAgainChangesNothing) {
    TFileOption job = Job(550, 400);
    const QString red = Picture("mark.png", 40, 20);
    {
        auto window = Open(job, Still(550, 400));
        Drag(window->ardtrCrop, {0, 0}, {100, 50});
        Drag(window->ardtrCrop, {299, 240}, {-100, -41});
        window->chkaddwatermark->click();
        OpenPicture(*window, red);
        window->btnUnLock->click();
        ClickTrack(window->TrackTransparency, 30);
        Drag(window->ardtrWatermark, {20, 10}, {30, 20});
        ASSERT_EQ(window->ardtrWatermark->Bounds(), (TRect{130, 70, 170, 90}));
        window->OkButton()->click();
    }
    const TFileOption stored = job;
    EXPECT_EQ(stored.Options.CropRect, (TRect{138, 69, 412, 344}));
    EXPECT_EQ(stored.Options.WaterMark.Rect, (TRect{179, 96, 234, 124}));

    auto window = Open(job, Still(550, 400));
    EXPECT_EQ(window->ardtrCrop->Bounds(), (TRect{100, 50, 300, 250}));
    EXPECT_TRUE(window->chkaddwatermark->isChecked());
    EXPECT_FALSE(window->ardtrWatermark->isHidden());
    EXPECT_EQ(window->ardtrWatermark->Bounds(), (TRect{130, 70, 170, 90}));
    EXPECT_EQ(BoundsOf(window->imgWatemark), (TRect{130, 70, 170, 90}));
    EXPECT_EQ(window->ardtrWatermark->Area(), (TRect{100, 50, 300, 250}));
    EXPECT_EQ(window->TrackTransparency->Position(), 30);
    EXPECT_EQ(window->lblPos->text(), "70");
    EXPECT_FALSE(window->btnLock->isHidden());
    EXPECT_DOUBLE_EQ(window->ardtrWatermark->ChangeWHScale(), 0.5);
    EXPECT_EQ(window->edtcropX->value(), 138);
    EXPECT_EQ(window->edtWatermarkX->value(), 179);
    EXPECT_EQ(window->edtwatermarkW->value(), 55);
    // The crop still keeps the watermark inside.
    Drag(window->ardtrCrop, {100, 100}, {200, 0});
    EXPECT_EQ(window->ardtrCrop->Bounds().left, 130);
    window->btnFullAreadClick();
    window->ardtrCrop->SetBounds(TRect{100, 50, 300, 250});
    window->OkButton()->click();
    EXPECT_EQ(job.Options.CropRect, stored.Options.CropRect);
    EXPECT_EQ(job.Options.CropViewRect, stored.Options.CropViewRect);
    EXPECT_EQ(job.Options.WaterMark.Rect, stored.Options.WaterMark.Rect);
    EXPECT_EQ(job.Options.WaterMark.ViewRect, stored.Options.WaterMark.ViewRect);
    EXPECT_EQ(job.Options.WaterMark.Opacity, 70);
    EXPECT_TRUE(job.Options.WaterMark.KeepAspect);
}

TEST_F(CropWindowTest, VanishedPictureIsNotRestoredAndNotStored) {
    TFileOption job = Job(446, 291);
    const QString red = Picture("gone.png", 40, 20);
    {
        auto window = Open(job, Still(446, 291));
        window->chkaddwatermark->click();
        OpenPicture(*window, red);
        window->OkButton()->click();
    }
    ASSERT_EQ(job.Options.WatermarkKind, 1);
    ASSERT_TRUE(QFile::remove(red));
    auto window = Open(job, Still(446, 291));
    EXPECT_FALSE(window->chkaddwatermark->isChecked());
    EXPECT_TRUE(window->ardtrWatermark->isHidden());
    EXPECT_TRUE(warnings.isEmpty());
    window->OkButton()->click();
    EXPECT_EQ(job.Options.WatermarkKind, -1);
}

TEST_F(CropWindowTest, UntickingDropsTheWatermarkAndCancelWritesNothing) {
    TFileOption job = Job(446, 291);
    const QString red = Picture("mark.png", 40, 20);
    {
        auto window = Open(job, Still(446, 291));
        window->chkaddwatermark->click();
        OpenPicture(*window, red);
        window->btnUnLock->click();
        window->chkaddwatermark->click();
        EXPECT_TRUE(window->ardtrWatermark->isHidden());
        EXPECT_FALSE(window->ardtrCrop->LimitEnabled());
        EXPECT_EQ(window->edtcropX->maximum(), 446 - 18);
        window->OkButton()->click();
    }
    EXPECT_EQ(job.Options.WatermarkKind, -1);
    EXPECT_EQ(job.Options.WaterMark.Opacity, 100);
    EXPECT_EQ(job.Options.WaterMark.AspectRatio, 0);
    EXPECT_FALSE(job.Options.WaterMark.KeepAspect);

    const TFileOption before = job;
    {
        auto window = Open(job, Still(446, 291));
        Drag(window->ardtrCrop, {0, 0}, {50, 50});
        window->chkaddwatermark->click();
        OpenPicture(*window, red);
        window->CancelButton()->click();
        EXPECT_EQ(window->result(), QDialog::Rejected);
    }
    EXPECT_EQ(job.Options.CropEnabled, before.Options.CropEnabled);
    EXPECT_EQ(job.Options.CropRect, before.Options.CropRect);
    EXPECT_EQ(job.Options.WatermarkKind, before.Options.WatermarkKind);
    EXPECT_EQ(job.Options.WaterMark.ImageFile, before.Options.WaterMark.ImageFile);
    EXPECT_EQ(app::SourceImgPath, QString());
}

TEST_F(CropWindowTest, PictureThatCannotBeOpenedIsReportedAndNotShown) {
    TFileOption job = Job(446, 291);
    auto window = Open(job, Still(446, 291));
    window->chkaddwatermark->click();
    const QString text = pictures.filePath("notes.png");
    {
        QFile f(text);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("not a picture at all");
    }
    OpenPicture(*window, text);
    EXPECT_EQ(warnings, QStringList{"information|Failed to open the file."});
    EXPECT_EQ(window->edtimage->text(), "");
    EXPECT_TRUE(window->ardtrWatermark->isHidden());

    // A good picture, then a cancelled dialog: nothing changes, the shape is kept.
    OpenPicture(*window, Picture("mark.png", 40, 20));
    OpenPicture(*window, QString());
    EXPECT_EQ(warnings.size(), 1);
    EXPECT_FALSE(window->edtimage->text().isEmpty());
    EXPECT_DOUBLE_EQ(window->AspectRatio(), 0.5);
    // A picture that vanished between choosing and loading.
    OpenPicture(*window, pictures.filePath("missing.png"));
    EXPECT_EQ(warnings.size(), 2);
    EXPECT_EQ(window->edtimage->text(), "");
}

// A 200 x 150 movie: left half green, right half blue.
QString WriteHalvesMovie(const QString& folder) {
    namespace w = qm::swfwriter;
    w::Movie movie({.version = 8, .frame = w::Rect::pixels(200, 150), .frameRate = w::fps(12)});
    movie.setBackgroundColor({0, 0, 255});
    w::Shape half;
    half.fill0(half.addFill(w::FillStyle::solid({0, 255, 0}))).rect(0, 0, 100 * 20, 150 * 20);
    const uint16_t id = movie.defineShape(half);
    movie.place({.depth = 1, .character = id});
    for (int f = 0; f < 6; ++f) movie.showFrame();
    const QString path = QDir(folder).filePath("halves.swf");
    movie.save(path.toStdString());
    return path;
}

TEST_F(CropWindowTest, StillComesFromThePlayersCurrentFrame) {
    const QString movie = WriteHalvesMovie(pictures.path());
    player::TShockwaveFlashEx control;
    control.resize(300, 200);
    control.SetTimerEnabled(false);
    control.SetSoundEnabled(false);
    control.SetMovie(movie);
    TFileOption job = Job(200, 150);
    TCropfrm window(job, &control);
    window.show();
    EXPECT_EQ(window.Still().size(), QSize(300, 200));
    EXPECT_EQ(window.pnlSWF->size(), QSize(436, 291));
    const QImage shown = window.pnlSWF->grab().toImage();
    EXPECT_EQ(shown.pixel(100, 150), qRgb(0, 255, 0));
    EXPECT_EQ(shown.pixel(330, 150), qRgb(0, 0, 255));
}

TEST_F(CropWindowTest, CropAndWatermarkReachTheConvertedVideoWhereThePreviewShowedThem) {
    engine::TFFLoader& loader = engine::FFLoader();
    if (!loader.LibsLoaded(engine::AllLibraries)) {
        loader.SetLibraryPath("");
        ASSERT_TRUE(loader.LoadLibs(engine::AllLibraries)) << loader.LastError();
    }
    formats::SetProgramDir(QFileInfo(QStringLiteral(QM_CLI_PATH)).absolutePath() + QLatin1Char('/'));
    formats::ClearFormatList(formats::BuiltInFormats);
    formats::LoadFormatFile(formats::BuiltInFormatFileName(), formats::BuiltInFormats);
    ASSERT_TRUE(formats::OptionsFromFormat(formats::CurrentOptions, formats::DefaultFormatID));
    formats::CurrentOptions.AudioDisabled = true;

    const QString movie = WriteHalvesMovie(pictures.path());
    player::TShockwaveFlashEx control;
    control.resize(400, 300);
    control.SetTimerEnabled(false);
    control.SetSoundEnabled(false);
    control.SetMovie(movie);
    TFileOption job;
    QString error;
    ASSERT_TRUE(conversion::ReadMovieInfo(movie, job.SWFInfo, error)) << error.toStdString();
    formats::ClearOptions(job.Options);
    job.Options.SourceSize = QStringLiteral("200x150");
    job.Options.OutFileName = QStringLiteral("halves");

    TRect shownMark;  // where the preview showed the watermark, in movie pixels
    {
        TCropfrm window(job, &control);
        window.show();
        Type(window.edtcropX, 40);
        Type(window.edtCropY, 30);
        Type(window.edtCropW, 120);
        Type(window.edtCropH, 90);
        window.chkaddwatermark->click();
        OpenPicture(window, Picture("red.png", 40, 20));
        window.btnUnLock->click();
        Type(window.edtwatermarkW, 40);
        Type(window.edtWatermarkX, 100);
        Type(window.edtWaterMarkY, 80);
        shownMark = window.ToMovie(BoundsOf(window.imgWatemark));
        window.OkButton()->click();
    }
    ASSERT_TRUE(job.Options.CropEnabled);
    EXPECT_EQ(job.Options.CropRect, (TRect{40, 30, 160, 120}));
    EXPECT_EQ(job.Options.WaterMark.Rect, shownMark);
    EXPECT_NEAR(shownMark.left, 100, 1);
    EXPECT_NEAR(shownMark.width(), 40, 1);

    formats::PrepareFileOption(job);
    const QString output = pictures.filePath("halves.mp4");
    conversion::OfflineCapture capture(job, output, conversion::CaptureLimits{conversion::EndRule::LastFrame, 0});
    const conversion::CaptureResult result = capture.Run();
    ASSERT_TRUE(result.Succeeded) << result.Error.toStdString();

    QProcess ffmpeg;
    ffmpeg.start("ffmpeg", {"-v", "error", "-i", output, "-frames:v", "1", "-f", "rawvideo", "-pix_fmt", "rgb24", "-"});
    ASSERT_TRUE(ffmpeg.waitForFinished(60000));
    const QByteArray rgb = ffmpeg.readAllStandardOutput();
    const int w = 120, h = 90;
    ASSERT_EQ(rgb.size(), w * h * 3) << ffmpeg.readAllStandardError().toStdString();
    auto at = [&](int x, int y) {
        const char* p = rgb.constData() + (y * w + x) * 3;
        return qRgb(uchar(p[0]), uchar(p[1]), uchar(p[2]));
    };
    auto isRed = [](QRgb c) { return qRed(c) > 170 && qGreen(c) < 90 && qBlue(c) < 90; };
    auto isGreen = [](QRgb c) { return qGreen(c) > 170 && qRed(c) < 90 && qBlue(c) < 90; };
    auto isBlue = [](QRgb c) { return qBlue(c) > 170 && qRed(c) < 90 && qGreen(c) < 90; };
    // The crop: movie x 100 (the halves' border) is output x 60.
    EXPECT_TRUE(isGreen(at(10, 10)));
    EXPECT_TRUE(isGreen(at(56, 85)));
    EXPECT_TRUE(isBlue(at(64, 5)));
    EXPECT_TRUE(isBlue(at(115, 85)));
    // The watermark: the red pixels' box is where the preview showed it, relative to the crop.
    int left = w, top = h, right = -1, bottom = -1;
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            if (isRed(at(x, y))) {
                left = std::min(left, x);
                top = std::min(top, y);
                right = std::max(right, x + 1);
                bottom = std::max(bottom, y + 1);
            }
    ASSERT_GE(right, 0) << "no watermark in the picture";
    EXPECT_NEAR(left, shownMark.left - 40, 2);
    EXPECT_NEAR(top, shownMark.top - 30, 2);
    EXPECT_NEAR(right, shownMark.right - 40, 2);
    EXPECT_NEAR(bottom, shownMark.bottom - 30, 2);
}

}  // namespace
}  // namespace qm::crop
