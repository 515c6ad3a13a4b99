// Buttons: their visible state from the mouse the host passes in, the
// transitions between states and the actions bound to them.
#include <algorithm>
#include <cmath>
#include <map>

#include "flash/player_impl.h"

namespace qm::flash {

namespace {

// The point in the matrix's source space; false for a matrix that flattens
// everything (nothing can be hit).
bool InvertPoint(const swf::Matrix& m, double x, double y, double& ox, double& oy) {
    double det = m.a * m.d - m.b * m.c;
    if (std::fabs(det) < 1e-12) return false;
    double dx = x - m.tx, dy = y - m.ty;
    ox = (m.d * dx - m.c * dy) / det;
    oy = (-m.b * dx + m.a * dy) / det;
    return true;
}

bool InRect(const swf::Rect& r, double x, double y) {
    return x >= r.x_min && x <= r.x_max && y >= r.y_min && y <= r.y_max;
}

// Counts, per fill, how often a ray from the point to the right crosses the
// edges that bound that fill; an odd count for any fill means inside.
class FillHitCounter {
public:
    FillHitCounter(double x, double y) : x_(x), y_(y) {}

    void Segment(double x0, double y0, double x1, double y1, uint32_t fill0, uint32_t fill1) {
        if (fill0 == 0 && fill1 == 0) return;
        if ((y0 > y_) == (y1 > y_)) return;
        double cx = x0 + (y_ - y0) * (x1 - x0) / (y1 - y0);
        if (cx <= x_) return;
        if (fill0) ++crossings_[{layer_, fill0}];
        if (fill1 && fill1 != fill0) ++crossings_[{layer_, fill1}];
    }
    void NewLayer() { ++layer_; }
    bool Inside() const {
        for (const auto& [key, count] : crossings_) {
            if (count % 2) return true;
        }
        return false;
    }

private:
    double x_, y_;
    int layer_ = 0;
    std::map<std::pair<int, uint32_t>, int> crossings_;
};

bool ShapeContains(const std::vector<swf::ShapeRecord>& records, double x, double y, bool glyph) {
    FillHitCounter counter(x, y);
    double px = 0, py = 0;
    uint32_t fill0 = 0, fill1 = 0;
    for (const auto& record : records) {
        if (auto* sc = std::get_if<swf::StyleChangeRecord>(&record)) {
            if (sc->new_fill_styles) {
                counter.NewLayer();
                fill0 = fill1 = 0;
            }
            if (sc->move_to) {
                px = sc->move_to->first;
                py = sc->move_to->second;
            }
            if (sc->fill_style0) fill0 = *sc->fill_style0;
            if (sc->fill_style1) fill1 = *sc->fill_style1;
        } else if (auto* e = std::get_if<swf::StraightEdgeRecord>(&record)) {
            counter.Segment(px, py, px + e->dx, py + e->dy, glyph ? 1 : fill0, glyph ? 0 : fill1);
            px += e->dx;
            py += e->dy;
        } else if (auto* c = std::get_if<swf::CurvedEdgeRecord>(&record)) {
            double cx = px + c->control_dx, cy = py + c->control_dy;
            double ex = cx + c->anchor_dx, ey = cy + c->anchor_dy;
            double lx = px, ly = py;
            constexpr int kSteps = 8;
            for (int i = 1; i <= kSteps; ++i) {
                double t = double(i) / kSteps, u = 1 - t;
                double qx = u * u * px + 2 * u * t * cx + t * t * ex;
                double qy = u * u * py + 2 * u * t * cy + t * t * ey;
                counter.Segment(lx, ly, qx, qy, glyph ? 1 : fill0, glyph ? 0 : fill1);
                lx = qx;
                ly = qy;
            }
            px = ex;
            py = ey;
        }
    }
    return counter.Inside();
}

}  // namespace

// Whether a point of the object's parent space lies on the object.
static bool ObjectContains(const DisplayObject& o, const Dictionary& dictionary, double x, double y);

static bool ListContains(const DisplayList& list, const Dictionary& dictionary, double x, double y) {
    for (const auto& [depth, child] : list) {
        if (child->clip_depth == 0 && child->visible && ObjectContains(*child, dictionary, x, y)) return true;
    }
    return false;
}

// A sprite used as a hit area counts with what its first frame places.
static bool CharacterContains(const Character& c, const Dictionary& dictionary, double lx, double ly, int nesting = 0) {
    if (auto* shape = c.As<swf::Shape>()) {
        return InRect(shape->bounds, lx, ly) && ShapeContains(shape->records, lx, ly, false);
    }
    if (auto* morph = c.As<swf::MorphShape>()) return InRect(morph->start_bounds, lx, ly);
    if (auto* text = c.As<swf::Text>()) return InRect(text->bounds, lx, ly);
    if (auto* edit = c.As<swf::EditText>()) return InRect(edit->bounds, lx, ly);
    if (c.As<swf::Sprite>() && c.timeline && nesting < 8) {
        for (const FrameTag& tag : c.timeline->FrameTags(0)) {
            if (!tag.IsPlace()) continue;
            const std::optional<swf::PlaceObject> place = tag.Place(c.timeline->version);
            if (!place) continue;
            const swf::PlaceObject* p = &*place;
            if ( !p->character_id || p->is_move || (p->clip_depth && *p->clip_depth)) continue;
            const Character* inner = dictionary.Find(*p->character_id);
            double ix, iy;
            if (inner && InvertPoint(p->matrix.value_or(swf::Matrix{}), lx, ly, ix, iy) &&
                CharacterContains(*inner, dictionary, ix, iy, nesting + 1)) {
                return true;
            }
        }
    }
    return false;
}

static bool ObjectContains(const DisplayObject& o, const Dictionary& dictionary, double x, double y) {
    double lx, ly;
    if (!InvertPoint(o.matrix, x, y, lx, ly)) return false;
    if (o.button) {
        // The hit state, whatever is shown.
        for (const auto& record : o.button->button->records) {
            if (!record.state_hit_test) continue;
            const Character* c = dictionary.Find(record.character_id);
            double rx, ry;
            if (!c || !InvertPoint(record.matrix, lx, ly, rx, ry)) continue;
            if (CharacterContains(*c, dictionary, rx, ry)) return true;
        }
        return false;
    }
    if (o.sprite) return ListContains(o.children, dictionary, lx, ly);
    return o.character && CharacterContains(*o.character, dictionary, lx, ly);
}

namespace {

// The topmost button under a point of `list`'s space.
DisplayObject* FindButton(const DisplayList& list, const Dictionary& dictionary, double x, double y) {
    for (auto it = list.rbegin(); it != list.rend(); ++it) {
        DisplayObject& o = *it->second;
        if (!o.visible || o.clip_depth != 0) continue;
        if (o.button) {
            if (ObjectContains(o, dictionary, x, y)) return &o;
            continue;
        }
        if (o.sprite) {
            double lx, ly;
            if (!InvertPoint(o.matrix, x, y, lx, ly)) continue;
            if (DisplayObject* b = FindButton(o.children, dictionary, lx, ly)) return b;
        }
    }
    return nullptr;
}

bool InState(const swf::ButtonRecord& r, ButtonVisualState s) {
    switch (s) {
    case ButtonVisualState::Up: return r.state_up;
    case ButtonVisualState::Over: return r.state_over;
    case ButtonVisualState::Down: return r.state_down;
    }
    return false;
}

}  // namespace

void Player::Impl::BuildButtonChildren(DisplayObject& button) {
    std::vector<int32_t> depths;
    for (const auto& [depth, child] : button.children) depths.push_back(depth);
    for (int32_t depth : depths) RemoveChild(button, depth);
    const swf::Button& def = *button.button->button;
    const swf::ButtonCxform* cxform = button.character ? button.character->button_cxform : nullptr;
    for (size_t i = 0; i < def.records.size(); ++i) {
        const swf::ButtonRecord& record = def.records[i];
        if (!InState(record, button.button->visual)) continue;
        const Character* c = DictionaryOf(button).Find(record.character_id);
        if (!c || !MayCreateUnder(button)) continue;
        auto child = CreateObject(*c, button, record.depth);
        child->matrix = record.matrix;
        child->color_transform = record.color_transform;
        if (def.version == 1 && cxform && !cxform->transforms.empty()) {
            child->color_transform = cxform->transforms[std::min(i, cxform->transforms.size() - 1)];
        }
        child->filters = record.filters;
        child->blend_mode = record.blend_mode;
        NameUnnamed(*child);
        Attach(button, std::move(child));
    }
}

void Player::Impl::SetButtonState(DisplayObject& button, ButtonVisualState state) {
    if (button.button->visual == state) return;
    button.button->visual = state;
    BuildButtonChildren(button);
}

void Player::Impl::ButtonEvent(DisplayObject& button, uint16_t condition) {
    ButtonSoundFor(button, condition);
    if (!scripts_enabled || !button.parent) return;
    DisplayObject* context = button.parent;
    while (context && !context->sprite) context = context->parent;
    if (!context) return;
    for (const auto& action : button.button->button->actions) {
        if ((action.conditions & condition) && action.key_code == 0) {
            scripts.push_back({context->instance_id, action.actions, ScriptKind::Button});
        }
    }
}

// Key handlers of buttons fire wherever the pointer is, for every button
// on the stage.
void Player::Impl::ButtonKeyPress(uint8_t key) {
    if (!scripts_enabled || key == 0) return;
    std::vector<DisplayObject*> all;
    for (const auto& [id, button] : buttons) all.push_back(button);
    std::sort(all.begin(), all.end(), [](auto* a, auto* b) { return a->instance_id < b->instance_id; });
    for (DisplayObject* button : all) {
        DisplayObject* context = button->parent;
        while (context && !context->sprite) context = context->parent;
        if (!context) continue;
        for (const auto& action : button->button->button->actions) {
            if (action.key_code == key) scripts.push_back({context->instance_id, action.actions, ScriptKind::Button});
        }
    }
}

// Follows the transitions of a push button (captures the mouse while
// pressed) or a menu button (does not).
void Player::Impl::UpdateMouse(bool press) {
    DisplayObject* under = FindButton(root->children, dictionary, mouse_x, mouse_y);
    DisplayObject* pressed = pressed_button ? FindButtonInstance(pressed_button) : nullptr;
    DisplayObject* hover = hover_button ? FindButtonInstance(hover_button) : nullptr;

    if (pressed) {
        bool menu = pressed->button->button->track_as_menu;
        bool inside = under == pressed;
        if (!mouse_down) {
            if (inside) {
                SetButtonState(*pressed, ButtonVisualState::Over);
                ButtonEvent(*pressed, swf::kCondOverDownToOverUp);
                hover_button = pressed->instance_id;
            } else {
                SetButtonState(*pressed, ButtonVisualState::Up);
                ButtonEvent(*pressed, swf::kCondOutDownToIdle);
                hover_button = 0;
            }
            pressed_button = 0;
        } else if (menu && !inside) {
            SetButtonState(*pressed, ButtonVisualState::Up);
            ButtonEvent(*pressed, swf::kCondOverDownToIdle);
            pressed_button = 0;
            hover_button = 0;
        } else if (inside != pressed->button->pointer_over) {
            SetButtonState(*pressed, inside ? ButtonVisualState::Down : ButtonVisualState::Over);
            ButtonEvent(*pressed, inside ? swf::kCondOutDownToOverDown : swf::kCondOverDownToOutDown);
        }
        if (pressed_button) pressed->button->pointer_over = inside;
        RunScripts();
        return;
    }

    if (hover != under) {
        if (hover) {
            hover->button->pointer_over = false;
            SetButtonState(*hover, ButtonVisualState::Up);
            ButtonEvent(*hover, swf::kCondOverUpToIdle);
        }
        hover_button = 0;
        if (under) {
            under->button->pointer_over = true;
            hover_button = under->instance_id;
            if (mouse_down && !press) {
                // Dragged in with the button held elsewhere: only menus react.
                if (under->button->button->track_as_menu) {
                    SetButtonState(*under, ButtonVisualState::Down);
                    ButtonEvent(*under, swf::kCondIdleToOverDown);
                    pressed_button = under->instance_id;
                }
            } else {
                SetButtonState(*under, ButtonVisualState::Over);
                ButtonEvent(*under, swf::kCondIdleToOverUp);
            }
        }
    }
    if (under && press) {
        SetButtonState(*under, ButtonVisualState::Down);
        ButtonEvent(*under, swf::kCondOverUpToOverDown);
        under->button->pointer_over = true;
        pressed_button = under->instance_id;
    }
    RunScripts();
}

}  // namespace qm::flash
