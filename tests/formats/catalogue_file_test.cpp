#include <QDomDocument>
#include <QImage>

#include "formats_test_support.h"

namespace qm::formats::test {
namespace {

QStringList FieldsOf(const TFormatInfo& f) {
    QStringList out;
    for (int32_t v : {f.ID, f.GroupID, int32_t(f.Skip), f.FormatType, int32_t(f.Enabled), f.VideoBitrate, f.SampleRate,
                      f.Channel, f.AudioBitrate, f.Interpolation, f.ResizeStyle, f.Norm})
        out << QString::number(v);
    out << f.Format << f.ICON << f.Name << f.description << f.VideoEncoderList << f.ResolutionList << f.FrameRateList
        << f.VideoBitRateList << f.VideoEncoder << f.Resolution << f.FrameRate << f.AudioEncoderlist << f.SampleRateList
        << f.ChannelList << f.AudioBitRateList << f.AudioEncoder;
    return out;
}

using CatalogueFileTest = FormatsTest;

TEST_F(CatalogueFileTest, AppendedFormatsReadBackFieldForFieldInFileOrder) {
    const QString file = Path("UserFormat.dat");
    const TFormatInfo video = SampleVideoFormat(4001);
    const TFormatInfo audio = SampleAudioFormat(4002);
    ASSERT_TRUE(AppendFormatToFile(video, file));  // creates the file
    ASSERT_TRUE(AppendFormatToFile(audio, file));

    TFormatList list;
    EXPECT_TRUE(LoadFormatFile(file, list));
    ASSERT_EQ(list.size(), 2);
    EXPECT_EQ(FieldsOf(list[0]), FieldsOf(video));
    EXPECT_EQ(FieldsOf(list[1]), FieldsOf(audio));

    // The layout other programs and older files share: exact names, in this order.
    QDomDocument doc;
    ASSERT_TRUE(doc.setContent(ReadAll(file)));
    EXPECT_EQ(doc.documentElement().tagName(), "product");
    const QDomElement e = doc.documentElement().firstChildElement();
    EXPECT_EQ(e.tagName(), "FormatInfo");
    QStringList children;
    for (QDomElement c = e.firstChildElement(); !c.isNull(); c = c.nextSiblingElement()) children << c.tagName();
    EXPECT_EQ(children.join(','), "Name,description,VideoEncoderList,ResolutionList,FrameRateList,VideoBitRateList,"
                                  "AudioEncoderlist,SampleRateList,ChannelList,AudioBitRateList,EncParam");
    QStringList params;
    for (QDomElement c = e.firstChildElement("EncParam").firstChildElement(); !c.isNull(); c = c.nextSiblingElement())
        params << c.tagName();
    EXPECT_EQ(params.join(','), "Interpolation,ResizeStyle,VideoEncoder,Resolution,VideoBitrate,FrameRate,AudioEncoder,"
                                "Channel,SampleRate,AudioBitrate,Norm");
    EXPECT_EQ(e.attribute("Skip"), "True");
    EXPECT_EQ(e.attribute("Enabled"), "True");
    EXPECT_TRUE(ReadAll(file).contains("<description>Café"));
}

TEST_F(CatalogueFileTest, AudioFormatWithoutVideoElementsLoadsWithEmptyVideoFields) {
    const QString file = Path("Format.dat");
    WriteAll(file, R"(<product><Anything ID="7" Skip="False" FormatType="0" Format=".mp3" ICON="x" GroupID="2" Enabled="False">
        <Name>MP3</Name><description/>
        <ResolutionList>640x480</ResolutionList>
        <AudioEncoderlist>mp3</AudioEncoderlist><SampleRateList>44100 Hz</SampleRateList>
        <ChannelList>2 Channels Stereo</ChannelList><AudioBitRateList>128 kbps</AudioBitRateList>
        <EncParam><Interpolation>0</Interpolation><ResizeStyle>0</ResizeStyle><VideoBitrate>-1</VideoBitrate>
          <AudioEncoder>mp3</AudioEncoder><Channel>2</Channel><SampleRate>44100</SampleRate>
          <AudioBitrate>128</AudioBitrate><Norm>0</Norm></EncParam></Anything></product>)");
    TFormatList list;
    EXPECT_TRUE(LoadFormatFile(file, list));
    ASSERT_EQ(list.size(), 1);
    const TFormatInfo& f = list[0];
    EXPECT_EQ(f.ID, 7);
    // Without an encoder list the other video lists are not read either.
    EXPECT_TRUE(f.VideoEncoderList.isEmpty() && f.ResolutionList.isEmpty() && f.FrameRateList.isEmpty() &&
                f.VideoBitRateList.isEmpty());
    EXPECT_TRUE(f.VideoEncoder.isEmpty() && f.Resolution.isEmpty() && f.FrameRate.isEmpty());
    EXPECT_EQ(f.AudioEncoder, "mp3");
    EXPECT_EQ(f.AudioBitrate, 128);
}

TEST_F(CatalogueFileTest, DamagedEntriesAreLoggedAndSkippedOneByOne) {
    const QString good = R"(<FormatInfo ID="%1" Skip="%2" FormatType="0" Format=".mp3" ICON="x" GroupID="2" Enabled="False">
        <Name>N</Name><description/><AudioEncoderlist>mp3</AudioEncoderlist><SampleRateList/><ChannelList/>
        <AudioBitRateList/><EncParam><Interpolation>0</Interpolation><ResizeStyle>0</ResizeStyle>
        <VideoBitrate>%3</VideoBitrate><AudioEncoder>mp3</AudioEncoder><Channel>2</Channel>
        <SampleRate>44100</SampleRate><AudioBitrate>128</AudioBitrate><Norm>0</Norm></EncParam></FormatInfo>)";
    QString body = "<product>";
    body += good.arg("1", "False", "-1");
    body += good.arg("x2", "False", "-1");         // ID not a number
    body += good.arg("3", "Maybe", "-1");          // boolean neither True nor False
    body += good.arg("4", "False", "99999999999");  // beyond 32 bits
    body += QString(good.arg("5", "False", "-1")).replace(" ICON=\"x\"", "");           // attribute missing
    body += QString(good.arg("6", "False", "-1")).replace("<Norm>0</Norm>", "");        // element missing
    body += good.arg("7", "true", "-1");  // case of booleans does not matter
    body += "</product>";
    const QString file = Path("Format.dat");
    WriteAll(file, body.toUtf8());

