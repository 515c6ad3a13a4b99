#include "formats/windows/set_format_window.h"

#include <QAbstractButton>
#include <QApplication>
#include <QCloseEvent>
#include <QDesktopServices>
#include <QFileDialog>
#include <QFileInfo>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPainter>
#include <QUrl>

#include "formats/windows/user_format_window.h"

namespace qm::formats {

namespace {

TSetFormatfrm* activeWindow = nullptr;

const QString kAudioFilter = QStringLiteral(
    "All Support Audio Format|*.m4a;*.m4b;*.m4p;*.aa;*.mp3;*.m4a;*.mp2;*.wma;*.aac;*.ac3;*.mka;*.ogg;"
    "*.aif;*.aiff;*.ra;*.ram;*.wav;*.ape;*.cue;*.au;*.flac|All File|*.*");

// "Description|*.a;*.b|..." as the Qt dialogs take it: one "Description (*.a *.b)" a line.
QString QtFilter(const QString& filter) {
    const QStringList parts = filter.split(QLatin1Char('|'));
    QStringList out;
    for (qsizetype i = 0; i + 1 < parts.size(); i += 2) {
        QString patterns = parts[i + 1];
        patterns.replace(QLatin1Char(';'), QLatin1Char(' '));
        out << parts[i] + QStringLiteral(" (") + patterns + QLatin1Char(')');
    }
    return out.join(QStringLiteral(";;"));
}

TFormatWindowPrompts DefaultPrompts() {
    TFormatWindowPrompts p;
    p.Information = [](QWidget* parent, const QString& caption, const QString& text) {
        QApplication::beep();
        QString shown = text;
        shown.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
        QMessageBox box(QMessageBox::Information, caption, shown, QMessageBox::Ok, parent);
        box.exec();
    };
    p.SaveFile = [](QWidget* parent, const QString& initialPath, const QString& filter,
                    const QString& defaultSuffix) {
        QFileDialog dialog(parent, QString(), initialPath, QtFilter(filter));
        dialog.setAcceptMode(QFileDialog::AcceptSave);
        dialog.setFileMode(QFileDialog::AnyFile);
        dialog.setDefaultSuffix(defaultSuffix.startsWith(QLatin1Char('.')) ? defaultSuffix.mid(1) : defaultSuffix);
        dialog.selectFile(initialPath);
        return dialog.exec() == QDialog::Accepted && !dialog.selectedFiles().isEmpty()
                   ? dialog.selectedFiles().constFirst()
                   : QString();
    };
    p.OpenFile = [](QWidget* parent, const QString& folder, const QString& filter) {
        return QFileDialog::getOpenFileName(parent, QString(), folder, QtFilter(filter));
    };
    p.OpenFolder = [](const QString& folder) { QDesktopServices::openUrl(QUrl::fromLocalFile(folder)); };
    p.ShowUserFormat = [](TUserformatfrm& dialog) { dialog.exec(); };
    return p;
}

QString WithSlash(const QString& folder) {
    return folder.isEmpty() || folder.endsWith(QLatin1Char('/')) ? folder : folder + QLatin1Char('/');
}

// The format name over the format box, left of the drop-down button, after the group glyph.
class CaptionButton : public QAbstractButton {
public:
    using QAbstractButton::QAbstractButton;

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter p(this);
        p.fillRect(rect(), palette().color(QPalette::Base));
        p.setPen(palette().color(isEnabled() ? QPalette::Active : QPalette::Disabled, QPalette::Text));
        const QRect textRect = rect().adjusted(kTextMargin, 0, -2, 0);
        p.drawText(textRect, Qt::AlignVCenter | Qt::AlignLeft,
                   fontMetrics().elidedText(text(), Qt::ElideRight, textRect.width()));
    }

private:
    static constexpr int kTextMargin = 23;
};

}  // namespace

TFormatWindowPrompts& FormatWindowPrompts() {
    static TFormatWindowPrompts prompts = DefaultPrompts();
    return prompts;
}

void ResetFormatWindowPrompts() { FormatWindowPrompts() = DefaultPrompts(); }

