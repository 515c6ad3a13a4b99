#include "app/windows/app.h"
#include "app/core/app_core.h"
#include "player/config_substitution.h"

namespace qm::app {

void InstallPlayerConfigSubstitution() {
    player::InstallPlayerConfig([](const std::string& line) {
        if (AppLog) AppLog->WriteError(QString::fromStdString(line));
    });
}

void RemovePlayerConfigSubstitution() { player::RemovePlayerConfig(); }

}  // namespace qm::app
