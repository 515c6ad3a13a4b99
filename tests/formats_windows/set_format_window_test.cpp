// The custom format settings window: boxes filled from the format and the saved profile, the
// checks and messages of OK, what OK stores, Cancel's restoring, the file dialogs.
#include <QDataStream>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QScreen>
#include <QAbstractItemView>
#include <QTimer>
#include <QToolButton>

#include "engine/library_loader.h"
#include "set_format_window_support.h"

namespace qm::formats::test {
namespace {

const QString kResolutionMessage = QStringLiteral(
    "Please input an appropriate resolution.\r\n"
    "(eg: 640x480.Both values must be multiples of 4 and range from 80x80 to 1920x1280)");
const QString kFrameRateMessage = QStringLiteral(
    "Please input an appropriate Frame Rate.\r\n(eg: 12.The value must be range from 12 ps to 60 fps)");
const QString kAudioBitRateMessage = QStringLiteral("Please input an appropriate Audio BitRate.\r\n(eg: 128)");

QString IniValue(const QString& file, const char* section, const char* key) {
    return app::IniFile(file).ReadString(QString::fromLatin1(section), QString::fromLatin1(key), QStringLiteral("<none>"));
}

bool Focused(QWidget* box) {
    QWidget* f = QApplication::focusWidget();
    return f && (f == box || box->isAncestorOf(f));
}

using SetFormatWindowTest = FormatWindowTest;

TEST_F(SetFormatWindowTest, ShowingFillsTheBoxesFromFormatAndProfile) {
    ClearFormatList(BuiltInFormats);
    MakeCatalogue();
    TSetFormatfrm& w = Open(1004);
    EXPECT_EQ(w.windowTitle(), "Format");
    EXPECT_EQ(w.btnFormat->text(), "MP4");
    EXPECT_EQ(w.btnCaption->text(), "MP4");
    EXPECT_EQ(w.btnOutputFile->text(), app::OutputPath + "movie.mp4");
    EXPECT_EQ(w.cbbVideoEncoder->text(), "h.264");
    EXPECT_EQ(w.cbbVideoEncoder->count(), 3);  // "h.264,,MPEG-4," gives an empty last entry
    EXPECT_EQ(w.cbbResolution->text(), KeepOriginal);
    EXPECT_EQ(w.cbbFrameRate->text(), KeepOriginal);
    EXPECT_EQ(w.cbbVideoBitRate->text(), "Auto");  // a saved -1 is "Auto", not in the list
    EXPECT_EQ(w.cbbAudioEncoder->text(), "aac");
    EXPECT_EQ(w.cbbChannel->text(), "2 Channels Stereo");
    EXPECT_EQ(w.cbbSampleRate->text(), "44100 Hz");
    EXPECT_EQ(w.cbbAudioBitrate->text(), "128 kbps");
    EXPECT_TRUE(w.chkEnabledaudio->isChecked());
    EXPECT_TRUE(w.chkreplaceaudio->isEnabled());
    EXPECT_FALSE(w.btnImport->isEnabled());
    EXPECT_FALSE(w.chkloop->isEnabled());
    // Typed values where the format allows them; the encoder, channel and rate lists are pick-only.
    for (TFormatComboBox* b : {w.cbbResolution, w.cbbFrameRate, w.cbbVideoBitRate, w.cbbAudioBitrate})
        EXPECT_TRUE(b->Typeable()) << b->objectName().toStdString();
    for (TFormatComboBox* b : {w.cbbVideoEncoder, w.cbbChannel, w.cbbSampleRate, w.cbbAudioEncoder})
        EXPECT_FALSE(b->Typeable()) << b->objectName().toStdString();
}

TEST_F(SetFormatWindowTest, PickOnlyBoxesShowSavedValuesNotInTheirLists) {
    ASSERT_TRUE(FindFormat(1005, CurrentFormat));
    OptionsFromFormat(CurrentOptions, 1005);
    CurrentOptions.VideoBitRate = 777;
    CurrentOptions.Resolution = QStringLiteral("500x400");
    CurrentOptions.FrameRate = QStringLiteral("15");
    CurrentOptions.Channels = 1;
    TSetFormatfrm& w = Show();
    for (TFormatComboBox* b : {w.cbbResolution, w.cbbFrameRate, w.cbbVideoBitRate, w.cbbAudioBitrate})
        EXPECT_FALSE(b->Typeable()) << b->objectName().toStdString();
    EXPECT_EQ(w.cbbVideoBitRate->text(), "777 kbps");
    EXPECT_EQ(w.cbbVideoBitRate->currentIndex(), 0);  // the list's default stays picked underneath
    EXPECT_EQ(w.cbbResolution->text(), "500x400");
    EXPECT_EQ(w.cbbFrameRate->currentIndex(), 2);  // "15 fps" is an entry: it is picked
    EXPECT_EQ(w.cbbChannel->text(), "1 Channel Mono");
    // Typing into a pick-only box changes nothing but the entry picked: a letter moves to the
    // next entry starting with it.
    w.cbbVideoBitRate->lineEdit()->setFocus();
    QTest::keyClicks(w.cbbVideoBitRate->lineEdit(), "99");
    EXPECT_NE(w.cbbVideoBitRate->text(), "99");
    ASSERT_EQ(w.cbbVideoEncoder->text(), "WMV2");
    QTest::keyClick(w.cbbVideoEncoder->lineEdit(), Qt::Key_W);
    EXPECT_EQ(w.cbbVideoEncoder->text(), "WMV1");
    // A click anywhere on a pick-only box opens its list.
    QTest::mouseClick(w.cbbResolution->lineEdit(), Qt::LeftButton);
    EXPECT_TRUE(w.cbbResolution->view()->isVisible());
    w.cbbResolution->hidePopup();
}

TEST_F(SetFormatWindowTest, KeepOriginalPassesAndIsStored) {
    TSetFormatfrm& w = Open(1004);
    w.cbbResolution->setText(KeepOriginal);
    w.cbbFrameRate->setText(KeepOriginal);
    w.cbbVideoBitRate->setText(QStringLiteral("512 kbps"));
    Click(w.OkButton());
    EXPECT_TRUE(shown.isEmpty());
    EXPECT_EQ(w.result(), QDialog::Accepted);
    EXPECT_FALSE(w.isVisible());
    EXPECT_EQ(CurrentOptions.Resolution, KeepOriginal);
    EXPECT_EQ(CurrentOptions.FrameRate, KeepOriginal);
    EXPECT_EQ(CurrentOptions.VideoBitRate, 512);
    const QString ini = FormatDefaultFileName();
    EXPECT_EQ(IniValue(ini, "Video", "Resolution"), KeepOriginal);
    EXPECT_EQ(IniValue(ini, "Video", "FrameRate"), KeepOriginal);
    EXPECT_EQ(IniValue(ini, "Video", "BitRate"), "512");
    EXPECT_EQ(IniValue(ini, "Format", "FormatID"), "1004");
    EXPECT_EQ(ReadRecent(), QStringList{"1004"});
}

TEST_F(SetFormatWindowTest, ResolutionAndFrameRateChecks) {
    struct Case {
        const char *resolution, *frameRate;
        QString message;  // empty: accepted
    } cases[] = {
        {"1920x1280", "25 fps", {}},
        {"1921x480", "25 fps", kResolutionMessage},
        {"640x79", "25 fps", kResolutionMessage},
        {"640X480", "25 fps", kResolutionMessage},
        {"x480", "25 fps", kResolutionMessage},
        {"640x480x2", "25 fps", kResolutionMessage},
        {"640xabc", "25 fps", QStringLiteral("'abc' is not a valid integer value")},
        {"640x480", "12 fps", {}},
        {"640x480", "60", {}},
        {"640x480", "10 fps", {}},  // offered by the format itself
        {"640x480", "11.9", kFrameRateMessage},
        {"640x480", "60.5", kFrameRateMessage},
        {"640x480", "5", kFrameRateMessage},
        {"640x480", "12.5.5", QStringLiteral("'12.5.5' is not a valid floating point value")},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.resolution) + " " + c.frameRate);
        shown.clear();
        QFile::remove(FormatDefaultFileName());
        TSetFormatfrm& w = Open(1004);
        QApplication::setActiveWindow(&w);
        w.cbbResolution->setText(QString::fromLatin1(c.resolution));
        w.cbbFrameRate->setText(QString::fromLatin1(c.frameRate));
        Click(w.OkButton());
        if (c.message.isEmpty()) {
            EXPECT_TRUE(shown.isEmpty());
            EXPECT_EQ(w.result(), QDialog::Accepted);
            EXPECT_EQ(CurrentOptions.Resolution, QString::fromLatin1(c.resolution));
            continue;
        }
        ASSERT_EQ(shown.size(), 1);
        EXPECT_EQ(shown[0].caption, "Information");
        EXPECT_EQ(shown[0].text, c.message);
        EXPECT_TRUE(w.isVisible());
        EXPECT_NE(w.result(), QDialog::Accepted);
        QWidget* box = c.message == kFrameRateMessage || c.message.contains("floating") ? w.cbbFrameRate : w.cbbResolution;
        EXPECT_TRUE(Focused(box));
        EXPECT_FALSE(QFileInfo::exists(FormatDefaultFileName()));
    }
}