bool ShowSetFormatWindow(QWidget* parent, TFileOption& fileOption) {
    TSetFormatfrm window(parent);
    window.TargetName = fileOption.Options.OutFileName;
    window.MovieOptions = &fileOption;
    if (window.exec() != QDialog::Accepted) return false;
    fileOption.Options.OutFileName = window.TargetName;
    return true;
}

QPixmap GroupGlyph(int32_t groupId) {
    for (const TGroupFormat& g : FormatGroups)
        if (g.Order == groupId && !g.IconImage.isNull())
            return QPixmap::fromImage(g.IconImage.scaled(16, 16, Qt::KeepAspectRatio, Qt::SmoothTransformation));
    return {};
}

// ---------------------------------------------------------------------------

TFormatComboBox::TFormatComboBox(QWidget* parent) : QComboBox(parent) {
    setEditable(true);
    setInsertPolicy(QComboBox::NoInsert);
    setCompleter(nullptr);
    lineEdit()->installEventFilter(this);
    setMaxVisibleItems(16);
}

void TFormatComboBox::SetTypeable(bool typeable) {
    typeable_ = typeable;
    lineEdit()->setReadOnly(!typeable);
}

void TFormatComboBox::setText(const QString& text) { setEditText(text); }

bool TFormatComboBox::eventFilter(QObject* watched, QEvent* event) {
    // A pick-only box opens its list wherever it is clicked.
    if (!typeable_ && watched == lineEdit() && event->type() == QEvent::MouseButtonPress && isEnabled()) {
        showPopup();
        return true;
    }
    return QComboBox::eventFilter(watched, event);
}

void TFormatComboBox::keyPressEvent(QKeyEvent* event) {
    // A pick-only box completes what is typed to the next entry starting with it.
    const QString typed = event->text();
    if (!typeable_ && !typed.isEmpty() && typed[0].isPrint()) {
        for (int step = 1; step <= count(); ++step) {
            const int i = (std::max(0, currentIndex()) + step) % count();
            if (itemText(i).startsWith(typed, Qt::CaseInsensitive)) {
                setCurrentIndex(i);
                break;
            }
        }
        return;
    }
    QComboBox::keyPressEvent(event);
}

// ---------------------------------------------------------------------------

