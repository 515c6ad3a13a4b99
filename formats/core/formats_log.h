// Log lines of the formats library; nothing here may fail because the log cannot be written.
#pragma once

#include <QString>

namespace qm::formats {

void LogFormatsError(const QString& message);
void LogFormatsInfo(const QString& message);

}  // namespace qm::formats
