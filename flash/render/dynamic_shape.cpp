// Lines and fills drawn by scripts on a clip at run time.
#include "flash/render/dynamic_shape.h"

namespace qm::flash::render {

void DrawDynamicShape(cairo_t* cr, const swf::Shape& shape, const Matrix& toDevice, const ColorTransform& cx,
                      const DrawEnv& env) {
    if (shape.records.empty()) return;
    DrawDrawable(cr, MakeDrawable(shape), toDevice, cx, env);
}

}  // namespace qm::flash::render
