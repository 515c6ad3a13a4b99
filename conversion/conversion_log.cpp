#include "conversion/conversion_log.h"

#include "app/core/app_core.h"

namespace qm::conversion {

// A log that cannot be written must not stop a conversion.
void LogInfo(const QString& line) {
    if (!app::AppLog) return;
    try {
        app::AppLog->WriteInfo(line);
    } catch (const app::IoError&) {
    }
}

void LogError(const QString& line) {
    if (!app::AppLog) return;
    try {
        app::AppLog->WriteError(line);
    } catch (const app::IoError&) {
    }
}

}  // namespace qm::conversion
