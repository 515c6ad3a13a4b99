#include "app/windows/main_window.h"

#include "app/core/app_core.h"
#include "app/core/qt_dispatcher.h"
#include "app/windows/about_window.h"
#include "app/windows/options_window.h"
#include "app/windows/properties_window.h"
#include "app/windows/update_window.h"
#include "app/windows/window_hooks.h"
#include "audio/sound_capture.h"
#include "controls/skinned_window.h"
#include "controls/sv_trackbar.h"
#include "conversion/conversion.h"
#include "conversion/windows/capture_window.h"
#include "conversion/windows/converter_window.h"
#include "crop/windows/crop_window.h"
#include "engine/ff_encoder.h"
#include "engine/logger.h"
#include "engine/main_thread.h"
#include "flash/config_access.h"
#include "formats/windows/format_picker.h"
#include "formats/windows/set_format_window.h"
#include "player/qt/shockwave_flash.h"
#include "swf/header_reader.h"

#include <QApplication>
#include <QCloseEvent>
#include <QDir>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QMimeData>
#include <QMouseEvent>
#include <QPainter>
#include <QScreen>
#include <QVBoxLayout>

namespace qm::app {

std::unique_ptr<audio::TSoundHook> SoundHook;

namespace {

using controls::SkinPicture;

const QString kNoMovie = QStringLiteral("None.swf");
const QString kUnsupported = QStringLiteral("The file format is not supported, please re-select.");

// The three "Getting Started" lines: the runs of spaces leave room for the button pictures.
const QString kGuideLines[3] = {
    QStringLiteral("1. Click  \"         Open\"  button or drag file to add SWF file."),
    QStringLiteral("2. Click  \"        Format\"  button to choose an output format."),
    QStringLiteral("3. Click  \"                \"  button to start conversion."),
};
const QString kGuidePictures[3] = {QStringLiteral("open.png"), QStringLiteral("Format.png"),
                                   QStringLiteral("Convert.png")};

constexpr bool kHasFormatWindow = true;
constexpr bool kHasCropWindow = true;
constexpr bool kHasPropertiesWindow = true;
constexpr bool kHasOptionsWindow = true;
constexpr bool kHasUpdateWindow = true;

const QColor kBarTop(250, 251, 253);
const QColor kBarBottom(226, 231, 237);
const QColor kBarText(52, 64, 80);

// A missing picture leaves its place empty; the window works without it.
QPixmap SkinPictureOrNothing(const QString& file) {
    try {
        return controls::LoadSkinPicture(file);
    } catch (const controls::SkinError& e) {
        if (AppLog) {
            try {
                AppLog->WriteError(QString::fromUtf8(e.what()));
            } catch (const IoError&) {
            }
        }
        return {};
    }
}

SkinPicture* Picture(QWidget* parent, const char* name, const QString& file) {
    auto* p = new SkinPicture(parent);
    p->setObjectName(QString::fromLatin1(name));
    if (!file.isEmpty()) p->SetPicture(SkinPictureOrNothing(file));
    return p;
}

// A light bar with a gradient, as the tool bar and the operation bar are drawn.
class BarPanel : public QWidget {
public:
    using QWidget::QWidget;

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter p(this);
        QLinearGradient g(0, 0, 0, height());
        g.setColorAt(0, kBarTop);
        g.setColorAt(1, kBarBottom);
        p.fillRect(rect(), g);
        p.fillRect(QRect(0, height() - 1, width(), 1), QColor(184, 194, 204));
    }
};

QToolButton* ToolButton(QWidget* parent, const char* name, const QString& caption, const QString& picture,
                        Qt::ToolButtonStyle style) {
    auto* b = new QToolButton(parent);
    b->setObjectName(QString::fromLatin1(name));
    b->setText(caption);
    b->setToolTip(caption);
    b->setIcon(QIcon(SkinPictureOrNothing(picture)));
    b->setIconSize(QSize(32, 32));
    b->setToolButtonStyle(style);
    b->setAutoRaise(true);
    b->setFocusPolicy(Qt::NoFocus);
    QPalette pal = b->palette();
    for (auto group : {QPalette::Active, QPalette::Inactive}) pal.setColor(group, QPalette::ButtonText, kBarText);
    pal.setColor(QPalette::Disabled, QPalette::ButtonText, QColor(160, 168, 178));
    b->setPalette(pal);
    return b;
}

engine::TMainThreadDispatcher& Dispatcher() {
    static QtMainThreadDispatcher dispatcher;
    return dispatcher;
}

void WriteInfoLine(const QString& line) {
    if (AppLog) AppLog->WriteInfo(line);
}
void WriteErrorLine(const QString& line) {
    if (AppLog) AppLog->WriteError(line);
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// Creation

Tmainfrm::Tmainfrm(QWidget* parent) : QWidget(parent, Qt::Window | Qt::FramelessWindowHint) {
    setObjectName(QStringLiteral("mainfrm"));
    resize(kWidth, kTitleHeight + kToolHeight + kPreviewHeight + kOperationHeight + kBottomHeight);
    createFrame();
    createToolBar();
    createPreview();
    createOperationBar();
    createMenus();
    createGuide();
    placeComponents();

    // 1. The window's shape.
    FormResize();
    // Engine events raised on workers reach this thread through a blocking queued call.
    engine::SetMainThreadDispatcher(&Dispatcher());
    ffLog_ = std::make_unique<engine::TFFLogger>();
    ffLog_->SetLogLevel(engine::llError);
    ffLog_->SetOnLog([this](void*, std::uint32_t, engine::TLogLevel, const std::string& message) {
        FFLogLog(message);
    });
    ffEncoder_ = std::make_unique<engine::TFFEncoder>();
    // 2. The engine libraries.
    LoadEncoderLibrary();
    // 3. The sound capture object and its hooks.
    SoundHook = std::make_unique<audio::TSoundHook>([](audio::LogKind kind, const std::string& line) {
        const QString text = QString::fromStdString(line);
        try {
            if (kind == audio::LogKind::Info) WriteInfoLine(text);
            else WriteErrorLine(text);
        } catch (const IoError&) {
        }
    });
    SoundHook->InstallHooks();
    // 4, 5. The catalogues, the stored profile and its format, the groups.
    formats::LoadFormatCatalogue();
    // 6. The format picker, hidden, for the life of this window.
    formatPicker_ = new formats::TformatFrm(this);
    formatPicker_->hide();
    // 7. Run-time settings.
    FinishAction = 0;
    CaptureMode = 0;
    // 8. Title.
    setWindowTitle(kApplicationTitle);
    if (qApp) QGuiApplication::setApplicationDisplayName(kApplicationTitle);
    lblName->setText(kApplicationTitle);
    lblName->adjustSize();
    RunCaptureWindow = [](Tmainfrm& owner, const QString& moviePath, const formats::TFileOption& job) {
        conversion::TCaptureFrm capture(SoundHook.get(), &owner);
        capture.MoviePath = moviePath;
        capture.Job = job;
        const int result = capture.exec();
        if (result == conversion::TCaptureFrm::kOutputMade) return CaptureOutcome::Converted;
        return result == QDialog::Accepted ? CaptureOutcome::Captured : CaptureOutcome::Cancelled;
    };
    RunConversionWindow = [](Tmainfrm& owner, const formats::TFileOption& job) {
        if (!SoundHook) return;
        conversion::TConverterfrm converter(job, *SoundHook, &owner);
        converter.exec();
    };
    ExitProgram = [](Tmainfrm&) { conversion::TConverterfrm::ExitProgramAfterConversion(); };
    ShowShutdown = [](Tmainfrm& owner) { conversion::TConverterfrm::ShowShutdownAfterConversion(&owner); };
    updateCheck_ = new TUpdateCheck(this);
    StartUpdateCheck = [](Tmainfrm& owner) { owner.updateCheck_->StartUpdateCheck(); };
    // 10. The preview area takes dropped files.
    pnlSWF->setAcceptDrops(true);
    pnlSWF->installEventFilter(this);

    // The first player control; it reads its configuration as it is made.
    RecreatePlayer();
    SetMovieControlsEnabled(false);
    enableWindowItems();

    if (const QScreen* screen = QGuiApplication::primaryScreen())
        move(screen->availableGeometry().center() - rect().center());
}

Tmainfrm::~Tmainfrm() {
    tmrpos->stop();
    tmrupdate->stop();
    if (swf_) swf_->SetMovie(kNoMovie);
    SoundHook.reset();
    ffEncoder_.reset();
    ffLog_.reset();
}

void Tmainfrm::createFrame() {
    pnlTitle = new QWidget(this);
    pnlTitle->setObjectName(QStringLiteral("pnlTitle"));
    imgHeadLeft = Picture(pnlTitle, "Head_left", QStringLiteral("head_Left.jpg"));
    imgHeadCenter = Picture(pnlTitle, "imgHeadCenter", QStringLiteral("head_mid.jpg"));
    imgHeadRight = Picture(pnlTitle, "head_right", QStringLiteral("head_right.jpg"));
    imgLogo = Picture(pnlTitle, "imgLogo", QStringLiteral("Logo.ico"));
    imgLogo->resize(16, 16);
    lblName = new QLabel(pnlTitle);
    lblName->setObjectName(QStringLiteral("lblName"));
    QFont bold = lblName->font();
    bold.setBold(true);
    lblName->setFont(bold);
    QPalette white = lblName->palette();
    white.setColor(QPalette::WindowText, Qt::white);
    lblName->setPalette(white);
    imgLogo->setAttribute(Qt::WA_TransparentForMouseEvents);
    lblName->setAttribute(Qt::WA_TransparentForMouseEvents);
    btnMin = new controls::SkinButton(pnlTitle);
    btnMin->setObjectName(QStringLiteral("btnMin"));
    btnMin->setToolTip(QStringLiteral("Minimize"));
    btnMin->setFocusPolicy(Qt::NoFocus);
    btnMin->resize(16, 16);
    btnMin->SetPictures(SkinPictureOrNothing(QStringLiteral("min_up.bmp")),
                        SkinPictureOrNothing(QStringLiteral("min_hot.bmp")),
                        SkinPictureOrNothing(QStringLiteral("min_down.bmp")));
    btnClose = new controls::SkinButton(pnlTitle);
    btnClose->setObjectName(QStringLiteral("btnClose"));
    btnClose->setToolTip(QStringLiteral("Close"));
    btnClose->setFocusPolicy(Qt::NoFocus);
    btnClose->resize(16, 16);
    btnClose->SetPictures(SkinPictureOrNothing(QStringLiteral("close_up.bmp")),
                          SkinPictureOrNothing(QStringLiteral("close_hot.bmp")),
                          SkinPictureOrNothing(QStringLiteral("close_down.bmp")));
    connect(btnMin, &QAbstractButton::clicked, this, [this] { btnMinClick(); });
    connect(btnClose, &QAbstractButton::clicked, this, [this] { btnCloseClick(); });
    // The title picture drags the borderless window.
    controls::MakeDragHandle(imgHeadCenter);
    controls::MakeDragHandle(imgHeadLeft);
    controls::MakeDragHandle(imgHeadRight);

    imgBottomLeft = Picture(this, "Bottom_left", QStringLiteral("bottom_left.jpg"));
    imgBottomCenter = Picture(this, "bottom_center", QStringLiteral("bottom_mid.jpg"));
    imgBottomRight = Picture(this, "bottom_right", QStringLiteral("bottom_right.jpg"));
}

void Tmainfrm::createToolBar() {
    pnlTool = new BarPanel(this);
    pnlTool->setObjectName(QStringLiteral("pnlTool"));
    const auto style = Qt::ToolButtonTextBesideIcon;
    btnOpen = ToolButton(pnlTool, "btnOpen", QStringLiteral("Open"), QStringLiteral("tool_open.png"), style);
    btnFormat = ToolButton(pnlTool, "btnFormat", QStringLiteral("Format"), QStringLiteral("tool_format.png"), style);
    btncrop = ToolButton(pnlTool, "btncrop", QStringLiteral("Edit"), QStringLiteral("tool_edit.png"), style);
    btnoption = ToolButton(pnlTool, "btnoption", QStringLiteral("Option"), QStringLiteral("tool_option.png"), style);
    btnhelp = ToolButton(pnlTool, "btnhelp", QStringLiteral("Help"), QStringLiteral("tool_help.png"), style);
    connect(btnOpen, &QToolButton::clicked, this, [this] { btnOpenClick(); });
    connect(btnFormat, &QToolButton::clicked, this, [this] { btnFormatClick(); });
    connect(btncrop, &QToolButton::clicked, this, [this] { btncropClick(); });
    connect(btnoption, &QToolButton::clicked, this, [this] { btnoptionClick(); });
    connect(btnhelp, &QToolButton::clicked, this, [this] { btnhelpClick(); });
}

void Tmainfrm::createPreview() {
    pnlSWF = new QWidget(this);
    pnlSWF->setObjectName(QStringLiteral("pnlSWF"));
    pnlSWF->setAutoFillBackground(true);
    QPalette black = pnlSWF->palette();
    black.setColor(QPalette::Window, Qt::black);
    pnlSWF->setPalette(black);
    imgSWFLeft = Picture(pnlSWF, "Center_left", QStringLiteral("mid_left.jpg"));
    imgSWFRight = Picture(pnlSWF, "Center_Right", QStringLiteral("mid_right.jpg"));
    pnlSetSize = new QWidget(pnlSWF);
    pnlSetSize->setObjectName(QStringLiteral("pnlSetSize"));
    auto* fill = new QVBoxLayout(pnlSetSize);
    fill->setContentsMargins(0, 0, 0, 0);
    pnlInfo = new QWidget(pnlSWF);
    pnlInfo->setObjectName(QStringLiteral("pnlInfo"));
    pnlSWF->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(pnlSWF, &QWidget::customContextMenuRequested, this,
            [this](const QPoint& at) { pmMain->popup(pnlSWF->mapToGlobal(at)); });
}

void Tmainfrm::createOperationBar() {
    pnlOperation = new BarPanel(this);
    pnlOperation->setObjectName(QStringLiteral("pnlOperation"));
    const auto iconOnly = Qt::ToolButtonIconOnly;
    btnPlay = ToolButton(pnlOperation, "btnPlay", QStringLiteral("Play"), QStringLiteral("tool_play.png"), iconOnly);
    btnPause = ToolButton(pnlOperation, "btnPause", QStringLiteral("Pause"), QStringLiteral("tool_pause.png"), iconOnly);
    btnStop = ToolButton(pnlOperation, "btnStop", QStringLiteral("Stop"), QStringLiteral("tool_stop.png"), iconOnly);
    btnConverter = ToolButton(pnlOperation, "btnConverter", QStringLiteral("Convert"),
                              QStringLiteral("tool_convert.png"), Qt::ToolButtonTextBesideIcon);
    QFont bold = btnConverter->font();
    bold.setBold(true);
    btnConverter->setFont(bold);
    btnPause->hide();
    trackSWF = new controls::TSVTrackbar(pnlOperation);
    trackSWF->setObjectName(QStringLiteral("trackSWF"));
    trackSWF->SetTransParent(true);
    trackSWF->SetShowDisabledTrack(true);
    trackSWF->SetMax(100);
    trackSWF->setEnabled(false);
    lblCurrentFrame = new QLabel(QStringLiteral("0/0"), pnlOperation);
    lblCurrentFrame->setObjectName(QStringLiteral("lblCurrentFrame"));
    lblCurrentFrame->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    QPalette text = lblCurrentFrame->palette();
    text.setColor(QPalette::WindowText, kBarText);
    lblCurrentFrame->setPalette(text);

    tmrpos = new QTimer(this);
    tmrpos->setObjectName(QStringLiteral("tmrpos"));
    tmrpos->setInterval(50);
    tmrupdate = new QTimer(this);
    tmrupdate->setObjectName(QStringLiteral("tmrupdate"));
    tmrupdate->setInterval(50);

    connect(btnPlay, &QToolButton::clicked, this, [this] { btnPlayClick(); });
    connect(btnPause, &QToolButton::clicked, this, [this] { btnPauseClick(); });
    connect(btnStop, &QToolButton::clicked, this, [this] { btnStopClick(); });
    connect(btnConverter, &QToolButton::clicked, this, [this] { btnConverterClick(); });
    connect(trackSWF, &controls::TSVTrackbar::OnTickChange, this, [this] { trackSWFTickChange(); });
    connect(tmrpos, &QTimer::timeout, this, [this] { tmrposTimer(); });
    connect(tmrupdate, &QTimer::timeout, this, [this] { tmrupdateTimer(); });
}

void Tmainfrm::createMenus() {
    pmMain = new QMenu(this);
    pmMain->setObjectName(QStringLiteral("pmMain"));
    mniOpen = pmMain->addAction(QStringLiteral("Open"));
    pmMain->addSeparator();
    mniFormat = pmMain->addAction(QStringLiteral("Format..."));
    mniEdit = pmMain->addAction(QStringLiteral("Edit..."));
    mniOption = pmMain->addAction(QStringLiteral("Option..."));
    pmMain->addSeparator();
    mniFileprop = pmMain->addAction(QStringLiteral("File properties         "));
    mniFormat->setEnabled(false);
    mniEdit->setEnabled(false);
    mniFileprop->setEnabled(false);

    pmhelp = new QMenu(this);
    pmhelp->setObjectName(QStringLiteral("pmhelp"));
    mniHelp = pmhelp->addAction(QStringLiteral("Help                "));
    pmhelp->addSeparator();
    mniCheckForUpdate = pmhelp->addAction(QStringLiteral("Check For Update"));
    pmhelp->addSeparator();
    mniAbout = pmhelp->addAction(QStringLiteral("About"));

    connect(mniOpen, &QAction::triggered, this, [this] { btnOpenClick(); });
    connect(mniFormat, &QAction::triggered, this, [this] { btnFormatClick(); });
    connect(mniEdit, &QAction::triggered, this, [this] { btncropClick(); });
    connect(mniOption, &QAction::triggered, this, [this] { btnoptionClick(); });
    connect(mniFileprop, &QAction::triggered, this, [this] { mniFilepropClick(); });
    connect(mniHelp, &QAction::triggered, this, [this] { mniHelpClick(); });
    connect(mniCheckForUpdate, &QAction::triggered, this, [this] { mniCheckForUpdateClick(); });
    connect(mniAbout, &QAction::triggered, this, [this] { mniAboutClick(); });
}

void Tmainfrm::createGuide() {
    QPalette light = pnlInfo->palette();
    light.setColor(QPalette::WindowText, QColor(214, 222, 232));
    for (int i = 0; i < 3; ++i) {
        lblGuide[i] = new QLabel(kGuideLines[i], pnlInfo);
        lblGuide[i]->setObjectName(QStringLiteral("lblGuide%1").arg(i + 1));
        QFont f = lblGuide[i]->font();
        f.setPixelSize(16);
        lblGuide[i]->setFont(f);
        lblGuide[i]->setPalette(light);
        lblGuide[i]->adjustSize();
        // 11. The pictures of the buttons, set over the gaps the captions leave; the panel's black
        // around a picture hides whatever of the caption lies under its place.
        imgGuide[i] = new QLabel(pnlInfo);
        imgGuide[i]->setObjectName(QStringLiteral("imgGuide%1").arg(i + 1));
        imgGuide[i]->setPixmap(SkinPictureOrNothing(kGuidePictures[i]));
        imgGuide[i]->setAlignment(Qt::AlignCenter);
        imgGuide[i]->setAutoFillBackground(true);
        QPalette black = imgGuide[i]->palette();
        black.setColor(QPalette::Window, Qt::black);
        imgGuide[i]->setPalette(black);
    }
    imgGuide[0]->setCursor(Qt::PointingHandCursor);
    imgGuide[0]->installEventFilter(this);
}

// ---------------------------------------------------------------------------------------------
// Layout

QRect Tmainfrm::PreviewArea() const {
    return QRect(kPreviewBorder, 0, pnlSWF->width() - 2 * kPreviewBorder, pnlSWF->height());
}

void Tmainfrm::placeComponents() {
    const int w = width(), h = height();
    pnlTitle->setGeometry(0, 0, w, kTitleHeight);
    const int headLeft = 12, headRight = 12;
    imgHeadLeft->setGeometry(0, 0, headLeft, kTitleHeight);
    imgHeadRight->setGeometry(w - headRight, 0, headRight, kTitleHeight);
    imgHeadCenter->setGeometry(headLeft, 0, std::max(0, w - headLeft - headRight), kTitleHeight);
    const TitleBarPlaces places = TitleBarLayout(w, btnClose->width());
    imgLogo->move(places.logo);
    lblName->move(places.title.x(), (kTitleHeight - lblName->height()) / 2);
    btnClose->move(places.close);
    btnMin->move(btnClose->x() - btnMin->width() - 4, btnClose->y());
    for (QWidget* over : {static_cast<QWidget*>(imgLogo), static_cast<QWidget*>(lblName),
                          static_cast<QWidget*>(btnMin), static_cast<QWidget*>(btnClose)})
        over->raise();

    int y = kTitleHeight;
    pnlTool->setGeometry(0, y, w, kToolHeight);
    int x = 10;
    for (QToolButton* b : {btnOpen, btnFormat, btncrop, btnoption}) {
        b->adjustSize();
        b->setGeometry(x, (kToolHeight - 44) / 2, std::max(96, b->width() + 8), 44);
        x += b->width() + 6;
    }
    btnhelp->adjustSize();
    btnhelp->setGeometry(w - 10 - std::max(88, btnhelp->width() + 8), (kToolHeight - 44) / 2,
                         std::max(88, btnhelp->width() + 8), 44);
    y += kToolHeight;

    const int previewHeight = std::max(0, h - y - kOperationHeight - kBottomHeight);
    pnlSWF->setGeometry(0, y, w, previewHeight);
    imgSWFLeft->setGeometry(0, 0, kPreviewBorder, previewHeight);
    imgSWFRight->setGeometry(w - kPreviewBorder, 0, kPreviewBorder, previewHeight);
    if (!pnlInfo->isHidden()) {
        // Until a movie is imported the player fills the preview area.
        pnlSetSize->setGeometry(PreviewArea());
        placeGuide();
    }
    y += previewHeight;

    pnlOperation->setGeometry(0, y, w, kOperationHeight);
    const int buttonTop = (kOperationHeight - 40) / 2;
    btnPlay->setGeometry(10, buttonTop, 40, 40);
    btnPause->setGeometry(10, buttonTop, 40, 40);
    btnStop->setGeometry(54, buttonTop, 40, 40);
    btnConverter->adjustSize();
    const int convertWidth = std::max(120, btnConverter->width() + 16);
    btnConverter->setGeometry(w - 10 - convertWidth, buttonTop, convertWidth, 40);
    const int labelWidth = 90;
    lblCurrentFrame->setGeometry(btnConverter->x() - 16 - labelWidth, 0, labelWidth, kOperationHeight);
    trackSWF->setGeometry(104, (kOperationHeight - 30) / 2, std::max(40, lblCurrentFrame->x() - 8 - 104), 30);
    y += kOperationHeight;

    imgBottomLeft->setGeometry(0, h - kBottomHeight, 7, kBottomHeight);
    imgBottomRight->setGeometry(w - 7, h - kBottomHeight, 7, kBottomHeight);
    imgBottomCenter->setGeometry(7, h - kBottomHeight, std::max(0, w - 14), kBottomHeight);
}

void Tmainfrm::placeGuide() {
    const int lineGap = 22, pictureHeight = 24;
    int widest = 0, lineHeight = 0;
    for (QLabel* l : lblGuide) {
        l->adjustSize();
        widest = std::max(widest, l->width());
        lineHeight = std::max(lineHeight, std::max(l->height(), pictureHeight));
    }
    const int total = 3 * lineHeight + 2 * lineGap;
    pnlInfo->setGeometry(QRect(0, 0, widest + 4, total).translated(PreviewArea().center() -
                                                                   QPoint((widest + 4) / 2, total / 2)));
    for (int i = 0; i < 3; ++i) {
        QLabel* l = lblGuide[i];
        const int top = i * (lineHeight + lineGap);
        l->move(0, top + (lineHeight - l->height()) / 2);
        // The picture covers what stands between the quotation marks.
        const QString text = l->text();
        const qsizetype open = text.indexOf(QLatin1Char('"'));
        const qsizetype close = text.indexOf(QLatin1Char('"'), open + 1);
        const QFontMetrics fm(l->font());
        const int from = l->x() + fm.horizontalAdvance(text.left(open + 1));
        const int to = l->x() + fm.horizontalAdvance(text.left(close));
        imgGuide[i]->setGeometry(from + 1, top, std::max(0, to - from - 2), lineHeight);
        imgGuide[i]->raise();
    }
}

void Tmainfrm::FormResize() { setMask(controls::SkinnedWindowRegion(width(), height())); }

void Tmainfrm::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    FormResize();
    placeComponents();
}

void Tmainfrm::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    if (!event->spontaneous()) FormShow();
}

