// Bitmap filters applied to an object's own picture.
#pragma once

#include <vector>

#include <cairo.h>

#include "swf/swf.h"

namespace qm::flash::render {

// Applies the filters in order to a premultiplied ARGB image surface.
// `scale` turns the filters' stage pixels into the surface's pixels.
void ApplyFilters(cairo_surface_t* picture, const std::vector<swf::Filter>& filters, double scale);

// How far, in the surface's pixels, the filters can spread a picture.
double FilterMargin(const std::vector<swf::Filter>& filters, double scale);

}  // namespace qm::flash::render
