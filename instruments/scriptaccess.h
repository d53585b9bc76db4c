// The typed face a rack control shows to scripts: what kind of value it holds, reading and
// setting that value (a setting is clamped into the control's range, as the control's own
// setters do), and the class's own messages for a read or a setting that fails. Every
// instrument class has it through InstrumentControl; the rack gives the standard classes
// that scripts reach (label, edit, memo) one of their own. The rack resolves it once per
// control when a rack is loaded and keeps the pointer in the control's record, so that a
// script line reaches a control's value through a compiled call, never a property name.
//
// Only the accessors of the control's kind mean anything; the others keep their defaults.
// Enabled and visible need no entry here: QWidget's own setEnabled/setVisible are typed.
//
// Threading: user-interface thread only. Error policy: nothing throws; a conversion from a
// script's text is the rack's business, and so is raising readError()/setError().
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

namespace nv::rack {

class ScriptAccess {
  public:
    enum class Kind {
        None,        // no value scripts reach (spinner, LCD, border, gradient, drop-down list)
        Integer,     // whole number: read as one, set from one
        IntegerReal, // real number: read as a real, set from a whole number only
        Real,        // real number: set from any decimal number
        Flag,        // 1 or 0; setting any other text is ignored
        Text,        // bytes, up to the rack's text limit
        Log,         // bytes; the newest part is kept and shown (a memo)
        Pressed,     // read only: "1" held, "0" released, "" never pressed
        Sample,      // set only: one sample handed to the scope's next data request
    };
    // The scope's question at each tick: one sample for `channel`, `proposed` if none.
    using DataRequest = std::function<int(int channel, int proposed)>;

    virtual ~ScriptAccess() = default;

    virtual Kind scriptKind() const { return Kind::None; }
    // The script error a failed read or setting raises (the class's own words). A typed read
    // cannot fail, so readError() names the class's message without being raised today.
    virtual std::string_view readError() const { return {}; }
    virtual std::string_view setError() const { return {}; }

    // Integer.
    virtual int scriptInteger() const { return 0; }
    virtual void setScriptInteger(int) {}
    // The value as a whole number through plain calls, `self` being this ScriptAccess as a
    // void pointer (so that the engine may keep the pair without knowing the class):
    // `get(self, n)` reads an Integer kind's value; `set(self, n)` sets a whole number as
    // setScriptInteger (Integer) or setScriptReal (IntegerReal) takes it, false (nothing
    // done) for a number outside 32 bits. Null where the kind has no such reading or
    // setting. A loop that moves a slider on every line then pays for the slider's setter,
    // not for the calls that find it. A class may give its own pair.
    struct Whole {
        bool (*get)(const void* self, int64_t& n) = nullptr;
        bool (*set)(void* self, int64_t n) = nullptr;
    };
    virtual Whole whole() const;
    // IntegerReal and Real.
    virtual double scriptReal() const { return 0; }
    virtual void setScriptReal(double) {}
    // Flag.
    virtual bool scriptFlag() const { return false; }
    virtual void setScriptFlag(bool) {}
    // Text, Log and Pressed (read only).
    virtual std::string scriptText() const { return {}; }
    virtual void setScriptText(std::string) {}
    // Sample: the handler the next ticks ask, and switching the sampling on or off.
    virtual void setSampleRequest(DataRequest) {}
    virtual void setSampling(bool) {}
    virtual bool sampling() const { return false; }
};

} // namespace nv::rack
