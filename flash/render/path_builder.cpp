// Edge lists to fill contours and stroke polylines.
#include <algorithm>
#include <cstring>
#include <map>
#include <unordered_map>

#include "flash/render/render_parts.h"

namespace qm::flash::render {

namespace {

struct DirectedEdge {
    Point from, control, to;
    bool curved;
};

struct PointHash {
    size_t operator()(const Point& p) const {
        uint64_t x, y;
        std::memcpy(&x, &p.x, 8);
        std::memcpy(&y, &p.y, 8);
        return std::hash<uint64_t>()(x * 0x9E3779B97F4A7C15ull ^ y);
    }
};

void Emit(std::vector<PathCommand>& out, const DirectedEdge& e) {
    if (e.curved)
        out.push_back({PathCommand::Quad, float(e.to.x), float(e.to.y), float(e.control.x), float(e.control.y)});
    else
        out.push_back({PathCommand::Line, float(e.to.x), float(e.to.y)});
}

// Links edges end to start. In a well-formed fill every point has as many
// edges leaving as arriving, so a walk can only stop where it began.
std::vector<PathCommand> LinkContours(const std::vector<DirectedEdge>& edges) {
    std::unordered_map<Point, std::vector<size_t>, PointHash> byStart;
    byStart.reserve(edges.size());
    for (size_t i = 0; i < edges.size(); ++i) byStart[edges[i].from].push_back(i);
    std::unordered_map<Point, size_t, PointHash> cursor;
    std::vector<bool> used(edges.size(), false);
    std::vector<PathCommand> out;
    out.reserve(edges.size() + 8);

    auto takeFrom = [&](const Point& p) -> long {
        auto it = byStart.find(p);
        if (it == byStart.end()) return -1;
        size_t& c = cursor[p];
        auto& list = it->second;
        while (c < list.size() && used[list[c]]) ++c;
        if (c == list.size()) return -1;
        return static_cast<long>(list[c]);
    };

    for (size_t i = 0; i < edges.size(); ++i) {
        if (used[i]) continue;
        Point start = edges[i].from;
        out.push_back({PathCommand::Move, float(start.x), float(start.y)});
        size_t cur = i;
        for (;;) {
            used[cur] = true;
            Emit(out, edges[cur]);
            if (edges[cur].to == start) {
                out.push_back({PathCommand::Close});
                break;
            }
            long next = takeFrom(edges[cur].to);
            if (next < 0) break;
            cur = static_cast<size_t>(next);
        }
    }
    return out;
}

}  // namespace

std::vector<PathLayer> BuildPaths(const std::vector<StyledEdge>& edges) {
    std::vector<PathLayer> layers;
    size_t begin = 0;
    while (begin < edges.size()) {
        uint32_t layer = edges[begin].layer;
        size_t end = begin;
        while (end < edges.size() && edges[end].layer == layer) ++end;

        std::map<uint32_t, std::vector<DirectedEdge>> fills;
        std::map<uint32_t, std::vector<PathCommand>> strokes;
        std::map<uint32_t, Point> strokePen, strokeStart;
        for (size_t i = begin; i < end; ++i) {
            const StyledEdge& e = edges[i];
            // An edge with the same fill on both sides lies inside the fill and
            // contributes nothing to it.
            if (e.fill0 != e.fill1) {
                if (e.fill1) fills[e.fill1].push_back({e.from, e.control, e.to, e.curved});
                if (e.fill0) fills[e.fill0].push_back({e.to, e.control, e.from, e.curved});
            }
            if (e.line) {
                auto& cmds = strokes[e.line];
                auto pen = strokePen.find(e.line);
                if (pen == strokePen.end() || !(pen->second == e.from)) {
                    cmds.push_back({PathCommand::Move, float(e.from.x), float(e.from.y)});
                    strokeStart[e.line] = e.from;
                }
                Emit(cmds, {e.from, e.control, e.to, e.curved});
                strokePen[e.line] = e.to;
                if (e.to == strokeStart[e.line]) {
                    cmds.push_back({PathCommand::Close});
                    strokePen.erase(e.line);
                }
            }
        }
        PathLayer out;
        out.layer = layer;
        for (auto& [style, list] : fills) out.fills.push_back({style, LinkContours(list)});
        for (auto& [style, cmds] : strokes) out.strokes.push_back({style, std::move(cmds)});
        layers.push_back(std::move(out));
        begin = end;
    }
    return layers;
}

void AppendPath(cairo_t* cr, const std::vector<PathCommand>& commands) {
    double px = 0, py = 0;
    for (const PathCommand& c : commands) {
        switch (c.op) {
            case PathCommand::Move:
                cairo_move_to(cr, c.x, c.y);
                px = c.x;
                py = c.y;
                break;
            case PathCommand::Line:
                cairo_line_to(cr, c.x, c.y);
                px = c.x;
                py = c.y;
                break;
            case PathCommand::Quad: {
                // Exact cubic form of the quadratic curve.
                double c1x = px + 2.0 / 3.0 * (c.cx - px), c1y = py + 2.0 / 3.0 * (c.cy - py);
                double c2x = c.x + 2.0 / 3.0 * (c.cx - c.x), c2y = c.y + 2.0 / 3.0 * (c.cy - c.y);
                cairo_curve_to(cr, c1x, c1y, c2x, c2y, c.x, c.y);
                px = c.x;
                py = c.y;
                break;
            }
            case PathCommand::Close:
                cairo_close_path(cr);
                cairo_get_current_point(cr, &px, &py);
                break;
        }
    }
}

}  // namespace qm::flash::render