void Tmainfrm::closeEvent(QCloseEvent* event) {
    FormClose();
    QWidget::closeEvent(event);
}

bool Tmainfrm::eventFilter(QObject* watched, QEvent* event) {
    if (watched == pnlSWF) {
        if (event->type() == QEvent::DragEnter || event->type() == QEvent::DragMove) {
            auto* e = static_cast<QDropEvent*>(event);
            if (e->mimeData() && e->mimeData()->hasUrls()) {
                e->acceptProposedAction();
                return true;
            }
        } else if (event->type() == QEvent::Drop) {
            auto* e = static_cast<QDropEvent*>(event);
            QStringList files;
            if (e->mimeData())
                for (const QUrl& url : e->mimeData()->urls())
                    if (url.isLocalFile()) files << url.toLocalFile();
            e->acceptProposedAction();
            DragFileEventMessage(files);
            return true;
        }
    }
    if (watched == imgGuide[0] && event->type() == QEvent::MouseButtonRelease &&
        static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton) {
        btnOpenClick();
        return true;
    }
    return QWidget::eventFilter(watched, event);
}

// ---------------------------------------------------------------------------------------------
// Handlers

void Tmainfrm::FormShow() {
    if (IsCheckUpdate) tmrupdate->start();
}

void Tmainfrm::FormClose() {
    tmrpos->stop();
    tmrupdate->stop();
    if (updateCheck_ && updateCheck_->Running()) updateCheck_->Terminate();
    SoundHook.reset();
}