TEST_F(SetFormatWindowTest, AudioOnlyFormatChecksOnlyTheAudioBitRate) {
    TSetFormatfrm& w = Open(2001);
    for (TFormatComboBox* b : {w.cbbVideoEncoder, w.cbbResolution, w.cbbFrameRate, w.cbbVideoBitRate}) {
        EXPECT_FALSE(b->isEnabled());
        EXPECT_EQ(b->text(), QString());
    }
    EXPECT_FALSE(w.chkEnabledaudio->isEnabled());
    EXPECT_TRUE(w.chkEnabledaudio->isChecked());
    EXPECT_FALSE(w.chkreplaceaudio->isEnabled());
    EXPECT_TRUE(w.cbbAudioEncoder->isEnabled());
    w.cbbAudioBitrate->setText(QStringLiteral("loud"));
    Click(w.OkButton());
    ASSERT_EQ(shown.size(), 1);
    EXPECT_EQ(shown[0].text, kAudioBitRateMessage);
    EXPECT_TRUE(w.isVisible());
    w.cbbAudioBitrate->setText(QStringLiteral("96 kbps"));
    Click(w.OkButton());
    EXPECT_EQ(shown.size(), 1);
    EXPECT_EQ(w.result(), QDialog::Accepted);
    EXPECT_EQ(CurrentOptions.FormatID, 2001);
    EXPECT_EQ(CurrentOptions.AudioBitRate, 96);
    EXPECT_TRUE(CurrentOptions.DisableVideo);
    EXPECT_EQ(CurrentOptions.VideoCodec, QString());
}

