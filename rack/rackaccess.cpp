// Scripts reading and setting rack controls by name, through each control's ScriptAccess.
#include <QPointer>
#include <cstdint>
#include <functional>
#include <memory>

#include "engine/interpreter.h"
#include "engine/value.h"
#include "rack/rack.h"
#include "rackfile/textlimit.h"

namespace nv::rack {
namespace {

using Kind = ScriptAccess::Kind;

bool readable(Kind k) {
    return k != Kind::None && k != Kind::Sample;
}
bool settable(Kind k) {
    return k != Kind::None && k != Kind::Pressed;
}

// The value as a script's text.
std::string read(const ScriptAccess& a) {
    switch (a.scriptKind()) {
    case Kind::Integer:
        return formatInt(a.scriptInteger());
    case Kind::IntegerReal:
    case Kind::Real:
        return formatNumber(a.scriptReal());
    case Kind::Flag:
        return a.scriptFlag() ? "1" : "0";
    case Kind::Text:
    case Kind::Log:
    case Kind::Pressed:
        return a.scriptText();
    case Kind::None:
    case Kind::Sample:
        break;
    }
    return {};
}

// False: the script's text does not convert to the control's value.
bool set(ScriptAccess& a, const std::string& value) {
    switch (a.scriptKind()) {
    case Kind::Integer:
    case Kind::IntegerReal: {
        int32_t i = 0;
        if (!parseInteger(value, i)) return false;
        if (a.scriptKind() == Kind::Integer)
            a.setScriptInteger(i);
        else
            a.setScriptReal(double(i));
        return true;
    }
    case Kind::Real: {
        // Numbers in scripts always use '.', whatever the locale.
        double d = 0;
        if (value.empty() || !isNumber(value, &d)) return false;
        a.setScriptReal(d);
        return true;
    }
    case Kind::Flag:
        if (value != "1" && value != "0") return true; // anything else is ignored silently
        a.setScriptFlag(value == "1");
        return true;
    case Kind::Text: {
        // Past the limit the text is refused whole, never cut.
        std::string why;
        if (!checkControlText(value, why)) return false;
        a.setScriptText(value);
        return true;
    }
    case Kind::Log:
        a.setScriptText(value);
        return true;
    case Kind::None:
    case Kind::Pressed:
    case Kind::Sample:
        break;
    }
    return false;
}

} // namespace

// What the scope's data request handler needs; cut loose when the run that set it ends.
struct ScopeRequestState {
    Interpreter* ex = nullptr;
    QPointer<QWidget> widget; // null once the scope is gone: `scope` is then not touched
    ScriptAccess* scope = nullptr;
    std::string name;
    bool answered = false;
};

bool Rack::shown() const {
    return window_->isVisible() && window_->count() > 0;
}

int Rack::bindControl(std::string_view name, bool forSetting) {
    if (!shown()) return -1;
    const std::vector<int>* at = window_->positionsOf(name);
    if (!at) return -1;
    // The first control of that name in list order that can take part.
    for (int i : *at) {
        const ScriptAccess* a = window_->control(i).access;
        if (a && (forSetting ? settable(a->scriptKind()) : readable(a->scriptKind()))) return i;
    }
    return -1;
}

void Rack::readBound(int handle, std::string& value) {
    // Typed reads cannot fail, so the class's readError() is never raised.
    value = read(*window_->control(handle).access);
}

void Rack::assignBound(Interpreter& ex, int handle, const std::string& value) {
    Control& c = window_->control(handle);
    ScriptAccess& a = *c.access;
    if (a.scriptKind() == Kind::Sample)
        addScopeSample(ex, c, a, value);
    else if (!set(a, value))
        ex.raiseScriptError(a.setError());
}

// As read() and set() do with the number's text: a whole number within 32 bits, for the
// kinds that hold one. Anything else (out of range, a real, a text, a sample) takes the
// text way.
InstrumentAccess::WholeAccess Rack::wholeAccess(int handle) {
    ScriptAccess& a = *window_->control(handle).access;
    const ScriptAccess::Whole w = a.whole();
    return {static_cast<void*>(&a), w.get, w.set};
}

bool Rack::readControl(Interpreter&, std::string_view name, std::string& value) {
    const int at = bindControl(name, false);
    if (at < 0) return false;
    readBound(at, value);
    return true;
}

bool Rack::assignControl(Interpreter& ex, std::string_view name, std::string_view valueText) {
    const uint64_t before = generation();
    int at = bindControl(name, true);
    if (at < 0) return false;
    // A failed evaluation gives the empty text, which every conversion refuses.
    std::string value;
    if (!ex.evaluate(valueText, value)) value.clear();
    ex.clearScriptError();
    // The value's evaluation may have let events through (an input box) that replaced or hid
    // the rack: the name then reaches what it reaches now, a variable when no control.
    if (generation() != before && (at = bindControl(name, true)) < 0) {
        ex.setVariable(std::string(name), value);
        return true;
    }
    assignBound(ex, at, value);
    return true;
}

// The value waits in the variable that bears the scope's name; the scope, once switched on,
// asks for data and the first channel of that request takes the value. Several assignments
// before the scope asks still add one sample, the last value.
void Rack::addScopeSample(Interpreter& ex, Control& c, ScriptAccess& scope,
                          const std::string& value) {
    auto state = std::make_shared<ScopeRequestState>();
    state->ex = &ex;
    state->widget = c.widget;
    state->scope = &scope;
    state->name = c.name;
    scope.setSampleRequest([state](int channel, int proposed) -> int {
        if (state->answered || !state->ex || channel != 0) return proposed;
        state->answered = true; // the handler takes one request, then stays inert
        if (state->widget) state->scope->setSampling(false);
        const std::string* v = state->ex->variables().get(state->name);
        int32_t sample = 0;
        if (!v || !parseInteger(*v, sample)) return proposed;
        return sample;
    });
    if (scopeState_) scopeState_->ex = nullptr;
    scopeState_ = state;
    ex.setVariable(c.name, value);
    scope.setSampling(true);
}

void Rack::detachScope() {
    if (!scopeState_) return;
    scopeState_->ex = nullptr;
    if (scopeState_->widget && !scopeState_->answered) scopeState_->scope->setSampling(false);
    scopeState_.reset();
}

} // namespace nv::rack
