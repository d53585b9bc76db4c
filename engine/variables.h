// The variable store: an ordered list of name=value pairs. Names are compared ignoring
// letter case (A..Z); writing keeps the name as last written; the empty value deletes.
//
// The text is the value. Beside it each variable may keep the integer its text reads as
// (when the text is one the number writer gives for an integer, see plainInteger): loops
// and arithmetic on integers then neither write nor read digits. An integer stored with
// setInteger has its text written only when something asks for the text (get, text(),
// items()), and that text is exactly what the number writer gives.
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
        uint64_t names = 0; // the store's names_ when this slot's name was last written
    };

    // Writes a value; the empty value removes the name.
    void set(std::string_view name, std::string_view value);
    // Null when the name is missing.
    const std::string* get(std::string_view name) const;
    // The same through a remembered slot.
    const std::string* get(std::string_view name, Slot& slot) const;
    // Whether the name is present, without writing a text that is due.
    bool has(std::string_view name, Slot& slot) const {
        if (slot.layout != layout_) lookUp(name, slot);
        return slot.found;
    }
    void set(std::string_view name, std::string_view value, Slot& slot);
    // The same, taking the value's buffer (a long text is not copied again).
    void set(std::string_view name, std::string&& value, Slot& slot);
    // The variable's value when its text is a plain integer (see plainInteger); false when
    // it is missing or holds anything else.
    bool getInteger(std::string_view name, Slot& slot, int64_t& out) const {
        // Inline for what a busy loop meets: a current slot and a value already read.
        if (slot.layout == layout_ && slot.found) {
            const Shadow& sh = shadows_[slot.position];
            if (sh.form != Form::Unread) {
                out = sh.number;
                return sh.form == Form::Integer;
            }
        }
        return readInteger(name, slot, out);
    }
    // getInteger with the value returned rather than written through a reference: a caller
    // whose locals have no address taken is spared the stack guard.
    struct IntegerRead {
        bool ok;
        int64_t value;
    };
    IntegerRead integer(std::string_view name, Slot& slot) const {
        if (slot.layout == layout_ && slot.found) {
            const Shadow& sh = shadows_[slot.position];
            if (sh.form != Form::Unread) return {sh.form == Form::Integer, sh.number};
        }
        return readIntegerValue(name, slot);
    }
    // The variable's text for a change in place (an append to itself), with the name written
    // as given; null when it is missing. The caller removes it if the text ends up empty.
    std::string* editText(std::string_view name, Slot& slot);
    // Writes an integer of magnitude below 10^15 (see inPlainRange); its text is written
    // when first read.
    void setInteger(std::string_view name, int64_t value, Slot& slot) {
        // Inline for a current slot whose name was last written through it.
        if (slot.layout == layout_ && slot.found && slot.names == names_) {
            shadows_[slot.position] = Shadow{value, Form::Integer, true};
            return;
        }
        writeInteger(name, value, slot);
    }
    void clear();
    size_t size() const { return items_.size(); }
    // All name=value lines joined by line breaks (what the watch window shows).
    std::string text() const;
    const std::vector<std::pair<std::string, std::string>>& items() const;

  private:
    // What is known of a value's reading as an integer.
    enum class Form : unsigned char {
        Unread,  // the text has not been read yet
        Integer, // `number` is its value and the text is (or will be) its plain writing
        Other,   // the text is no plain integer
    };
    struct Shadow {
        int64_t number = 0;
        Form form = Form::Unread;
        bool textDue = false; // Integer: the text has not been written yet
    };
    const std::string& textAt(size_t position) const;
    bool readInteger(std::string_view name, Slot& slot, int64_t& out) const;
    IntegerRead readIntegerValue(std::string_view name, Slot& slot) const;
    void lookUp(std::string_view name, Slot& slot) const;
    void writeInteger(std::string_view name, int64_t value, Slot& slot);
    void nameAt(size_t position, std::string_view name);
    void nameAt(Slot& slot, std::string_view name);

    // Texts are written on demand from their shadows, so both are mutable.
    mutable std::vector<std::pair<std::string, std::string>> items_;
    mutable std::vector<Shadow> shadows_;           // one per item
    std::unordered_map<std::string, size_t> index_; // lower-cased name -> position
    uint64_t layout_ = 1;                           // changes whenever positions may have moved
    // Changes whenever a kept name may have changed (its letter case, an addition, a
    // removal): a slot that wrote its name since keeps it without comparing.
    uint64_t names_ = 1;
};

} // namespace nv