TEST_F(SetFormatWindowTest, LinkedListsOfATelevisionFormatMoveTogether) {
    TSetFormatfrm& w = Open(3401);
    EXPECT_TRUE(w.LinkedVideoLists);
    EXPECT_FALSE(w.cbbResolution->isEnabled());
    EXPECT_FALSE(w.cbbFrameRate->isEnabled());
    EXPECT_FALSE(w.cbbResolution->Typeable());
    w.cbbVideoEncoder->setCurrentIndex(1);
    EXPECT_EQ(w.cbbResolution->text(), "720x480");
    EXPECT_EQ(w.cbbFrameRate->text(), "29.97 fps");
    EXPECT_EQ(w.cbbVideoBitRate->text(), "Auto");
    Click(w.OkButton());
    EXPECT_TRUE(shown.isEmpty());
    EXPECT_EQ(CurrentOptions.VideoCodec, "dvvideo NTSC");
    EXPECT_EQ(CurrentOptions.Resolution, "720x480");
    EXPECT_EQ(CurrentOptions.FrameRate, "29.97");
    EXPECT_EQ(CurrentOptions.VideoBitRate, -1);

    // An ordinary format unlinks them again.
    PickerChooses(1004);
    EXPECT_FALSE(w.LinkedVideoLists);
    EXPECT_TRUE(w.cbbResolution->isEnabled());
    const QString resolution = w.cbbResolution->text();
    w.cbbVideoEncoder->setCurrentIndex(2);
    EXPECT_EQ(w.cbbResolution->text(), resolution);
}