    TFormatList list;
    EXPECT_FALSE(LoadFormatFile(file, list));
    ASSERT_EQ(list.size(), 2);
    EXPECT_EQ(list[0].ID, 1);
    EXPECT_EQ(list[1].ID, 7);
    EXPECT_TRUE(list[1].Skip);
    const QString log = LogText();
    for (const char* what : {"x2", "Maybe", "99999999999", "\"ICON\" is missing", "\"Norm\" is missing"})
        EXPECT_TRUE(log.contains(what)) << what << "\n" << log.toStdString();
}

TEST_F(CatalogueFileTest, UnreadableFileNeverLosesTheUsersFormats) {
    const QString file = Path("UserFormat.dat");
    const QByteArray broken = "<product><FormatInfo ID=\"4001\"";  // cut short
    WriteAll(file, broken);

    TFormatList list{SampleAudioFormat(4009)};
    EXPECT_FALSE(LoadFormatFile(file, list));
    EXPECT_EQ(list.size(), 1);  // untouched
    EXPECT_TRUE(LogText().contains("UserFormat.dat"));

    EXPECT_FALSE(AppendFormatToFile(SampleVideoFormat(4002), file));
    EXPECT_FALSE(DeleteFormatFromFile(4001, file));
    EXPECT_EQ(ReadAll(file), broken);
}

TEST_F(CatalogueFileTest, DeleteRemovesOnlyTheFirstMatchAndLeavesOtherFilesAlone) {
    const QString file = Path("UserFormat.dat");
    for (int id : {4001, 4002, 4003}) ASSERT_TRUE(AppendFormatToFile(SampleAudioFormat(id), file));
    const QByteArray before = ReadAll(file);

    EXPECT_TRUE(DeleteFormatFromFile(4999, file));
    EXPECT_EQ(ReadAll(file), before);  // byte for byte

    EXPECT_TRUE(DeleteFormatFromFile(4002, file));
    TFormatList list;
    LoadFormatFile(file, list);
    ASSERT_EQ(list.size(), 2);
    EXPECT_EQ(list[0].ID, 4001);
    EXPECT_EQ(list[1].ID, 4003);

    EXPECT_TRUE(DeleteFormatFromFile(4001, Path("missing.dat")));
    EXPECT_FALSE(QFile::exists(Path("missing.dat")));
}

TEST_F(CatalogueFileTest, FindFormatLooksInTheListTheIdBelongsTo) {
    BuiltInFormats = {SampleAudioFormat(4000), SampleAudioFormat(4001)};
    UserFormats = {SampleVideoFormat(4001)};
    TFormatInfo f;
    ASSERT_TRUE(FindFormat(4000, f));
    EXPECT_EQ(f.Format, ".mp3");
    ASSERT_TRUE(FindFormat(4001, f));
    EXPECT_EQ(f.Format, ".mp4");  // the user's, not the built-in one

    f.Name = "kept";
    EXPECT_FALSE(FindFormat(1, f));
    EXPECT_EQ(f.Name, "kept");
}

TEST_F(CatalogueFileTest, NextUserFormatId) {
    const struct {
        QList<int32_t> ids;
        int32_t next;
    } cases[] = {{{}, 4001}, {{4001, 4005}, 4006}, {{4003}, 4004}, {{4005, 4001}, 4006}};
    for (const auto& c : cases) {
        UserFormats.clear();
        for (int32_t id : c.ids) UserFormats << SampleAudioFormat(id);
        EXPECT_EQ(NextUserFormatID(), c.next) << c.ids.size();
    }
}

TEST_F(CatalogueFileTest, UserFormatsMirrorTheirFileAndStopAtNinetyNine) {
    TFormatInfo mine = SampleVideoFormat(NextUserFormatID());
    ASSERT_TRUE(AddUserFormat(mine));
    mine.ID = NextUserFormatID();
    mine.Name = "second";
    ASSERT_TRUE(AddUserFormat(mine));
    ASSERT_EQ(UserFormats.size(), 2);
    EXPECT_EQ(UserFormats.last().ID, 4002);
    EXPECT_EQ(UserFormats.last().Name, "second");

    ASSERT_TRUE(DeleteUserFormat(4001));
    ASSERT_EQ(UserFormats.size(), 1);
    EXPECT_EQ(UserFormats[0].ID, 4002);

    while (UserFormats.size() < MaxUserFormats) {
        mine.ID = NextUserFormatID();
        ASSERT_TRUE(AddUserFormat(mine));
    }
    const QByteArray full = ReadAll(UserFormatFileName());
    mine.ID = NextUserFormatID();
    EXPECT_FALSE(CanAddUserFormat());
    EXPECT_FALSE(AddUserFormat(mine));
    EXPECT_EQ(ReadAll(UserFormatFileName()), full);
    EXPECT_EQ(UserFormats.size(), MaxUserFormats);
}

TEST_F(CatalogueFileTest, GroupsWithTheirPicturesBesideTheProgram) {
    QImage picture(20, 20, QImage::Format_ARGB32);
    picture.fill(Qt::red);
    QDir().mkpath(ProgramDir() + "skin/Format");
    ASSERT_TRUE(picture.save(ProgramDir() + "skin/Format/g1.png"));
    WriteAll(GroupFileName(), R"(<groups>
        <Group ForamtType="2" order="5" Name="Recent" ICO="g1"/>
        <Group ForamtType="0" order="1" Name="Video" ICO="nothing"/>
        <Group ForamtType="0" order="x" Name="Bad"/>
        <Group order="9" Name="No type"/>
        <Group ForamtType="0" order="2" Name="Audio"/></groups>)");
    FormatGroups = {TGroupFormat{}};  // loading starts afresh

    EXPECT_FALSE(LoadGroupFile());
    ASSERT_EQ(FormatGroups.size(), 3);
    EXPECT_EQ(FormatGroups[0].Order, 5);
    EXPECT_EQ(FormatGroups[0].Name, "Recent");
    EXPECT_EQ(FormatGroups[0].IconImage.size(), QSize(20, 20));
    EXPECT_TRUE(FormatGroups[1].IconImage.isNull());
    EXPECT_EQ(CountGroups(0), 2);
    EXPECT_EQ(CountGroups(2), 1);
    EXPECT_EQ(CountGroups(1), 0);
    EXPECT_TRUE(LogText().contains("ForamtType"));
}

}  // namespace
}  // namespace qm::formats::test