void Tmainfrm::LoadEncoderLibrary() {
    static const QString kLoaded = QStringLiteral("Encoder Load library successful");
    if (ffEncoder_->LibrariesLoaded()) {
        WriteInfoLine(kLoaded);
        return;
    }
    const QString folder = formats::ProgramDir() + QStringLiteral("LibAV");
    if (ffEncoder_->LoadLibraries(QFile::encodeName(folder).toStdString()))
        WriteInfoLine(kLoaded);
    else
        WriteErrorLine(QString::fromStdString(ffEncoder_->LastErrorMessage()));
}

void Tmainfrm::FFLogLog(const std::string& message) {
    try {
        WriteErrorLine(QString::fromStdString(message));
    } catch (const IoError&) {
        // The engine's chatter must never break the window; the log retries with the next line.
    }
}

void Tmainfrm::btnOpenClick() {
    const QString file = AskOpenFileName(this, SourcePath, QStringLiteral("SWF File (*.swf)"));
    if (!file.isEmpty()) OpenMovie(file);
}

void Tmainfrm::DragFileEventMessage(const QStringList& files) {
    if (files.isEmpty()) return;
    // The first file only, whatever its name: the import decides.
    OpenMovie(files.first());
}

void Tmainfrm::OpenMovie(const QString& path) {
    btnStopClick();
    TrackUpdating = 0;
    formats::ClearOptions(FileOption.Options);
    MoviePath = path;
    QString folder = QFileInfo(path).absolutePath();
    if (!folder.endsWith(QLatin1Char('/'))) folder += QLatin1Char('/');
    WriteSetting(QStringLiteral("SourcePath"), folder);

    bool imported = false;
    try {
        imported = ImportMovie(path);
    } catch (const swf::ESWFReadError& e) {
        // A file that cannot be read or whose compressed data is damaged: say why, and refuse it
        // like any other movie that cannot be opened.
        WriteErrorLine(QStringLiteral("Failed to GetSWFInfo"));
        SetMovieControlsEnabled(false);
        ShowMessageBox(this, QString::fromUtf8(e.what()), QStringLiteral("Error"), QMessageBox::Critical);
        return;
    }
    if (imported) {
        FileOption.Options.OutFileName = FileNameNoExt(path);
        FileOption.Options.SourceSize =
            QStringLiteral("%1x%2").arg(FileOption.SWFInfo.Width).arg(FileOption.SWFInfo.Height);
        swf_->SetScale(QStringLiteral("ShowAll"));
        swf_->SetMovie(path);
        btnPlay->hide();
        btnPause->show();
        SetMovieControlsEnabled(true);
        tmrpos->start();
    } else {
        SetMovieControlsEnabled(false);
        ShowMessageBox(this, kUnsupported, QStringLiteral("information"), QMessageBox::Warning);
    }
}