TEST_F(SetFormatWindowTest, AudioSwitchesEnableTheirControls) {
    TSetFormatfrm& w = Open(1004);
    Click(w.chkEnabledaudio);
    for (QWidget* b : {static_cast<QWidget*>(w.cbbAudioEncoder), static_cast<QWidget*>(w.cbbChannel),
                       static_cast<QWidget*>(w.cbbSampleRate), static_cast<QWidget*>(w.cbbAudioBitrate),
                       static_cast<QWidget*>(w.chkreplaceaudio), static_cast<QWidget*>(w.btnImport),
                       static_cast<QWidget*>(w.chkloop)})
        EXPECT_FALSE(b->isEnabled()) << b->objectName().toStdString();
    Click(w.chkEnabledaudio);
    EXPECT_TRUE(w.cbbAudioEncoder->isEnabled());
    EXPECT_TRUE(w.chkreplaceaudio->isEnabled());
    EXPECT_FALSE(w.btnImport->isEnabled());
    Click(w.chkreplaceaudio);
    EXPECT_TRUE(w.btnImport->isEnabled());
    EXPECT_TRUE(w.chkloop->isEnabled());
    Click(w.chkloop);
    w.btnImport->setText(QStringLiteral("/music/song.mp3"));
    Click(w.OkButton());
    EXPECT_EQ(movie.Options.ReplaceAudioMode, 2);
    EXPECT_EQ(movie.Options.ReplaceAudioFile, "/music/song.mp3");
    EXPECT_EQ(app::SourceAudioPath, "/music/");
    EXPECT_EQ(IniValue(app::SettingsFileName(), "Output", "SourceAudioPath"), "/music/");

    // Shown again, the window takes the sound back from the movie's options.
    TSetFormatfrm& again = Show();
    EXPECT_TRUE(again.chkreplaceaudio->isChecked());
    EXPECT_TRUE(again.chkloop->isChecked());
    EXPECT_TRUE(again.btnImport->isEnabled());
    EXPECT_EQ(again.btnImport->text(), "/music/song.mp3");
    // Replacement off, audio off: the profile says so and the replacement is not used.
    Click(again.chkreplaceaudio);
    Click(again.chkEnabledaudio);
    Click(again.OkButton());
    EXPECT_TRUE(CurrentOptions.AudioDisabled);
    EXPECT_EQ(movie.Options.ReplaceAudioMode, 0);
}

TEST_F(SetFormatWindowTest, CancelRestoresWhatWasCurrent) {
    TSetFormatfrm& w = Open(1004);
    PickerChooses(1005);
    EXPECT_EQ(w.btnFormat->text(), "WMV");
    EXPECT_EQ(w.btnOutputFile->text(), app::OutputPath + "movie.wmv");
    Click(w.CancelButton());
    EXPECT_EQ(w.result(), QDialog::Rejected);
    EXPECT_EQ(CurrentFormat.ID, 1004);
    EXPECT_EQ(CurrentOptions.FormatID, 1004);
    EXPECT_EQ(CurrentOptions.FileExt, ".mp4");
    EXPECT_FALSE(QFileInfo::exists(FormatDefaultFileName()));

    // Escape is Cancel.
    TSetFormatfrm& escaped = Open(1004);
    PickerChooses(1005);
    QTest::keyClick(&escaped, Qt::Key_Escape);
    EXPECT_FALSE(escaped.isVisible());
    EXPECT_EQ(CurrentFormat.ID, 1004);

    // The header's close button keeps the picker's choice.
    TSetFormatfrm& other = Open(1004);
    PickerChooses(1005);
    Click(other.CloseButton());
    EXPECT_FALSE(other.isVisible());
    EXPECT_EQ(CurrentFormat.ID, 1005);
    EXPECT_EQ(CurrentOptions.FormatID, 1005);
}

