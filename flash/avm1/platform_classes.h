// Error, SharedObject kept in memory, and the classes of devices and services a
// converted movie has none of (camera, network, printing, context menu).
#pragma once

#include "flash/avm1/interpreter.h"

namespace qm::flash::avm1 {

void InstallPlatformClasses(Interpreter& in);

}  // namespace qm::flash::avm1
