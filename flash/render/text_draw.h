// Static text, and dynamic/input text fields drawn from their layout.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "flash/dictionary.h"
#include "flash/render/drawable.h"

namespace qm::flash::render {


struct TextRenderer {
    std::function<const Drawable&(const swf::Shape&)> glyph;

    void DrawStatic(cairo_t* cr, const swf::Text& text, const Dictionary& dict, const Matrix& m,
                    const ColorTransform& cx, const DrawEnv& env);
    void DrawEdit(cairo_t* cr, const swf::EditText& field, const std::optional<std::string>& shownText,
                  const Dictionary& dict, const Matrix& m, const ColorTransform& cx, const DrawEnv& env);
};

}  // namespace qm::flash::render
