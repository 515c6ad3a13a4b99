#include "flash/display_list.h"

namespace qm::flash {

DisplayList::DisplayList() = default;
DisplayList::~DisplayList() = default;
DisplayList::DisplayList(DisplayList&&) noexcept = default;
DisplayList& DisplayList::operator=(DisplayList&&) noexcept = default;

DisplayObject* DisplayList::At(int32_t depth) const {
    auto it = objects_.find(depth);
    return it == objects_.end() ? nullptr : it->second.get();
}

std::unique_ptr<DisplayObject> DisplayList::Put(std::unique_ptr<DisplayObject> object) {
    auto& slot = objects_[object->depth];
    std::unique_ptr<DisplayObject> old = std::move(slot);
    slot = std::move(object);
    return old;
}

std::unique_ptr<DisplayObject> DisplayList::Take(int32_t depth) {
    auto it = objects_.find(depth);
    if (it == objects_.end()) return nullptr;
    std::unique_ptr<DisplayObject> taken = std::move(it->second);
    objects_.erase(it);
    return taken;
}

void DisplayList::Clear() { objects_.clear(); }

}  // namespace qm::flash
