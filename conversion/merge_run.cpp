// The main run of the conversion window: the captured picture and sound into the output file.
#include <QFileInfo>

#include <exception>

#include "app/core/app_core.h"
#include "conversion/conversion.h"
#include "conversion/conversion_log.h"
#include "engine/ff_encoder.h"
#include "engine/media_info.h"

namespace qm::conversion {

int64_t MediaDuration(engine::TFFDecoder& info, const QString& file) {
    if (file.isEmpty() || !info.LoadFile(file.toStdString())) return 0;
    engine::TFileStreamInfo stream;
    const int64_t duration = info.GetFileStreamInfo(stream) && stream.Duration > 0 ? stream.Duration : 0;
    info.CloseFile();
    return duration;
}

bool AddMergeTask(engine::TFFEncoder& encoder, TFileOption& job, MergeRun& run) {
    auto& o = job.Options;
    run.Error.clear();
    int task = -1;
    auto fail = [&](const QString& logLine, const QString& shown) {
        if (!logLine.isEmpty()) LogError(logLine);
        run.Error = shown;
        if (task >= 0) {
            try {
                encoder.RemoveTask(task);
            } catch (const std::exception&) {
            }
        }
        return false;
    };
    try {
        encoder.ClearTasks();
        QString sound = ReplacementSound(job);
        if (sound.isEmpty()) {
            sound = run.WavFile;
            if (!o.AudioDisabled) o.AudioDisabled = run.AudioEmpty;
        }
        run.OutputPath = OutputFilePath(job, run.OutputFolder, run.OverWrite);
        run.WritePath = PassingOutputPath(run.OutputPath);

        engine::TFFDecoder& info = encoder.InfoDecoder();
        if (!info.LoadFile(run.VideoFile.toStdString())) {
            const QString why = QString::fromStdString(info.LastErrorMessage);
            return fail(QStringLiteral("Video file open error: ") + why, why);
        }
        LogInfo(QStringLiteral("Get Video File Info"));
        const int videoIndex = info.FirstVideoStreamIndex;
        LogInfo(QStringLiteral("FirstVideoStreamIndex: %1").arg(videoIndex));
        engine::TFileStreamInfo stream;
        run.VideoDuration = info.GetFileStreamInfo(stream) && stream.Duration > 0 ? stream.Duration : 0;
        info.CloseFile();
        if (videoIndex < 0) {
            const QString why = run.VideoFile + QStringLiteral(" No video stream");
            return fail(why, why);
        }

        int audioIndex = -1;
        if (!o.AudioDisabled) {
            if (info.LoadFile(sound.toStdString())) {
                LogInfo(QStringLiteral("Get Audio File Info"));
                audioIndex = info.FirstAudioStreamIndex;
                LogInfo(QStringLiteral("FirstAudioStreamIndex: %1").arg(audioIndex));
                info.CloseFile();
                if (audioIndex < 0) {
                    LogError(sound + QStringLiteral(" No audio stream"));
                    o.AudioDisabled = true;
                }
            } else {
                LogError(QStringLiteral("Audio file open error: ") + QString::fromStdString(info.LastErrorMessage));
                o.AudioDisabled = true;
            }
        }

        if (!o.DisableVideo) {
            task = encoder.AddTask(run.VideoFile.toStdString());
            if (task < 0) {
                const QString why = QString::fromStdString(encoder.LastErrorMessage());
                return fail(QStringLiteral("Video file open error: ") + why, why);
            }
        }
        if (!o.AudioDisabled) {
            const int r = task < 0 ? encoder.AddTask(sound.toStdString()) : encoder.AddInput(task, sound.toStdString());
            if (r < 0) {
                const QString why = QString::fromStdString(encoder.LastErrorMessage());
                return fail(QStringLiteral("Audio file open error: ") + why, why);
            }
            if (task < 0) task = r;
        }
        if (task < 0) {
            // Sound-only output from a capture without any sound: nothing to convert.
            const QString why = QStringLiteral("no sound to convert");
            return fail(QStringLiteral("Cannot do convert, error: ") + why, why);
        }

        engine::TOutputOptions output;
        output.Options =
            MainOutputOptions(job, ConversionFilterGraph(job), run.VideoDuration, videoIndex, audioIndex).toStdString();
        if (encoder.SetOutput(task, run.WritePath.toStdString(), &output) < 0) {
            const QString why = QString::fromStdString(encoder.LastErrorMessage());
            return fail(QStringLiteral("Cannot do convert, error: ") + why, why);
        }
        return true;
    } catch (const app::ConversionError& e) {
        return fail(QStringLiteral("Cannot do convert, error: ") + e.text(), e.text());
    } catch (const std::exception& e) {
        const QString why = QString::fromUtf8(e.what());
        return fail(QStringLiteral("Cannot do convert, error: ") + why, why);
    }
}

}  // namespace qm::conversion