TSetFormatfrm::TSetFormatfrm(QWidget* parent) : controls::SkinnedWindow(parent) {
    setObjectName(QStringLiteral("SetFormatfrm"));
    setWindowTitle(QStringLiteral("Format"));
    AddDialogButtons();
    QWidget* c = ClientArea();
    // Wide enough for the picker, which drops down inside this window under the format box.
    const int w = 560;
    const int sideX = w - 140, sideW = 130;

    btnFormat = new TVCButtonEdit(c);
    btnFormat->setObjectName(QStringLiteral("btnFormat"));
    btnFormat->SetButtonWidth(15);
    btnFormat->SetTypeable(false);
    btnFormat->Button()->setArrowType(Qt::DownArrow);
    btnFormat->setGeometry(10, 12, sideX - 20, 26);
    btnCaption = new CaptionButton(c);
    btnCaption->setObjectName(QStringLiteral("btnCaption"));
    btnCaption->setGeometry(12, 14, sideX - 20 - 15 - 4, 22);
    btnCaption->setCursor(Qt::PointingHandCursor);
    btnbmpGroup = new QLabel(c);
    btnbmpGroup->setObjectName(QStringLiteral("btnbmpGroup"));
    btnbmpGroup->setEnabled(false);
    btnbmpGroup->setGeometry(16, 17, 16, 16);
    btnbmpGroup->setAttribute(Qt::WA_TransparentForMouseEvents);
    btnAddmyFormat = new controls::SkinButton(c);
    btnAddmyFormat->setObjectName(QStringLiteral("btnAddmyFormat"));
    btnAddmyFormat->setText(QStringLiteral("Add to my formats"));
    btnAddmyFormat->setGeometry(sideX, 12, sideW, 26);

    auto* lblOutput = new QLabel(QStringLiteral("Output File:"), c);
    lblOutput->setGeometry(10, 48, 80, 24);
    btnOutputFile = new TVCButtonEdit(c);
    btnOutputFile->setObjectName(QStringLiteral("btnOutputFile"));
    btnOutputFile->SetTypeable(false);
    btnOutputFile->SetButtonWidth(24);
    btnOutputFile->Button()->setText(QStringLiteral("..."));
    btnOutputFile->Button()->setToolTip(QStringLiteral("Output file"));
    btnOutputFile->setGeometry(90, 48, sideX - 100, 24);
    btnLocate = new controls::SkinButton(c);
    btnLocate->setObjectName(QStringLiteral("btnLocate"));
    btnLocate->setText(QStringLiteral("Open Folder"));
    btnLocate->setGeometry(sideX, 47, sideW, 26);

    auto box = [](QWidget* parent, const char* name) {
        auto* b = new TFormatComboBox(parent);
        b->setObjectName(QString::fromLatin1(name));
        return b;
    };
    auto label = [](QWidget* parent, const char* text, int x, int y) {
        auto* l = new QLabel(QString::fromLatin1(text), parent);
        l->setGeometry(x, y, 84, 24);
    };
    // Two columns of label and box; the left boxes are wide enough for "2 Channels Stereo".
    const int colL = 12, colR = 292, boxL = colL + 80, boxR = colR + 90, wideW = 170, narrowW = 140;

    grpVideo_ = new QGroupBox(QStringLiteral("Video"), c);
    grpVideo_->setGeometry(10, 84, w - 20, 92);
    cbbVideoEncoder = box(grpVideo_, "cbbVideoEncoder");
    cbbResolution = box(grpVideo_, "cbbResolution");
    cbbFrameRate = box(grpVideo_, "cbbFrameRate");
    cbbVideoBitRate = box(grpVideo_, "cbbVideoBitRate");
    label(grpVideo_, "Encoder:", colL, 24);
    label(grpVideo_, "Resolution:", colL, 56);
    label(grpVideo_, "Frame Rate:", colR, 24);
    label(grpVideo_, "Bit Rate:", colR, 56);
    cbbVideoEncoder->setGeometry(boxL, 24, wideW, 24);
    cbbResolution->setGeometry(boxL, 56, wideW, 24);
    cbbFrameRate->setGeometry(boxR, 24, narrowW, 24);
    cbbVideoBitRate->setGeometry(boxR, 56, narrowW, 24);

    grpAudio_ = new QGroupBox(QStringLiteral("Audio"), c);
    grpAudio_->setGeometry(10, 184, w - 20, 156);
    cbbAudioEncoder = box(grpAudio_, "cbbAudioEncoder");
    cbbChannel = box(grpAudio_, "cbbChannel");
    cbbSampleRate = box(grpAudio_, "cbbSampleRate");
    cbbAudioBitrate = box(grpAudio_, "cbbAudioBitrate");
    label(grpAudio_, "Encoder:", colL, 24);
    label(grpAudio_, "Channel:", colL, 56);
    label(grpAudio_, "Sample Rate:", colR, 24);
    label(grpAudio_, "Bit Rate:", colR, 56);
    cbbAudioEncoder->setGeometry(boxL, 24, wideW, 24);
    cbbChannel->setGeometry(boxL, 56, wideW, 24);
    cbbSampleRate->setGeometry(boxR, 24, narrowW, 24);
    cbbAudioBitrate->setGeometry(boxR, 56, narrowW, 24);
    chkEnabledaudio = new QCheckBox(QStringLiteral("Enable audio"), grpAudio_);
    chkEnabledaudio->setObjectName(QStringLiteral("chkEnabledaudio"));
    chkEnabledaudio->setChecked(true);
    chkEnabledaudio->setGeometry(colL, 90, 120, 24);
    chkreplaceaudio = new QCheckBox(QStringLiteral("Replace Audio"), grpAudio_);
    chkreplaceaudio->setObjectName(QStringLiteral("chkreplaceaudio"));
    chkreplaceaudio->setEnabled(false);
    chkreplaceaudio->setGeometry(colL, 120, 120, 24);
    btnImport = new TVCButtonEdit(grpAudio_);
    btnImport->setObjectName(QStringLiteral("btnImport"));
    btnImport->SetTypeable(false);
    btnImport->SetButtonWidth(24);
    btnImport->Button()->setText(QStringLiteral("..."));
    btnImport->Button()->setToolTip(QStringLiteral("Audio file"));
    btnImport->setGeometry(boxL + 40, 120, boxR + 30 - boxL - 40, 24);
    chkloop = new QCheckBox(QStringLiteral("Loop"), grpAudio_);
    chkloop->setObjectName(QStringLiteral("chkloop"));
    chkloop->setGeometry(boxR + 40, 120, 70, 24);

    resize(w + 2 * kBorderWidth, kTitleHeight + 390 + kBottomHeight);
    setFixedSize(size());
    LoadSkin();
    for (controls::SkinButton* b : {btnAddmyFormat, btnLocate})
        b->SetPictures(OkButton()->Up(), OkButton()->Hot(), OkButton()->Down());

    // OK and Cancel run their own handlers; the header's close button only closes.
    disconnect(OkButton(), nullptr, this, nullptr);
    disconnect(CancelButton(), nullptr, this, nullptr);
    connect(OkButton(), &QAbstractButton::clicked, this, &TSetFormatfrm::btnOKClick);
    connect(CancelButton(), &QAbstractButton::clicked, this, &TSetFormatfrm::btnCancelClick);
    connect(btnAddmyFormat, &QAbstractButton::clicked, this, &TSetFormatfrm::btnAddmyFormatClick);
    connect(btnLocate, &QAbstractButton::clicked, this, &TSetFormatfrm::btnLocateClick);
    connect(btnOutputFile, &TVCButtonEdit::OnButtonClick, this, &TSetFormatfrm::btnOutputFileClick);
    connect(btnImport, &TVCButtonEdit::OnButtonClick, this, &TSetFormatfrm::btnImportClick);
    connect(btnFormat, &TVCButtonEdit::textChanged, this, &TSetFormatfrm::btnFormatChange);
    connect(btnFormat, &TVCButtonEdit::OnButtonClick, this, &TSetFormatfrm::TogglePicker);
    connect(btnCaption, &QAbstractButton::clicked, this, &TSetFormatfrm::TogglePicker);
    connect(btnFormat, &TVCButtonEdit::OnButtonMouseEnter, this, [this] { SetPickerKeepOpen(true); });
    connect(btnFormat, &TVCButtonEdit::OnButtonMouseLeave, this, [this] { SetPickerKeepOpen(false); });
    btnCaption->installEventFilter(this);
    connect(chkEnabledaudio, &QAbstractButton::clicked, this, &TSetFormatfrm::SetAudioControls);
    connect(chkreplaceaudio, &QAbstractButton::clicked, this, [this](bool on) {
        btnImport->setEnabled(on);
        chkloop->setEnabled(on);
    });
    connect(cbbVideoEncoder, &QComboBox::currentIndexChanged, this, &TSetFormatfrm::cbbVideoEncoderChange);
}

