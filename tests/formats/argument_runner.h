// Runs an engine argument string: the inputs, the output options text and the output file, as
// a conversion hands them to the engine.
//
// CommandLineRunner is a stand-in that hands the same words to the ffmpeg program; once the
// engine's task API runs argument strings, a runner over TFFEncoder takes its place here.
#pragma once

#include <QProcess>
#include <QStandardPaths>
#include <QStringList>

#include <string>

#include "engine/option_parser.h"

namespace qm::formats::test {

class ArgumentRunner {
public:
    virtual ~ArgumentRunner() = default;
    // True when the output was written; otherwise `error` says why.
    virtual bool Run(const QStringList& inputs, const QString& options, const QString& output, QString& error) = 0;
};

class CommandLineRunner : public ArgumentRunner {
public:
    static bool Available() { return !QStandardPaths::findExecutable(QStringLiteral("ffmpeg")).isEmpty(); }

    bool Run(const QStringList& inputs, const QString& options, const QString& output, QString& error) override {
        QStringList args{QStringLiteral("-hide_banner"), QStringLiteral("-nostdin"), QStringLiteral("-loglevel"),
                         QStringLiteral("error"), QStringLiteral("-y")};
        for (const QString& in : inputs) args << QStringLiteral("-i") << in;
        // The engine's own word rules, so quoting means what it will mean to the engine.
        for (const std::string& word : engine::SplitWords(options.toStdString())) args << QString::fromStdString(word);
        args << output;
        QProcess p;
        p.start(QStringLiteral("ffmpeg"), args);
        if (!p.waitForFinished(120000)) {
            p.kill();
            p.waitForFinished();
            error = QStringLiteral("ffmpeg did not finish");
            return false;
        }
        error = QString::fromUtf8(p.readAllStandardError());
        return p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
    }
};

}  // namespace qm::formats::test