bool Tmainfrm::ImportMovie(const QString& path) {
    WriteInfoLine(QStringLiteral("Import File: ") + path);
    float frameRate = 0;
    int width = 0, height = 0, frameCount = 0;
    uint8_t version = 0;
    if (!swf::GetSWFInfo(QFile::encodeName(path).toStdString(), frameRate, width, height, frameCount, version)) {
        WriteErrorLine(QStringLiteral("Failed to GetSWFInfo"));
        return false;
    }
    formats::TSWFInfo& info = FileOption.SWFInfo;
    info.FileName = path;
    info.FrameCount = frameCount;
    info.Width = width;
    info.Height = height;
    info.FrameRate = FrameRateText(frameRate);
    info.FlashVersion = version;
    FileOption.Options.SourceSize = QStringLiteral("%1x%2").arg(width).arg(height);
    LayoutPlayer(width, height);
    WriteInfoLine(QStringLiteral("Succeed to GetSWFInfo"));
    trackSWF->SetMax(frameCount);
    showFrameText();
    trackSWF->setEnabled(true);
    if (frameCount == 1) lblCurrentFrame->setText(QStringLiteral("1/%1").arg(trackSWF->Max()));
    return true;
}

void Tmainfrm::LayoutPlayer(int width, int height) {
    pnlInfo->hide();
    const QRect area = PreviewArea();
    const TRect fitted = FitRect(TRect{0, 0, width, height},
                                 TRect{area.left(), area.top(), area.left() + area.width(), area.top() + area.height()});
    pnlSetSize->setGeometry(fitted.left, fitted.top, fitted.width(), fitted.height());
    RecreatePlayer();
}