TSetFormatfrm::~TSetFormatfrm() {
    if (activeWindow == this) activeWindow = nullptr;
}

TSetFormatfrm* TSetFormatfrm::Active() { return activeWindow; }

bool TSetFormatfrm::eventFilter(QObject* watched, QEvent* event) {
    if (watched == btnCaption) {
        if (event->type() == QEvent::Enter) SetPickerKeepOpen(true);
        if (event->type() == QEvent::Leave) SetPickerKeepOpen(false);
    }
    return controls::SkinnedWindow::eventFilter(watched, event);
}

void TSetFormatfrm::showEvent(QShowEvent* event) {
    controls::SkinnedWindow::showEvent(event);
    if (event->spontaneous()) return;
    activeWindow = this;
    FormShow();
}

void TSetFormatfrm::closeEvent(QCloseEvent* event) {
    if (activeWindow == this) activeWindow = nullptr;
    controls::SkinnedWindow::closeEvent(event);
}

void TSetFormatfrm::keyPressEvent(QKeyEvent* event) {
    // Escape is the Cancel button, restoring what was current; only the header's close button
    // leaves the picker's choice.
    if (event->key() == Qt::Key_Escape && event->modifiers() == Qt::NoModifier) {
        btnCancelClick();
        return;
    }
    controls::SkinnedWindow::keyPressEvent(event);
}

