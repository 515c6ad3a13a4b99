#include "formats/core/formats_log.h"

#include "app/core/app_core.h"

namespace qm::formats {

namespace {

template <typename Write>
void writeLine(Write write) {
    if (!app::AppLog) return;
    try {
        write(*app::AppLog);
    } catch (const app::IoError&) {
        // The log keeps its path and the next line tries again.
    }
}

}  // namespace

void LogFormatsError(const QString& message) {
    writeLine([&](app::TBrvLog& log) { log.WriteError(message); });
}

void LogFormatsInfo(const QString& message) {
    writeLine([&](app::TBrvLog& log) { log.WriteInfo(message); });
}

}  // namespace qm::formats