TEST_F(SetFormatWindowTest, CancelAfterTheOpeningFormatWasDeletedFallsBackToTheDefault) {
    SaveUserFormats(2);
    TSetFormatfrm& w = Open(4002);
    EXPECT_EQ(w.btnFormat->text(), "Mine 2");
    // The picker deletes the current user format and moves on to another.
    ASSERT_TRUE(DeleteUserFormat(4002));
    w.AddDeletedID(4002);
    PickerChooses(4001);
    Click(w.CancelButton());
    EXPECT_EQ(CurrentFormat.ID, DefaultFormatID);
    EXPECT_EQ(CurrentOptions.FormatID, DefaultFormatID);
    EXPECT_EQ(CurrentOptions.FileExt, ".mp4");
    EXPECT_EQ(IniValue(FormatDefaultFileName(), "Format", "FormatID"), "1004");
    EXPECT_EQ(IniValue(FormatDefaultFileName(), "Format", "Name"), "MP4");

    // A deleted format that was not the opening one changes nothing on Cancel.
    SaveUserFormats(1, 4005);
    QFile::remove(FormatDefaultFileName());
    TSetFormatfrm& again = Open(4001);
    ASSERT_TRUE(DeleteUserFormat(4005));
    again.AddDeletedID(4005);
    Click(again.CancelButton());
    EXPECT_EQ(CurrentFormat.ID, 4001);
    EXPECT_FALSE(QFileInfo::exists(FormatDefaultFileName()));
}

TEST_F(SetFormatWindowTest, OutputFileDialogSetsFolderAndName) {
    TSetFormatfrm& w = Open(1004, QStringLiteral("intro"));
    saveAnswer = Path(QStringLiteral("videos/clip.final.mp4"));
    w.btnOutputFile->Button()->click();
    EXPECT_EQ(saveAsked, (QStringList{app::OutputPath + "intro.mp4", "mp4 foramt(*.mp4)|*.mp4", ".mp4"}));
    EXPECT_EQ(w.btnOutputFile->text(), saveAnswer);
    EXPECT_EQ(w.OutputFolder, Path(QStringLiteral("videos/")));
    EXPECT_EQ(w.TargetName, "clip.final");
    // A cancelled dialog changes nothing.
    saveAnswer.clear();
    w.btnOutputFile->Button()->click();
    EXPECT_EQ(w.TargetName, "clip.final");
    Click(w.btnLocate);
    EXPECT_EQ(opened, QStringList{Path(QStringLiteral("videos/"))});
    Click(w.OkButton());
    EXPECT_EQ(app::OutputPath, Path(QStringLiteral("videos/")));
    EXPECT_EQ(IniValue(app::SettingsFileName(), "Output", "OutputPath"), Path(QStringLiteral("videos/")));
}

class AudioFileDialogTest : public FormatWindowTest {
protected:
    void SetUp() override {
        FormatWindowTest::SetUp();
        ASSERT_TRUE(engine::FFLoader().LoadLibs(engine::AllLibraries)) << engine::FFLoader().LastError();
    }
};