void Tmainfrm::RecreatePlayer() {
    if (swf_) {
        swf_->SetMovie(kNoMovie);
        delete swf_;
        swf_ = nullptr;
    }
    // The player reads its configuration once, as the first one is made.
    (void)flash::CurrentPlayerConfiguration();
    swf_ = new player::TShockwaveFlashEx(pnlSetSize);
    swf_->setObjectName(QStringLiteral("SWF"));
    pnlSetSize->layout()->addWidget(swf_);
    swf_->SetPopupMenu(pmMain);
    swf_->SetMenu(false);
    swf_->SetBGColor(QStringLiteral("000000"));
    swf_->move(0, 0);
    swf_->show();
}

void Tmainfrm::showFrameText() {
    lblCurrentFrame->setText(QStringLiteral("%1/%2").arg(trackSWF->Position()).arg(trackSWF->Max()));
}

void Tmainfrm::btnPlayClick() {
    const QString movie = swf_->Movie();
    if (!movie.isEmpty() && movie.toLower() != QStringLiteral("none.swf"))
        swf_->Play();
    else
        swf_->SetMovie(MoviePath);
    btnPlay->hide();
    btnPause->show();
    tmrpos->start();
    trackSWF->setEnabled(true);
}

void Tmainfrm::btnPauseClick() {
    btnPlay->show();
    btnPause->hide();
    swf_->Stop();
    tmrpos->stop();
}

