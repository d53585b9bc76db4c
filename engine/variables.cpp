#include "engine/variables.h"

#include "engine/text.h"

namespace nv {

void Variables::set(std::string_view name, std::string_view value) {
    std::string key = lowerAscii(name);
    auto it = index_.find(key);
    if (value.empty()) {
        if (it == index_.end()) return;
        const size_t pos = it->second;
        index_.erase(it);
        ++layout_;
        items_.erase(items_.begin() + static_cast<std::ptrdiff_t>(pos));
        for (auto& [k, p] : index_)
            if (p > pos) --p;
        return;
    }
    if (it != index_.end()) {
        auto& item = items_[it->second];
        if (item.first != name) item.first.assign(name);
        item.second.assign(value);
        return;
    }
    ++layout_;
    index_.emplace(std::move(key), items_.size());
    items_.emplace_back(std::string(name), std::string(value));
}

const std::string* Variables::get(std::string_view name) const {
    // Short names stay in the small-string buffer: no allocation on the hot path.
    auto it = index_.find(lowerAscii(name));
    return it == index_.end() ? nullptr : &items_[it->second].second;
}

const std::string* Variables::get(std::string_view name, Slot& slot) const {
    if (slot.layout != layout_) {
        auto it = index_.find(lowerAscii(name));
        slot.layout = layout_;
        slot.found = it != index_.end();
        if (slot.found) slot.position = it->second;
    }
    return slot.found ? &items_[slot.position].second : nullptr;
}

void Variables::set(std::string_view name, std::string_view value, Slot& slot) {
    if (value.empty()) {
        set(name, value);
        return;
    }
    if (!get(name, slot)) {
        set(name, value); // added last
        slot.layout = layout_;
        slot.found = true;
        slot.position = items_.size() - 1;
        return;
    }
    auto& item = items_[slot.position];
    if (item.first != name) item.first.assign(name);
    item.second.assign(value);
}

void Variables::set(std::string_view name, std::string&& value, Slot& slot) {
    if (value.empty() || !get(name, slot)) {
        set(name, std::string_view(value), slot);
        return;
    }
    auto& item = items_[slot.position];
    if (item.first != name) item.first.assign(name);
    item.second.swap(value);
}

void Variables::clear() {
    ++layout_;
    items_.clear();
    index_.clear();
}

std::string Variables::text() const {
    std::string out;
    for (size_t i = 0; i < items_.size(); ++i) {
        if (i) out += '\n';
        out += items_[i].first;
        out += '=';
        out += items_[i].second;
    }
    return out;
}

} // namespace nv
