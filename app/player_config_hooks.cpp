#include "app/app.h"

namespace qm::app {

// No player configuration exists to substitute until the player reads one.
void InstallPlayerConfigSubstitution() {}
void RemovePlayerConfigSubstitution() {}

}  // namespace qm::app
