#include "engine/variables.h"

#include "engine/text.h"
#include "engine/value.h"

namespace nv {

const std::string& Variables::textAt(size_t position) const {
    Shadow& sh = shadows_[position];
    std::string& text = items_[position].second;
    if (sh.textDue) {
        text = formatInt(sh.number);
        sh.textDue = false;
    }
    return text;
}

void Variables::nameAt(size_t position, std::string_view name) {
    std::string& kept = items_[position].first;
    if (kept != name) {
        kept.assign(name);
        ++names_;
    }
}

void Variables::nameAt(Slot& slot, std::string_view name) {
    if (slot.names == names_) return;
    nameAt(slot.position, name);
    slot.names = names_;
}

void Variables::set(std::string_view name, std::string_view value) {
    std::string key = lowerAscii(name);
    auto it = index_.find(key);
    if (value.empty()) {
        if (it == index_.end()) return;
        const size_t pos = it->second;
        index_.erase(it);
        ++layout_;
        ++names_;
        items_.erase(items_.begin() + static_cast<std::ptrdiff_t>(pos));
        shadows_.erase(shadows_.begin() + static_cast<std::ptrdiff_t>(pos));
        for (auto& [k, p] : index_)
            if (p > pos) --p;
        return;
    }
    if (it != index_.end()) {
        nameAt(it->second, name);
        items_[it->second].second.assign(value);
        shadows_[it->second] = Shadow{};
        return;
    }
    ++layout_;
    ++names_;
    index_.emplace(std::move(key), items_.size());
    items_.emplace_back(std::string(name), std::string(value));
    shadows_.emplace_back();
}

const std::string* Variables::get(std::string_view name) const {
    // Short names stay in the small-string buffer: no allocation on the hot path.
    auto it = index_.find(lowerAscii(name));
    return it == index_.end() ? nullptr : &textAt(it->second);
}

void Variables::lookUp(std::string_view name, Slot& slot) const {
    auto it = index_.find(lowerAscii(name));
    slot.layout = layout_;
    slot.found = it != index_.end();
    if (slot.found) slot.position = it->second;
}

const std::string* Variables::get(std::string_view name, Slot& slot) const {
    if (slot.layout != layout_) lookUp(name, slot);
    return slot.found ? &textAt(slot.position) : nullptr;
}

bool Variables::readInteger(std::string_view name, Slot& slot, int64_t& out) const {
    if (slot.layout != layout_ && !get(name, slot)) return false;
    if (!slot.found) return false;
    Shadow& sh = shadows_[slot.position];
    if (sh.form == Form::Unread) {
        sh.form =
            plainInteger(items_[slot.position].second, sh.number) ? Form::Integer : Form::Other;
    }
    out = sh.number;
    return sh.form == Form::Integer;
}

Variables::IntegerRead Variables::readIntegerValue(std::string_view name, Slot& slot) const {
    IntegerRead r{false, 0};
    r.ok = readInteger(name, slot, r.value);
    return r;
}

std::string* Variables::editText(std::string_view name, Slot& slot) {
    if (!get(name, slot)) return nullptr;
    nameAt(slot, name);
    shadows_[slot.position] = Shadow{};
    return &items_[slot.position].second;
}

void Variables::writeInteger(std::string_view name, int64_t value, Slot& slot) {
    if (slot.layout != layout_) get(name, slot);
    if (!slot.found) {
        set(name, std::string_view(formatInt(value)), slot);
        return;
    }
    nameAt(slot, name);
    shadows_[slot.position] = Shadow{value, Form::Integer, true};
}

void Variables::set(std::string_view name, std::string_view value, Slot& slot) {
    if (slot.layout != layout_) get(name, slot);
    if (value.empty()) {
        // Removing a missing name changes nothing: `else` and `endif` lines come here on
        // every pass (they are assignments of no name).
        if (slot.found) set(name, value);
        return;
    }
    if (!slot.found) {
        set(name, value); // added last
        slot.layout = layout_;
        slot.found = true;
        slot.position = items_.size() - 1;
        return;
    }
    nameAt(slot, name);
    items_[slot.position].second.assign(value);
    shadows_[slot.position] = Shadow{};
}

void Variables::set(std::string_view name, std::string&& value, Slot& slot) {
    if (slot.layout != layout_) get(name, slot);
    if (value.empty() || !slot.found) {
        set(name, std::string_view(value), slot);
        return;
    }
    nameAt(slot, name);
    items_[slot.position].second.swap(value);
    shadows_[slot.position] = Shadow{};
}

void Variables::clear() {
    ++layout_;
    ++names_;
    items_.clear();
    shadows_.clear();
    index_.clear();
}

const std::vector<std::pair<std::string, std::string>>& Variables::items() const {
    for (size_t i = 0; i < items_.size(); ++i)
        textAt(i);
    return items_;
}

std::string Variables::text() const {
    std::string out;
    for (size_t i = 0; i < items_.size(); ++i) {
        if (i) out += '\n';
        out += items_[i].first;
        out += '=';
        out += textAt(i);
    }
    return out;
}

} // namespace nv
