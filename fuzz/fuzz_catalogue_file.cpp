// The catalogue loader over any file: a format or group file is read without a crash, and
// adding a user format to a format file keeps every entry it held before.
#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QString>
#include <QTemporaryDir>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "formats/core/formats_core.h"

using qm::formats::TFormatInfo;
using qm::formats::TFormatList;

namespace {

QTemporaryDir* Folder = nullptr;

bool Same(const TFormatInfo& a, const TFormatInfo& b) {
    return a.ID == b.ID && a.GroupID == b.GroupID && a.Skip == b.Skip && a.FormatType == b.FormatType &&
           a.Format == b.Format && a.ICON == b.ICON && a.Enabled == b.Enabled && a.Name == b.Name &&
           a.description == b.description && a.VideoEncoderList == b.VideoEncoderList &&
           a.ResolutionList == b.ResolutionList && a.FrameRateList == b.FrameRateList &&
           a.VideoBitRateList == b.VideoBitRateList && a.VideoEncoder == b.VideoEncoder &&
           a.Resolution == b.Resolution && a.VideoBitrate == b.VideoBitrate && a.FrameRate == b.FrameRate &&
           a.AudioEncoderlist == b.AudioEncoderlist && a.SampleRateList == b.SampleRateList &&
           a.ChannelList == b.ChannelList && a.AudioBitRateList == b.AudioBitRateList &&
           a.AudioEncoder == b.AudioEncoder && a.SampleRate == b.SampleRate && a.Channel == b.Channel &&
           a.AudioBitrate == b.AudioBitrate && a.Interpolation == b.Interpolation &&
           a.ResizeStyle == b.ResizeStyle && a.Norm == b.Norm;
}

[[noreturn]] void Fail(const char* what, qsizetype index) {
    std::fprintf(stderr, "catalogue fault: %s (entry %lld)\n", what, static_cast<long long>(index));
    std::abort();
}

TFormatInfo UserFormat() {
    TFormatInfo f;
    f.ID = 4321;
    f.GroupID = 6;
    f.FormatType = 1;
    f.Format = QStringLiteral(".mp4");
    f.ICON = QStringLiteral("mp4");
    f.Enabled = true;
    f.Name = QStringLiteral("Mine");
    f.description = QStringLiteral("A format of my own");
    f.VideoEncoderList = QStringLiteral("libx264");
    f.ResolutionList = QStringLiteral("640x480");
    f.FrameRateList = QStringLiteral("25");
    f.VideoBitRateList = QStringLiteral("1000");
    f.VideoEncoder = QStringLiteral("libx264");
    f.Resolution = QStringLiteral("640x480");
    f.VideoBitrate = 1000;
    f.FrameRate = QStringLiteral("25");
    f.AudioEncoderlist = QStringLiteral("aac");
    f.SampleRateList = QStringLiteral("44100");
    f.ChannelList = QStringLiteral("2");
    f.AudioBitRateList = QStringLiteral("128");
    f.AudioEncoder = QStringLiteral("aac");
    f.SampleRate = 44100;
    f.Channel = 2;
    f.AudioBitrate = 128;
    return f;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    Folder = new QTemporaryDir(QDir::tempPath() + QStringLiteral("/qm-fuzz-catalogue-XXXXXX"));
    if (!Folder->isValid()) std::exit(1);
    qm::formats::SetProgramDir(Folder->path());
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1 || size > 64 * 1024) return 0;
    const bool groups = data[0] & 1;
    const QString path = groups ? qm::formats::GroupFileName() : Folder->filePath(QStringLiteral("UserFormat.dat"));
    const QByteArray content(reinterpret_cast<const char*>(data + 1), qsizetype(size - 1));
    {
        QFile f(path);
        if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate)) std::abort();
        f.write(content);
    }
    if (groups) {
        qm::formats::LoadGroupFile();
        (void)qm::formats::CountGroups(1);
        qm::formats::ClearGroups();
        QFile::remove(path);
        return 0;
    }

    TFormatList before;
    qm::formats::LoadFormatFile(path, before);
    const TFormatInfo added = UserFormat();
    if (qm::formats::AppendFormatToFile(added, path)) {
        TFormatList after;
        qm::formats::LoadFormatFile(path, after);
        if (after.size() != before.size() + 1) Fail("adding a format changed how many entries the file holds", after.size());
        for (qsizetype i = 0; i < before.size(); ++i)
            if (!Same(before[i], after[i])) Fail("adding a format changed an entry", i);
        if (!Same(after.back(), added)) Fail("the added format reads back wrong", after.size() - 1);
    } else {
        // A file that could not be read is left as it was.
        QFile f(path);
        if (!f.open(QIODevice::ReadOnly) || f.readAll() != content) Fail("a refused file was changed", -1);
    }
    if (!before.isEmpty()) qm::formats::DeleteFormatFromFile(before.front().ID, path);
    QFile::remove(path);
    return 0;
}
