// The format windows over a small catalogue, with their boxes and dialogs answered by the test.
#pragma once

#include <gtest/gtest.h>

#include <QApplication>
#include <QTest>

#include <memory>

#include "formats/windows/set_format_window.h"
#include "formats/windows/user_format_window.h"
#include "tests/formats/formats_test_support.h"

namespace qm::formats::test {

struct Shown {
    QString caption, text;
};

class FormatWindowTest : public FormatsTest {
protected:
    void SetUp() override {
        FormatsTest::SetUp();
        app::LoadSettings(Path(QStringLiteral("home/Documents/")), Path(QStringLiteral("tmp/")));
        TFormatWindowPrompts& p = FormatWindowPrompts();
        p.Information = [this](QWidget*, const QString& caption, const QString& text) { shown.append({caption, text}); };
        p.SaveFile = [this](QWidget*, const QString& initial, const QString& filter, const QString& suffix) {
            saveAsked = {initial, filter, suffix};
            return saveAnswer;
        };
        p.OpenFile = [this](QWidget*, const QString& folder, const QString& filter) {
            openAsked = {folder, filter};
            return openAnswer;
        };
        p.OpenFolder = [this](const QString& folder) { opened << folder; };
        p.ShowUserFormat = [this](TUserformatfrm& dialog) {
            dialog.show();
            if (onUserFormat) onUserFormat(dialog);
            dialog.close();
        };
        MakeCatalogue();
    }
    void TearDown() override {
        window.reset();
        ResetFormatWindowPrompts();
        FormatsTest::TearDown();
    }

    // MP4 (typeable boxes), a pick-only WMV, an audio-only MP3 and a DV format whose lists go
    // together.
    void MakeCatalogue() {
        TFormatInfo mp4 = SampleVideoFormat(1004);
        mp4.Name = QStringLiteral("MP4");
        mp4.description = QStringLiteral("MPEG-4 video");
        mp4.Skip = false;
        mp4.ResolutionList = QStringLiteral("Keep original,320x240,640x480");
        mp4.FrameRateList = QStringLiteral("Keep original,10 fps,15 fps,25 fps");
        mp4.VideoBitRateList = QStringLiteral("Keep original,512 kbps,1000 kbps");
        mp4.SampleRateList = QStringLiteral("22050 Hz,44100 Hz,48000 Hz");
        mp4.AudioBitRateList = QStringLiteral("64 kbps,128 kbps");
        mp4.Resolution = KeepOriginal;
        mp4.FrameRate = KeepOriginal;
        mp4.SampleRate = 44100;
        TFormatInfo wmv = mp4;
        wmv.ID = 1005;
        wmv.Name = QStringLiteral("WMV");
        wmv.Format = QStringLiteral(".wmv");
        wmv.Enabled = false;
        wmv.VideoEncoderList = QStringLiteral("WMV2,WMV1");
        wmv.VideoEncoder = QStringLiteral("WMV2");
        TFormatInfo mp3 = SampleAudioFormat(2001);
        mp3.AudioBitRateList = QStringLiteral("96 kbps,128 kbps");
        mp3.Enabled = true;
        TFormatInfo dv = mp4;
        dv.ID = 3401;
        dv.GroupID = 9;
        dv.Name = QStringLiteral("DV PAL");
        dv.Format = QStringLiteral(".dv");
        dv.Enabled = false;
        dv.VideoEncoderList = QStringLiteral("dvvideo PAL,dvvideo NTSC");
        dv.ResolutionList = QStringLiteral("720x576,720x480");
        dv.FrameRateList = QStringLiteral("25 fps,29.97 fps");
        dv.VideoBitRateList = KeepOriginal;
        dv.VideoEncoder = QStringLiteral("dvvideo PAL");
        dv.Resolution = QStringLiteral("720x576");
        dv.FrameRate = QStringLiteral("25");
        BuiltInFormats = {mp4, wmv, mp3, dv};
    }

    // The profile of `id`, as the picker or start-up leaves it, then the window shown.
    TSetFormatfrm& Open(int32_t id, const QString& target = QStringLiteral("movie")) {
        if (!FindFormat(id, CurrentFormat)) ADD_FAILURE() << "no format " << id;
        ClearOptions(CurrentOptions);
        OptionsFromFormat(CurrentOptions, id);
        return Show(target);
    }
    TSetFormatfrm& Show(const QString& target = QStringLiteral("movie")) {
        window = std::make_unique<TSetFormatfrm>();
        window->MovieOptions = &movie;
        window->TargetName = target;
        window->show();
        return *window;
    }
    // What the picker does when a format is chosen while the window is open.
    void PickerChooses(int32_t id) {
        ASSERT_TRUE(FindFormat(id, CurrentFormat));
        OptionsFromCurrentFormat();
        window->SetFormatBoxText(window->FormatBoxText() == CurrentFormat.Name ? CurrentFormat.Name + QLatin1Char(' ')
                                                                              : CurrentFormat.Name);
        window->FillFromFormat();
        window->RefreshOutputFile();
    }
    static void Click(QAbstractButton* button) { QTest::mouseClick(button, Qt::LeftButton); }
    // Saved user formats, as the picker and the dialog leave them: file and list alike.
    void SaveUserFormats(int count, int32_t firstId = 4001) {
        for (int i = 0; i < count; ++i) {
            TFormatInfo f = BuiltInFormats.first();
            f.ID = firstId + i;
            f.GroupID = UserGroupID;
            f.FormatType = 2;
            f.Name = QStringLiteral("Mine %1").arg(i + 1);
            ASSERT_TRUE(AppendFormatToFile(f, UserFormatFileName()));
        }
        ReloadUserFormats();
    }

    std::unique_ptr<TSetFormatfrm> window;
    TFileOption movie;
    QList<Shown> shown;
    QStringList saveAsked, openAsked, opened;
    QString saveAnswer, openAnswer;
    std::function<void(TUserformatfrm&)> onUserFormat;
};

}  // namespace qm::formats::test