void TSetFormatfrm::done(int result) {
    if (activeWindow == this) activeWindow = nullptr;
    if (TformatFrm* picker = TformatFrm::Instance(); picker && picker->Showing()) picker->ClosePicker();
    controls::SkinnedWindow::done(result);
}

void TSetFormatfrm::FormShow() {
    DeletedIDs.clear();
    btnFormat->setText(CurrentFormat.Name);
    btnFormatChange(btnFormat->text());
    SavedFormat = CurrentFormat;
    SavedOptions = CurrentOptions;
    OutputFolder = WithSlash(app::OutputPath);
    RefreshOutputFile();
    btnAddmyFormat->setFocus();
    FillFromFormat();
    if (MovieOptions) {
        const TVCOutPutOptions& o = MovieOptions->Options;
        if (o.ReplaceAudioMode > 0 && chkreplaceaudio->isEnabled()) {
            chkreplaceaudio->setChecked(true);
            btnImport->setEnabled(true);
            chkloop->setEnabled(true);
        }
        chkloop->setChecked(o.ReplaceAudioMode == 2);
        btnImport->setText(o.ReplaceAudioFile);
    }
}

QString TSetFormatfrm::FormatBoxText() const { return btnFormat->text(); }

void TSetFormatfrm::SetFormatBoxText(const QString& text) { btnFormat->setText(text); }

void TSetFormatfrm::btnFormatChange(const QString& text) {
    btnCaption->setText(text);
    btnbmpGroup->setPixmap(GroupGlyph(CurrentFormat.GroupID));
}

void TSetFormatfrm::RefreshOutputFile() {
    btnOutputFile->setText(OutputFolder + TargetName + CurrentOptions.FileExt);
}

void TSetFormatfrm::FillBox(TFormatComboBox* box, const QString& list, const QString& def, const QString& saved) {
    auto indexOf = [box](const QString& text) {
        for (int i = 0; i < box->count(); ++i)
            if (box->itemText(i) == text) return i;
        return -1;
    };
    box->addItems(app::SplitText(list, QStringLiteral(",")));
    box->setCurrentIndex(indexOf(def));
    if (box->currentIndex() < 0) box->setText(QString());
    if (saved.isEmpty()) return;
    if (const int i = indexOf(saved); i >= 0)
        box->setCurrentIndex(i);
    else
        box->setText(saved);
}