void Tmainfrm::btnStopClick() {
    swf_->SetMovie(kNoMovie);
    btnPlay->show();
    btnPause->hide();
    tmrpos->stop();
    trackSWF->SetPosition(0);
    showFrameText();
    trackSWF->setEnabled(false);
}

void Tmainfrm::tmrposTimer() {
    if (FileOption.SWFInfo.FrameCount < 2) {
        lblCurrentFrame->setText(QStringLiteral("1/%1").arg(trackSWF->Max()));
        tmrpos->stop();
        return;
    }
    ++TrackUpdating;
    trackSWF->SetPosition(std::max(0, swf_->CurrentFrame()));
    showFrameText();
    --TrackUpdating;
}

void Tmainfrm::trackSWFTickChange() {
    if (TrackUpdating > 0) return;
    try {
        swf_->GotoFrame(int(trackSWF->Position()));
        if (!btnPlay->isHidden())
            showFrameText();
        else
            swf_->Play();
        if (swf_->TotalFrames() == 1) trackSWF->SetPosition(0);
    } catch (const std::exception&) {
        // The player refused the frame: the bar keeps the position the user chose.
    }
}

void Tmainfrm::tmrupdateTimer() {
    tmrupdate->stop();
    if (StartUpdateCheck) StartUpdateCheck(*this);
}

