// The variable store: an ordered list of name=value pairs. Names are compared ignoring
// letter case (A..Z); writing keeps the name as last written; the empty value deletes.
//
// Threading: owned by one Interpreter, user-interface thread only. Errors: none.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

namespace nv {

class Variables {
  public:
    // Where a name was last found. A line that reads or writes the same name on every pass
    // keeps one, so that the name is not lower-cased and hashed again: it stays valid until
    // a name is added or removed (positions move only then).
    struct Slot {
        size_t position = 0;
        uint64_t layout = 0; // 0: never looked up
        bool found = false;
    };

    // Writes a value; the empty value removes the name.
    void set(std::string_view name, std::string_view value);
    // Null when the name is missing.
    const std::string* get(std::string_view name) const;
    // The same through a remembered slot.
    const std::string* get(std::string_view name, Slot& slot) const;
    void set(std::string_view name, std::string_view value, Slot& slot);
    // The same, taking the value's buffer (a long text is not copied again).
    void set(std::string_view name, std::string&& value, Slot& slot);
    void clear();
    size_t size() const { return items_.size(); }
    // All name=value lines joined by line breaks (what the watch window shows).
    std::string text() const;
    const std::vector<std::pair<std::string, std::string>>& items() const { return items_; }

  private:
    std::vector<std::pair<std::string, std::string>> items_;
    std::unordered_map<std::string, size_t> index_; // lower-cased name -> position
    uint64_t layout_ = 1;                           // changes whenever positions may have moved
};

} // namespace nv
