// Lines and fills drawn by scripts on a clip at run time.
#pragma once

#include <cairo.h>

#include "flash/render/drawable.h"

namespace qm::flash::render {

// Draws a shape that scripts build and change from frame to frame, so it is
// prepared anew at every call instead of being cached.
void DrawDynamicShape(cairo_t* cr, const swf::Shape& shape, const Matrix& toDevice, const ColorTransform& cx,
                      const DrawEnv& env);

}  // namespace qm::flash::render
