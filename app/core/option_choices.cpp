#include "app/core/app_core.h"

namespace qm::app {

int CaptureModeOf(bool automatic, bool autoEnd) {
    if (automatic) return 2;
    return autoEnd ? 1 : 0;
}

QString FormatItemExtension(const QString& item) {
    const qsizetype star = item.indexOf(QStringLiteral("*."));
    if (star < 0) return QString();
    const qsizetype from = star + 2;
    const qsizetype length = item.size() - 1 - from;
    return length > 0 ? item.mid(from, length) : QString();
}

void ApplyOptionChoices(const OptionChoices& c) {
    FinishAction = c.FinishAction;
    // OverWrite is written even when unchanged, so every OK leaves a trace in the file.
    WriteSetting(QStringLiteral("OverWrite"), c.OverWrite);
    if (c.IsCheckUpdate != IsCheckUpdate) WriteSetting(QStringLiteral("IsCheckUpdate"), c.IsCheckUpdate);
    CaptureMode = c.CaptureMode;
    if (c.FastCapture != FastCapture) WriteSetting(QStringLiteral("FastCapture"), c.FastCapture);
    if (c.CaptureTempPath != CaptureTempPath) {
        // The system's own folder is stored empty, so the setting follows the system if it moves.
        WriteSetting(QStringLiteral("CaptureTempPath"),
                     c.CaptureTempPath == SystemTempPath ? QString() : c.CaptureTempPath);
        CaptureTempPath = c.CaptureTempPath;
    }
    if (c.SnapshotPath != SnapshotPath) WriteSetting(QStringLiteral("SnapshotPath"), c.SnapshotPath);
    if (c.SnapshotExt != SnapshotExt) WriteSetting(QStringLiteral("SnapshotExt"), c.SnapshotExt);
    if (c.OutputPath != OutputPath) WriteSetting(QStringLiteral("OutputPath"), c.OutputPath);
}

}  // namespace qm::app