void Tmainfrm::SetMovieControlsEnabled(bool enabled) {
    movieControlsEnabled_ = enabled;
    for (QWidget* w : {static_cast<QWidget*>(btnConverter), static_cast<QWidget*>(btncrop),
                       static_cast<QWidget*>(btnFormat), static_cast<QWidget*>(btnPlay),
                       static_cast<QWidget*>(btnStop)})
        w->setEnabled(enabled);
    mniEdit->setEnabled(enabled);
    mniFormat->setEnabled(enabled);
    mniFileprop->setEnabled(enabled);
    enableWindowItems();
}

void Tmainfrm::enableWindowItems() {
    // Items whose window this build does not have yet stay, disabled.
    const bool movie = movieControlsEnabled_;
    btnFormat->setEnabled(movie && kHasFormatWindow);
    mniFormat->setEnabled(movie && kHasFormatWindow);
    btncrop->setEnabled(movie && kHasCropWindow);
    mniEdit->setEnabled(movie && kHasCropWindow);
    mniFileprop->setEnabled(movie && kHasPropertiesWindow);
    btnoption->setEnabled(kHasOptionsWindow);
    mniOption->setEnabled(kHasOptionsWindow);
    mniCheckForUpdate->setEnabled(kHasUpdateWindow);
    btnConverter->setEnabled(movie && bool(RunCaptureWindow));
}