TEST_F(AudioFileDialogTest, OnlyPureAudioIsTaken) {
    QByteArray wav;
    {
        QDataStream s(&wav, QIODevice::WriteOnly);
        s.setByteOrder(QDataStream::LittleEndian);
        s.writeRawData("RIFF", 4);
        s << quint32(36 + 8000);
        s.writeRawData("WAVEfmt ", 8);
        s << quint32(16) << quint16(1) << quint16(1) << quint32(8000) << quint32(8000) << quint16(1) << quint16(8);
        s.writeRawData("data", 4);
        s << quint32(8000);
    }
    wav.append(QByteArray(8000, char(0x80)));
    const QString sound = Path(QStringLiteral("sound.wav"));
    WriteAll(sound, wav);
    QImage picture(8, 8, QImage::Format_RGB32);
    picture.fill(Qt::blue);
    const QString still = Path(QStringLiteral("still.png"));
    ASSERT_TRUE(picture.save(still));

    TSetFormatfrm& w = Open(1004);
    Click(w.chkreplaceaudio);
    openAnswer = sound;
    w.btnImport->Button()->click();
    EXPECT_EQ(openAsked[0], app::SourceAudioPath);
    EXPECT_EQ(openAsked[1],
              "All Support Audio Format|*.m4a;*.m4b;*.m4p;*.aa;*.mp3;*.m4a;*.mp2;*.wma;*.aac;*.ac3;*.mka;*.ogg;"
              "*.aif;*.aiff;*.ra;*.ram;*.wav;*.ape;*.cue;*.au;*.flac|All File|*.*");
    EXPECT_TRUE(shown.isEmpty());
    EXPECT_EQ(w.btnImport->text(), sound);

    openAnswer = still;
    w.btnImport->Button()->click();
    ASSERT_EQ(shown.size(), 1);
    EXPECT_EQ(shown[0].caption, "Information");
    EXPECT_EQ(shown[0].text, "Failed to Load file, error message: not a valid Audio");
    EXPECT_EQ(w.btnImport->text(), QString());

    w.btnImport->setText(sound);
    openAnswer = Path(QStringLiteral("gone.mp3"));
    w.btnImport->Button()->click();
    ASSERT_EQ(shown.size(), 2);
    EXPECT_EQ(shown[1].text, "Failed to Load file, error message: " + openAnswer + ": No such file or directory");
    EXPECT_EQ(w.btnImport->text(), QString());
}

TEST_F(SetFormatWindowTest, FormatBoxAndCaptionToggleThePicker) {
    auto picker = std::make_unique<TformatFrm>();
    TSetFormatfrm& w = Open(1004);
    QToolButton* dropDown = w.btnFormat->Button();
    QEvent enter(QEvent::Enter), leave(QEvent::Leave);
    for (QWidget* target : {static_cast<QWidget*>(dropDown), static_cast<QWidget*>(w.btnCaption)}) {
        QApplication::sendEvent(target, &enter);
        EXPECT_TRUE(picker->KeepOpen());
        QApplication::sendEvent(target, &leave);
        EXPECT_FALSE(picker->KeepOpen());
    }
    dropDown->click();
    EXPECT_TRUE(picker->Showing());
    EXPECT_EQ(picker->HostControl(), w.btnFormat);
    EXPECT_EQ(picker->Host(), static_cast<TFormatPickerHost*>(&w));
    dropDown->click();
    EXPECT_FALSE(picker->Showing());
    Click(w.btnCaption);
    EXPECT_TRUE(picker->Showing());
    // Closing the window takes the picker with it.
    Click(w.CancelButton());
    EXPECT_FALSE(picker->Showing());
    picker.reset();
}

TEST_F(SetFormatWindowTest, AChoiceInThePickerRefillsTheWindow) {
    WriteAll(GroupFileName(), "<groups>\n"
                              "<Group ForamtType=\"2\" order=\"5\" Name=\"Recent\" ICO=\"\"/>\n"
                              "<Group ForamtType=\"2\" order=\"6\" Name=\"User Defined\" ICO=\"\"/>\n"
                              "<Group ForamtType=\"0\" order=\"1\" Name=\"Video\" ICO=\"\"/>\n"
                              "<Group ForamtType=\"0\" order=\"2\" Name=\"Audio\" ICO=\"\"/>\n"
                              "<Group ForamtType=\"1\" order=\"9\" Name=\"TV\" ICO=\"\"/>\n"
                              "</groups>\n");
    ASSERT_TRUE(LoadGroupFile());
    auto picker = std::make_unique<TformatFrm>();
    TSetFormatfrm& w = Open(1004, QStringLiteral("clip"));
    w.btnFormat->Button()->click();
    ASSERT_TRUE(picker->Showing());
    ASSERT_EQ(picker->lvFormat->count(), 2);  // MP4 and WMV
    ASSERT_EQ(picker->GridFormat(1)->ID, 1005);
    picker->lvFormat->setCurrentRow(1);
    picker->lvFormatClick();
    EXPECT_FALSE(picker->Showing());
    EXPECT_EQ(CurrentFormat.ID, 1005);
    EXPECT_EQ(w.btnFormat->text(), "WMV");
    EXPECT_EQ(w.btnCaption->text(), "WMV");
    EXPECT_EQ(w.cbbVideoEncoder->text(), "WMV2");
    EXPECT_FALSE(w.cbbResolution->Typeable());
    EXPECT_EQ(w.btnOutputFile->text(), app::OutputPath + "clip.wmv");
    Click(w.OkButton());
    EXPECT_EQ(w.result(), QDialog::Accepted);
    EXPECT_EQ(CurrentOptions.FormatID, 1005);
    EXPECT_EQ(CurrentOptions.VideoCodec, "WMV2");
    EXPECT_EQ(ReadRecent(), QStringList{"1005"});
    picker.reset();
}

