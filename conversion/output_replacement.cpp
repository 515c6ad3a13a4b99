// Replacing an earlier output: the run writes beside it and the new file takes its name only
// once complete, so a failed or cancelled run leaves the earlier file as it was.
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "conversion/conversion.h"

namespace qm::conversion {

QString PassingOutputPath(const QString& outputPath) {
    const QFileInfo target(outputPath);
    if (!target.exists()) return outputPath;
    // Same folder (the rename stays on one file system) and same extension (the engine picks
    // the container from it).
    return target.dir().filePath(
        QStringLiteral(".%1.quellmark-part%2")
            .arg(target.completeBaseName(), target.suffix().isEmpty() ? QString() : QLatin1Char('.') + target.suffix()));
}

QString PutOutputInPlace(const QString& writePath, const QString& outputPath) {
    if (writePath == outputPath) return {};
    if (std::rename(QFile::encodeName(writePath).constData(), QFile::encodeName(outputPath).constData()) == 0)
        return {};
    const int why = errno;
    QFile::remove(writePath);
    return QStringLiteral("Cannot write the output file %1: %2")
        .arg(QDir::toNativeSeparators(outputPath), QString::fromLocal8Bit(std::strerror(why)));
}

}  // namespace qm::conversion