void Tmainfrm::btnFormatClick() {
    formats::TSetFormatfrm format(this);
    format.TargetName = FileOption.Options.OutFileName;
    format.MovieOptions = &FileOption;
    if (format.exec() == QDialog::Accepted) FileOption.Options.OutFileName = format.TargetName;
}

void Tmainfrm::btncropClick() {
    crop::TCropfrm crop(FileOption, swf_, this);
    crop.exec();
}

void Tmainfrm::btnoptionClick() {
    TOptionfrm options(this);
    options.exec();
}

void Tmainfrm::mniFilepropClick() {
    Tpropertiesfrm properties(FileOption, this);
    properties.exec();
}

void Tmainfrm::btnhelpClick() {
    // Under the help button, at the tool bar's left edge.
    const QPoint at(btnhelp->x(), btnhelp->y() + btnhelp->height());
    pmhelp->popup(pnlTool->mapToGlobal(at));
}

void Tmainfrm::mniHelpClick() {
    OpenUrl(QUrl::fromLocalFile(formats::ProgramDir() + QStringLiteral("help/welcome.html")));
}

void Tmainfrm::mniCheckForUpdateClick() {
    TUpdatefrm update(this);
    update.exec();
}

void Tmainfrm::mniAboutClick() {
    Taboutfrm about(this);
    about.exec();
}

void Tmainfrm::btnMinClick() { showMinimized(); }

void Tmainfrm::btnCloseClick() { close(); }

void Tmainfrm::DeleteTempFiles() {
    for (const char* name : {"brvp_temp.tpz", "brvA_temp.tpz", "brvV_temp.mp4"})
        QFile::remove(CaptureTempPath + QString::fromLatin1(name));
}

void Tmainfrm::btnConverterClick() {
    btnStopClick();
    hide();
    try {
        formats::PrepareFileOption(FileOption);
    } catch (const ConversionError& e) {
        show();
        WriteErrorLine(e.text());
        ShowMessageBox(this, e.text(), QStringLiteral("Error"), QMessageBox::Critical);
        return;
    }
    // Refused before the capture, not after it when the conversion would write.
    const QString outputFolder = OutputPath.isEmpty() ? QFileInfo(MoviePath).absolutePath() + QLatin1Char('/') : OutputPath;
    if (const QString why = conversion::OutputFolderProblem(outputFolder); !why.isEmpty()) {
        show();
        WriteErrorLine(why);
        ShowMessageBox(this, why, QStringLiteral("Error"), QMessageBox::Critical);
        return;
    }
    DeleteTempFiles();
    if (SoundHook) {
        SoundHook->RawFileName = QFile::encodeName(CaptureTempPath + QStringLiteral("brvp_temp.tpz")).toStdString();
        SoundHook->WavFileName = QFile::encodeName(CaptureTempPath + QStringLiteral("brvA_temp.tpz")).toStdString();
        SoundHook->VideoFileName = QFile::encodeName(CaptureTempPath + QStringLiteral("brvV_temp.mp4")).toStdString();
    }
    const CaptureOutcome outcome =
        RunCaptureWindow ? RunCaptureWindow(*this, MoviePath, FileOption) : CaptureOutcome::Cancelled;
    show();
    if (outcome == CaptureOutcome::Captured && RunConversionWindow) RunConversionWindow(*this, FileOption);
    // Fast capture wrote the output itself and showed where; what follows a conversion is ours.
    if (outcome == CaptureOutcome::Converted) {
        if (FinishAction == 1 && ExitProgram) ExitProgram(*this);
        else if (FinishAction == 2 && ShowShutdown) ShowShutdown(*this);
    }
}

}  // namespace qm::app