TEST_F(SetFormatWindowTest, MainWindowEntryReturnsTheChosenName) {
    ASSERT_TRUE(FindFormat(1004, CurrentFormat));
    OptionsFromFormat(CurrentOptions, 1004);
    TFileOption job;
    job.Options.OutFileName = QStringLiteral("intro");
    saveAnswer = Path(QStringLiteral("out/renamed.mp4"));
    QTimer::singleShot(0, [this] {
        auto* w = qobject_cast<TSetFormatfrm*>(QApplication::activeModalWidget());
        ASSERT_NE(w, nullptr);
        EXPECT_EQ(w->btnOutputFile->text(), app::OutputPath + "intro.mp4");
        w->btnOutputFile->Button()->click();
        Click(w->OkButton());
    });
    EXPECT_TRUE(ShowSetFormatWindow(nullptr, job));
    EXPECT_EQ(job.Options.OutFileName, "renamed");

    QTimer::singleShot(0, [this] {
        auto* w = qobject_cast<TSetFormatfrm*>(QApplication::activeModalWidget());
        ASSERT_NE(w, nullptr);
        w->btnOutputFile->Button()->click();
        Click(w->CancelButton());
    });
    saveAnswer = Path(QStringLiteral("out/other.mp4"));
    EXPECT_FALSE(ShowSetFormatWindow(nullptr, job));
    EXPECT_EQ(job.Options.OutFileName, "renamed");
}

// Pictures of the two windows over the real catalogue, for looking at them.
TEST_F(SetFormatWindowTest, Screenshot) {
    const QString out = qEnvironmentVariable("QM_SET_FORMAT_SHOT");
    if (out.isEmpty()) GTEST_SKIP() << "QM_SET_FORMAT_SHOT names no picture to write";
    ClearFormatList(BuiltInFormats);
    SetProgramDir(QCoreApplication::applicationDirPath());
    ASSERT_TRUE(LoadFormatFile(BuiltInFormatFileName(), BuiltInFormats));
    ASSERT_TRUE(LoadGroupFile());
    TSetFormatfrm& w = Open(1004);
    w.move(40, 40);
    QTest::qWait(200);
    ASSERT_TRUE(w.grab().save(out));
    onUserFormat = [&](TUserformatfrm& d) {
        QTest::qWait(100);
        EXPECT_TRUE(d.grab().save(QString(out).replace(QStringLiteral(".png"), QStringLiteral("-user.png"))));
    };
    Click(w.btnAddmyFormat);
    TSetFormatfrm& audio = Open(2001);
    QTest::qWait(100);
    ASSERT_TRUE(audio.grab().save(QString(out).replace(QStringLiteral(".png"), QStringLiteral("-audio.png"))));
    // The picker dropped down under the format box (the whole screen, on a real display).
    audio.btnFormat->Button()->click();
    QTest::qWait(300);
    EXPECT_TRUE(TformatFrm::Instance() && TformatFrm::Instance()->Showing());
    QGuiApplication::primaryScreen()->grabWindow(0).save(QString(out).replace(QStringLiteral(".png"), QStringLiteral("-picker.png")));
    QTest::qWait(qEnvironmentVariableIntValue("QM_SET_FORMAT_HOLD_MS"));
}

}  // namespace
}  // namespace qm::formats::test
