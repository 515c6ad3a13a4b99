// The user format dialog: what it saves, its two refusals, the ids it gives and the format
// box it updates; and a saved format converting a movie with its settings.
#include <QDir>
#include <QLabel>
#include <QFile>
#include <QProcess>
#include <QProcessEnvironment>

#include <cmath>

#include "set_format_window_support.h"
#include "testing/swfwriter/swfwriter.h"

namespace qm::formats::test {
namespace {

using UserFormatWindowTest = FormatWindowTest;

// Opens the dialog from the format window's button and answers it with `name` and `desc`.
void SaveAs(FormatWindowTest* t, TSetFormatfrm& w, std::function<void(TUserformatfrm&)>& hook, const QString& name,
            const QString& desc, bool* accepted = nullptr) {
    hook = [&](TUserformatfrm& d) {
        d.edtName->setText(name);
        d.edtDesc->setText(desc);
        QTest::mouseClick(d.OkButton(), Qt::LeftButton);
        if (accepted) *accepted = d.result() == QDialog::Accepted;
    };
    QTest::mouseClick(w.btnAddmyFormat, Qt::LeftButton);
}

TEST_F(UserFormatWindowTest, SavesTheWindowsValuesAsANewCurrentFormat) {
    TSetFormatfrm& w = Open(1004);
    w.cbbResolution->setText(QStringLiteral("320x240"));
    w.cbbFrameRate->setText(QStringLiteral("15 fps"));
    w.cbbVideoBitRate->setText(QStringLiteral("300 kbps"));
    w.cbbChannel->setCurrentIndex(0);
    QString nameShown, descShown;
    bool accepted = false;
    onUserFormat = [&](TUserformatfrm& d) {
        EXPECT_EQ(d.windowTitle(), "Add to User Defined");
        EXPECT_EQ(d.TitleLabel()->text(), "Add to user defined");
        nameShown = d.edtName->text();
        descShown = d.edtDesc->text();
        d.edtName->setText(QStringLiteral("  Small MP4  "));
        d.edtDesc->setText(QStringLiteral(" for the web "));
        Click(d.OkButton());
        accepted = d.result() == QDialog::Accepted;
    };
    Click(w.btnAddmyFormat);
    EXPECT_TRUE(shown.isEmpty());
    EXPECT_EQ(nameShown, "MP4");
    EXPECT_EQ(descShown, "MPEG-4 video");
    EXPECT_TRUE(accepted);
    ASSERT_EQ(UserFormats.size(), 1);
    const TFormatInfo& f = UserFormats.last();
    EXPECT_EQ(f.ID, 4001);
    EXPECT_EQ(f.Name, "Small MP4");
    EXPECT_EQ(f.description, "for the web");
    EXPECT_EQ(f.GroupID, UserGroupID);
    EXPECT_EQ(f.FormatType, 2);
    EXPECT_EQ(f.Resolution, "320x240");
    EXPECT_EQ(f.FrameRate, "15");
    EXPECT_EQ(f.VideoBitrate, 300);
    EXPECT_EQ(f.Channel, 1);
    EXPECT_EQ(f.Format, ".mp4");
    EXPECT_EQ(f.ResolutionList, BuiltInFormats.first().ResolutionList);
    EXPECT_EQ(CurrentFormat.ID, 4001);
    EXPECT_EQ(w.btnFormat->text(), "Small MP4");
    EXPECT_EQ(w.btnCaption->text(), "Small MP4");
    EXPECT_TRUE(ReadAll(UserFormatFileName()).contains("<Name>Small MP4</Name>"));

    // OK keeps it as the profile.
    Click(w.OkButton());
    EXPECT_EQ(CurrentOptions.FormatID, 4001);
    EXPECT_EQ(CurrentOptions.Name, "Small MP4");
    EXPECT_EQ(ReadRecent(), QStringList{"4001"});
}

TEST_F(UserFormatWindowTest, RefusalsLeaveTheFileAsItWas) {
    SaveUserFormats(98);
    const QByteArray before = ReadAll(UserFormatFileName());
    TSetFormatfrm& w = Open(1004);
    struct Case {
        const char *name, *desc;
    } empties[] = {{"", "text"}, {"name", ""}};
    for (const Case& c : empties) {
        bool accepted = true;
        SaveAs(this, w, onUserFormat, QString::fromLatin1(c.name), QString::fromLatin1(c.desc), &accepted);
        EXPECT_FALSE(accepted);
        ASSERT_FALSE(shown.isEmpty());
        EXPECT_EQ(shown.last().text, "Invalid Name or description");
    }
    EXPECT_EQ(ReadAll(UserFormatFileName()), before);

    // The 99th is saved; a 100th is refused.
    shown.clear();
    bool accepted = false;
    SaveAs(this, w, onUserFormat, QStringLiteral("Ninety-nine"), QStringLiteral("d"), &accepted);
    EXPECT_TRUE(accepted);
    EXPECT_TRUE(shown.isEmpty());
    ASSERT_EQ(UserFormats.size(), 99);
    EXPECT_EQ(UserFormats.last().ID, 4099);
    const QByteArray full = ReadAll(UserFormatFileName());
    SaveAs(this, w, onUserFormat, QStringLiteral("One more"), QStringLiteral("d"), &accepted);
    EXPECT_FALSE(accepted);
    ASSERT_EQ(shown.size(), 1);
    EXPECT_EQ(shown[0].caption, "Information");
    EXPECT_EQ(shown[0].text, "User Defined number not more than 99");
    EXPECT_EQ(ReadAll(UserFormatFileName()), full);
    EXPECT_EQ(UserFormats.size(), 99);
    EXPECT_EQ(CurrentFormat.ID, 4099);
}

TEST_F(UserFormatWindowTest, IdsNamesOfSpacesAndCancel) {
    SaveUserFormats(3);
    ASSERT_TRUE(DeleteUserFormat(4002));
    TSetFormatfrm& w = Open(1004);
    bool accepted = false;
    // A name of spaces passes the check as typed and is stored trimmed.
    SaveAs(this, w, onUserFormat, QStringLiteral("   "), QStringLiteral("spaces"), &accepted);
    EXPECT_TRUE(accepted);
    EXPECT_EQ(UserFormats.last().ID, 4004);
    EXPECT_EQ(UserFormats.last().Name, QString());

    const QByteArray before = ReadAll(UserFormatFileName());
    onUserFormat = [](TUserformatfrm& d) {
        d.edtName->setText(QStringLiteral("Not kept"));
        Click(d.CancelButton());
    };
    Click(w.btnAddmyFormat);
    EXPECT_EQ(ReadAll(UserFormatFileName()), before);
    EXPECT_EQ(CurrentFormat.ID, 4004);

    // The first user format of a fresh data folder is 4001.
    QFile::remove(UserFormatFileName());
    ReloadUserFormats();
    SaveAs(this, w, onUserFormat, QStringLiteral("First"), QStringLiteral("d"), &accepted);
    EXPECT_EQ(UserFormats.size(), 1);
    EXPECT_EQ(UserFormats.last().ID, 4001);
}

TEST_F(UserFormatWindowTest, SavingUnderTheShownNameAddsASpace) {
    SaveUserFormats(1);
    TSetFormatfrm& w = Open(4001);
    ASSERT_EQ(w.btnFormat->text(), "Mine 1");
    SaveAs(this, w, onUserFormat, QStringLiteral("Mine 1"), QStringLiteral("again"));
    EXPECT_EQ(CurrentFormat.ID, 4002);
    EXPECT_EQ(w.btnFormat->text(), "Mine 1 ");
}

TEST_F(UserFormatWindowTest, AFormatSavedFromAnAudioOnlyOneStaysAudioOnly) {
    TSetFormatfrm& w = Open(2001);
    w.cbbAudioBitrate->setCurrentIndex(0);
    SaveAs(this, w, onUserFormat, QStringLiteral("Voice"), QStringLiteral("speech"));
    ASSERT_EQ(CurrentFormat.ID, 4001);
    EXPECT_EQ(UserFormats.last().VideoEncoder, QString());
    EXPECT_EQ(UserFormats.last().Resolution, QString());
    EXPECT_EQ(UserFormats.last().FrameRate, QString());
    TVCOutPutOptions o;
    ASSERT_TRUE(OptionsFromFormat(o, 4001));
    EXPECT_TRUE(o.DisableVideo);
    EXPECT_EQ(o.AudioBitRate, 96);
    EXPECT_EQ(o.FileExt, ".mp3");
}

TEST_F(UserFormatWindowTest, InvalidValuesNeverReachTheDialog) {
    TSetFormatfrm& w = Open(1004);
    w.cbbResolution->setText(QStringLiteral("4000x4000"));
    bool opened = false;
    onUserFormat = [&](TUserformatfrm&) { opened = true; };
    Click(w.btnAddmyFormat);
    EXPECT_FALSE(opened);
    ASSERT_EQ(shown.size(), 1);
    EXPECT_TRUE(shown[0].text.startsWith("Please input an appropriate resolution."));
    EXPECT_FALSE(QFileInfo::exists(UserFormatFileName()));
}

// A movie with a moving square and a tone, two seconds at 25 frames a second.
void WriteMovie(const QString& path) {
    using namespace qm::swfwriter;
    Movie m({.version = 8, .frame = Rect::pixels(400, 300), .frameRate = fps(25)});
    m.setBackgroundColor({240, 240, 240});
    Shape square;
    square.fill0(square.addFill(FillStyle::solid({200, 30, 30}))).rect(0, 0, 60 * 20, 60 * 20);
    const uint16_t id = m.defineShape(square);
    Bytes pcm;
    for (int i = 0; i < 44100; ++i) {
        const auto v = int16_t(8000 * std::sin(2 * M_PI * 440 * i / 44100.0));
        pcm.push_back(uint8_t(v & 0xFF));
        pcm.push_back(uint8_t((uint16_t(v) >> 8) & 0xFF));
    }
    const uint16_t tone = m.defineSound(SoundFormat{}, 44100, pcm);
    for (int f = 0; f < 50; ++f) {
        if (f == 0) {
            m.place({.depth = 1, .character = id});
            m.startSound(tone);
        } else {
            m.place({.depth = 1, .move = true, .matrix = Matrix::translate(f * 6 * 20, 100 * 20)});
        }
        m.showFrame();
    }
    m.save(path.toStdString());
}

QString Probe(const QString& file, const QString& stream, const QString& entries) {
    QProcess p;
    p.start(QStringLiteral("ffprobe"), {"-v", "error", "-select_streams", stream, "-show_entries", "stream=" + entries,
                                        "-of", "csv=p=0", file});
    p.waitForFinished(60000);
    return QString::fromUtf8(p.readAllStandardOutput()).trimmed();
}

TEST_F(UserFormatWindowTest, ASavedFormatConvertsAMovieWithItsSettings) {
    // The real catalogue beside the programs, as quellmark-cli reads it.
    ClearFormatList(BuiltInFormats);
    ASSERT_TRUE(LoadFormatFile(QCoreApplication::applicationDirPath() + QStringLiteral("/Format.dat"), BuiltInFormats));
    TSetFormatfrm& w = Open(1004);
    w.cbbResolution->setText(QStringLiteral("320x240"));
    w.cbbFrameRate->setText(QStringLiteral("15 fps"));
    w.cbbVideoBitRate->setText(QStringLiteral("400 kbps"));
    w.cbbChannel->setCurrentIndex(w.cbbChannel->findText(QStringLiteral("1 Channel Mono")));
    w.cbbSampleRate->setCurrentIndex(w.cbbSampleRate->findText(QStringLiteral("22050 Hz")));
    w.cbbAudioEncoder->setCurrentIndex(w.cbbAudioEncoder->findText(QStringLiteral("mp3")));
    SaveAs(this, w, onUserFormat, QStringLiteral("Small"), QStringLiteral("small and mono"));
    Click(w.OkButton());
    ASSERT_TRUE(shown.isEmpty()) << shown[0].text.toStdString();
    ASSERT_EQ(CurrentFormat.ID, 4001);
    // Chosen later, by another program reading the same data folder.
    ClearOptions(CurrentOptions);
    QFile::remove(FormatDefaultFileName());

    const QString movie = Path(QStringLiteral("square.swf"));
    WriteMovie(movie);
    const QString out = Path(QStringLiteral("square.mp4"));
    QProcess cli;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("HOME"), Path(QStringLiteral("home")));
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), Path(QStringLiteral("home/.config")));
    cli.setProcessEnvironment(env);
    cli.start(QStringLiteral(QM_CLI_PATH), {"convert", movie, "--format", "4001", "-o", out, "--end", "last"});
    ASSERT_TRUE(cli.waitForFinished(600000));
    ASSERT_EQ(cli.exitCode(), 0) << cli.readAllStandardError().toStdString();
    EXPECT_EQ(Probe(out, "v:0", "codec_name,width,height,r_frame_rate"), "h264,320,240,15/1");
    EXPECT_EQ(Probe(out, "a:0", "codec_name,sample_rate,channels"), "mp3,22050,1");
}

}  // namespace
}  // namespace qm::formats::test
