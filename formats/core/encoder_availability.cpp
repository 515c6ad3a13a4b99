// Which catalogue formats the loaded engine can make.
#include "engine/ffmpeg_api.h"
#include "engine/library_loader.h"
#include "formats/core/formats_core.h"
#include "formats/core/formats_log.h"

namespace qm::formats {

namespace {

TEncoderProbe& probeSlot() {
    static TEncoderProbe probe;
    return probe;
}

bool loadedEngineHasEncoder(const QString& name) {
    using namespace qm::engine;
    if (!FFLoader().LibsLoaded(LibraryBit(libAVCodec) | LibraryBit(libAVUtil))) return false;
    return FF.avcodec_find_encoder_by_name(name.toUtf8().constData()) != nullptr;
}

// The encoder behind an audio display name; "aac" is made by either of two.
QStringList audioEncoders(const QString& display) {
    if (display.compare(QLatin1String("aac"), Qt::CaseInsensitive) == 0)
        return {QStringLiteral("libfaac"), QStringLiteral("aac")};
    const QString name = AudioEncoderName(display);
    return name.isEmpty() ? QStringList{} : QStringList{name};
}

bool anyPresent(const QStringList& names) {
    for (const QString& n : names)
        if (EngineHasEncoder(n)) return true;
    return false;
}

// Keeps the entries whose encoder exists; entries in neither table are left to the caller.
QString keepAvailable(const QString& list, bool video, QStringList& dropped) {
    const QStringList entries = app::SplitText(list, QStringLiteral(","));
    QStringList kept;
    const qsizetype before = dropped.size();
    for (const QString& e : entries) {
        const QStringList names = video ? QStringList{VideoEncoderName(e)} : audioEncoders(e);
        if (!names.isEmpty() && !names.first().isEmpty() && !anyPresent(names)) {
            dropped << e;
            continue;
        }
        kept << e;
    }
    if (dropped.size() == before) return list;
    return kept.join(QLatin1Char(','));
}

}  // namespace

void SetEncoderProbe(TEncoderProbe probe) { probeSlot() = std::move(probe); }

bool EngineHasEncoder(const QString& encoderName) {
    const TEncoderProbe& probe = probeSlot();
    return probe ? probe(encoderName) : loadedEngineHasEncoder(encoderName);
}

QStringList MissingEncoders(const TFormatInfo& format) {
    QStringList missing;
    if (!format.VideoEncoder.isEmpty()) {
        const QString name = VideoEncoderName(format.VideoEncoder);
        if (name.isEmpty() || !EngineHasEncoder(name))
            missing << (name.isEmpty() ? format.VideoEncoder : name);
    }
    if (!format.AudioEncoder.isEmpty()) {
        const QStringList names = audioEncoders(format.AudioEncoder);
        if (names.isEmpty() || !anyPresent(names))
            missing << (names.isEmpty() ? format.AudioEncoder : names.last());
    }
    return missing;
}

void HideUnavailableFormats(TFormatList& list) {
    // Without an engine nothing can be made at all; the picker still shows what exists.
    if (!probeSlot() && !engine::FFLoader().LibsLoaded(engine::LibraryBit(engine::libAVCodec) | engine::LibraryBit(engine::libAVUtil))) {
        LogFormatsError(QStringLiteral("The engine is not loaded: the formats' encoders cannot be checked"));
        return;
    }
    for (TFormatInfo& f : list) {
        if (f.Skip) continue;
        const QStringList missing = MissingEncoders(f);
        if (!missing.isEmpty()) {
            f.Skip = true;
            LogFormatsInfo(QStringLiteral("Format \"%1\" (%2) is not offered: the engine has no encoder %3")
                               .arg(f.Name)
                               .arg(f.ID)
                               .arg(missing.join(QStringLiteral(", "))));
            continue;
        }
        QStringList dropped;
        // Television formats keep their parallel lists whole.
        if (!f.VideoEncoderList.contains(QLatin1String("PAL")))
            f.VideoEncoderList = keepAvailable(f.VideoEncoderList, true, dropped);
        f.AudioEncoderlist = keepAvailable(f.AudioEncoderlist, false, dropped);
        if (!dropped.isEmpty())
            LogFormatsInfo(QStringLiteral("Format \"%1\" (%2) offers no %3: the engine lacks the encoder")
                               .arg(f.Name)
                               .arg(f.ID)
                               .arg(dropped.join(QStringLiteral(", "))));
    }
}

}  // namespace qm::formats
