// Variables sent as "name=value&..." text: LoadVars, loadVariables and
// loadVariablesNum. Files come through the movie's gate only.
#pragma once

#include <string>

#include "flash/avm1/interpreter.h"

namespace qm::flash::avm1 {

void InstallLoadVars(Interpreter& in);

// Sets each "name=value" pair of `text` on `into` ('+' is a space, %XX a byte).
void DecodeVariables(Interpreter& in, const Value& into, const std::string& text);

// LoadVars.load and XML.load: the byte counts of `target` are reset now, and its
// onData hears the file's text (undefined when it cannot be read) with the
// frame's other loads.
void StartTextLoad(Interpreter& in, const Value& target, const std::string& url);

// loadVariables: the file's variables reach `clip` once this frame's scripts
// are done, then its onData handler runs. A refused or missing file sets nothing.
void LoadVariablesInto(Interpreter& in, DisplayObject& clip, const std::string& url);

}  // namespace qm::flash::avm1