void TSetFormatfrm::FillFromFormat() {
    filling_ = true;
    const TFormatInfo& f = CurrentFormat;
    const TVCOutPutOptions& o = CurrentOptions;
    for (TFormatComboBox* b : {cbbVideoEncoder, cbbResolution, cbbFrameRate, cbbVideoBitRate, cbbAudioEncoder,
                               cbbChannel, cbbSampleRate, cbbAudioBitrate})
        b->clear();
    for (TFormatComboBox* b : {cbbVideoEncoder, cbbChannel, cbbSampleRate, cbbAudioEncoder}) b->SetTypeable(false);
    for (TFormatComboBox* b : {cbbResolution, cbbFrameRate, cbbVideoBitRate, cbbAudioBitrate})
        b->SetTypeable(f.Enabled);
    const bool video = !f.VideoEncoder.isEmpty();
    if (video) {
        for (TFormatComboBox* b : {cbbVideoEncoder, cbbResolution, cbbFrameRate, cbbVideoBitRate}) b->setEnabled(true);
        LinkedVideoLists = f.VideoEncoderList.contains(QStringLiteral("PAL"));
        cbbResolution->setEnabled(!LinkedVideoLists);
        cbbFrameRate->setEnabled(!LinkedVideoLists);
        if (LinkedVideoLists) cbbResolution->SetTypeable(false);
        FillBox(cbbVideoEncoder, f.VideoEncoderList, f.VideoEncoder, o.VideoCodec);
        FillBox(cbbResolution, f.ResolutionList, f.Resolution, o.Resolution);
        const auto rateText = [](const QString& rate) {
            return rate == KeepOriginal ? KeepOriginal : rate + QStringLiteral(" fps");
        };
        FillBox(cbbFrameRate, f.FrameRateList, rateText(f.FrameRate), rateText(o.FrameRate));
        FillBox(cbbVideoBitRate, f.VideoBitRateList,
                f.VideoBitrate == -1 ? KeepOriginal : QString::number(f.VideoBitrate) + QStringLiteral(" kbps"),
                o.VideoBitRate == -1 ? QStringLiteral("Auto") : QString::number(o.VideoBitRate) + QStringLiteral(" kbps"));
        chkEnabledaudio->setEnabled(true);
    } else {
        LinkedVideoLists = false;
        for (TFormatComboBox* b : {cbbVideoEncoder, cbbResolution, cbbFrameRate, cbbVideoBitRate}) b->setEnabled(false);
        chkEnabledaudio->setEnabled(false);
    }
    FillBox(cbbAudioEncoder, f.AudioEncoderlist, f.AudioEncoder, o.AudioCodec);
    FillBox(cbbChannel, f.ChannelList, f.Channel == 2 ? QStringLiteral("2 Channels Stereo") : QStringLiteral("1 Channel Mono"),
            o.Channels == 1 ? QStringLiteral("1 Channel Mono") : QString::number(o.Channels) + QStringLiteral(" Channels Stereo"));
    FillBox(cbbSampleRate, f.SampleRateList, QString::number(f.SampleRate) + QStringLiteral(" Hz"),
            QString::number(o.SampleRate) + QStringLiteral(" Hz"));
    FillBox(cbbAudioBitrate, f.AudioBitRateList, QString::number(f.AudioBitrate) + QStringLiteral(" kbps"),
            QString::number(o.AudioBitRate) + QStringLiteral(" kbps"));
    // An audio-only format has nothing to make without its sound, so its audio stays on.
    const bool audio = video ? !o.AudioDisabled : true;
    chkEnabledaudio->setChecked(audio);
    SetAudioControls(audio);
    if (!video) {
        chkreplaceaudio->setChecked(false);
        chkloop->setChecked(false);
        chkreplaceaudio->setEnabled(false);
        chkloop->setEnabled(false);
        btnImport->setEnabled(false);
    } else if (audio) {
        chkreplaceaudio->setEnabled(true);
    }
    filling_ = false;
}

void TSetFormatfrm::SetAudioControls(bool on) {
    for (QWidget* b : {static_cast<QWidget*>(cbbAudioEncoder), static_cast<QWidget*>(cbbChannel),
                       static_cast<QWidget*>(cbbSampleRate), static_cast<QWidget*>(cbbAudioBitrate),
                       static_cast<QWidget*>(btnImport), static_cast<QWidget*>(chkreplaceaudio)})
        b->setEnabled(on);
    const bool replace = on && chkreplaceaudio->isChecked();
    btnImport->setEnabled(replace);
    chkloop->setEnabled(replace);
}

void TSetFormatfrm::cbbVideoEncoderChange(int index) {
    if (filling_ || !LinkedVideoLists) return;
    cbbResolution->setCurrentIndex(index);
    cbbFrameRate->setCurrentIndex(index);
}

TFormatValues TSetFormatfrm::BoxValues() const {
    TFormatValues v;
    v.VideoEncoder = cbbVideoEncoder->text();
    v.Resolution = cbbResolution->text();
    v.FrameRate = cbbFrameRate->text();
    v.VideoBitRate = cbbVideoBitRate->text();
    v.AudioEncoder = cbbAudioEncoder->text();
    v.Channel = cbbChannel->text();
    v.SampleRate = cbbSampleRate->text();
    v.AudioBitRate = cbbAudioBitrate->text();
    v.AudioEnabled = chkEnabledaudio->isChecked();
    v.ReplaceAudio = chkreplaceaudio->isChecked();
    v.Loop = chkloop->isChecked();
    v.AudioFile = btnImport->text();
    return v;
}

void TSetFormatfrm::Refuse(QWidget* box, const QString& message) {
    FormatWindowPrompts().Information(this, QStringLiteral("Information"), message);
    if (box) box->setFocus();
}

bool TSetFormatfrm::ValidateValues() {
    const TFormatValueCheck check = ValidateFormatValues(CurrentFormat, BoxValues());
    if (check.Passed()) return true;
    QWidget* box = nullptr;
    switch (check.Box) {
        case TFormatValueBox::Resolution: box = cbbResolution; break;
        case TFormatValueBox::FrameRate: box = cbbFrameRate; break;
        case TFormatValueBox::VideoBitRate: box = cbbVideoBitRate; break;
        case TFormatValueBox::AudioBitRate: box = cbbAudioBitrate; break;
        case TFormatValueBox::None: break;
    }
    Refuse(box, check.Message);
    return false;
}

