// Log lines of the conversion go to the program's event log when there is one.
#pragma once

#include <QString>

namespace qm::conversion {

void LogInfo(const QString& line);
void LogError(const QString& line);

}  // namespace qm::conversion
