// Error, SharedObject kept in memory, and the classes of devices and services a
// converted movie has none of (camera, network, printing, context menu, file
// dialogs, a container page).
#pragma once

#include "flash/avm1/interpreter.h"

namespace qm::flash::avm1 {

void InstallPlatformClasses(Interpreter& in);

// NetConnection: files of the movie's own with connect(null); no server.
void InstallNetConnection(Interpreter& in);

// flash.external.ExternalInterface, in the `flash` package.
void InstallExternalInterface(Interpreter& in);
// flash.net.FileReference and FileReferenceList, in `net`.
void InstallFileReference(Interpreter& in, const ObjRef& net);

}  // namespace qm::flash::avm1