void TSetFormatfrm::TakeValues() {
    TakeFormatValues(CurrentFormat, BoxValues(), CurrentOptions, MovieOptions ? &MovieOptions->Options : nullptr);
}

void TSetFormatfrm::btnOKClick() {
    if (!ValidateValues()) return;
    TakeValues();
    try {
        SaveDefaultOptions(CurrentOptions);
        AddRecent(CurrentFormat.ID);
        if (OutputFolder != app::OutputPath) app::WriteSetting(QStringLiteral("OutputPath"), OutputFolder);
        if (const QString file = btnImport->text(); !file.isEmpty()) {
            const QString folder = WithSlash(QFileInfo(file).absolutePath());
            if (folder != app::SourceAudioPath) app::WriteSetting(QStringLiteral("SourceAudioPath"), folder);
        }
    } catch (const app::IoError& e) {
        // The profile stays in use for this run; the user learns it was not kept.
        if (app::AppLog) app::AppLog->WriteError(e.text());
        FormatWindowPrompts().Information(this, QStringLiteral("Error"), e.text());
    }
    accept();
}

void TSetFormatfrm::btnCancelClick() {
    if (DeletedIDs.contains(SavedFormat.ID)) {
        ClearOptions(SavedOptions);
        OptionsFromFormat(SavedOptions, DefaultFormatID);
        FindFormat(SavedOptions.FormatID, SavedFormat);
        try {
            SaveDefaultOptions(SavedOptions);
        } catch (const app::IoError& e) {
            if (app::AppLog) app::AppLog->WriteError(e.text());
        }
    }
    CurrentOptions = SavedOptions;
    CurrentFormat = SavedFormat;
    reject();
}

void TSetFormatfrm::btnAddmyFormatClick() {
    if (!ValidateValues()) return;
    TakeValues();
    TUserformatfrm dialog(this, this);
    FormatWindowPrompts().ShowUserFormat(dialog);
}

void TSetFormatfrm::btnOutputFileClick() {
    const QString ext = CurrentOptions.FileExt;
    const QString filter = ext.mid(1) + QStringLiteral(" foramt") + QStringLiteral("(*") + ext + QStringLiteral(")|") +
                           QStringLiteral("*") + ext;
    const QString chosen = FormatWindowPrompts().SaveFile(this, OutputFolder + TargetName + ext, filter, ext);
    if (chosen.isEmpty()) return;
    btnOutputFile->setText(chosen);
    OutputFolder = WithSlash(QFileInfo(chosen).absolutePath());
    TargetName = app::FileNameNoExt(chosen);
}

void TSetFormatfrm::btnLocateClick() { FormatWindowPrompts().OpenFolder(OutputFolder); }

void TSetFormatfrm::btnImportClick() {
    const QString chosen = FormatWindowPrompts().OpenFile(this, app::SourceAudioPath, kAudioFilter);
    if (chosen.isEmpty()) return;
    QString refusal;
    try {
        refusal = AudioFileRefusal(chosen);
    } catch (const std::exception& e) {
        refusal = QStringLiteral("Failed to Load file, error message: ") + QString::fromUtf8(e.what());
    }
    if (refusal.isEmpty()) {
        btnImport->setText(chosen);
        return;
    }
    if (app::AppLog) app::AppLog->WriteError(refusal);
    FormatWindowPrompts().Information(this, QStringLiteral("Information"), refusal);
    btnImport->setText(QString());
}

void TSetFormatfrm::TogglePicker() {
    TformatFrm* picker = TformatFrm::Instance();
    // Without the main window's picker (a window opened on its own) the window makes its own.
    if (!picker) picker = new TformatFrm(this);
    picker->Toggle(this, btnFormat);
}

void TSetFormatfrm::SetPickerKeepOpen(bool keep) {
    if (TformatFrm* picker = TformatFrm::Instance()) picker->SetKeepOpen(keep);
}

}  // namespace qm::formats
