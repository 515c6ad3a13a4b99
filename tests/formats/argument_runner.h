// Runs an engine argument string the way a conversion hands it to the engine: the inputs, the
// output options text and the output file, one task on the encoder component.
#pragma once

#include <QString>
#include <QStringList>

#include <string>

#include "engine/ff_encoder.h"

namespace qm::formats::test {

class EngineRunner {
public:
    // True when the task finished; otherwise `error` says why, in the engine's words.
    bool Run(const QStringList& inputs, const QString& options, const QString& output, QString& error) {
        using namespace qm::engine;
        TFFEncoder encoder;
        encoder.TriggerEventInMainThread = false;
        TTerminateInfo result;
        result.Failed = true;
        result.ErrorMessage = "no terminate event";
        encoder.OnTerminate = [&](void*, const TTerminateInfo& info) {
            if (info.TaskIndex >= 0) result = info;
        };
        const int task = encoder.AddTask(inputs.value(0).toStdString());
        if (task < 0) return Fail(encoder, error);
        for (qsizetype i = 1; i < inputs.size(); ++i) {
            if (encoder.AddInput(task, inputs[i].toStdString()) < 0) return Fail(encoder, error);
        }
        TOutputOptions out;
        out.Options = options.toStdString();
        if (encoder.SetOutput(task, output.toStdString(), &out) < 0) return Fail(encoder, error);
        encoder.StartTask(0);  // on this thread, to the end
        error = QString::fromStdString(result.ErrorMessage);
        return result.Finished && !result.Failed;
    }

private:
    static bool Fail(const qm::engine::TFFEncoder& encoder, QString& error) {
        error = QString::fromStdString(encoder.LastErrorMessage());
        return false;
    }
};

}  // namespace qm::formats::test
