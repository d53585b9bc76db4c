// Scripts reading and setting rack controls by name.
#include <QMetaObject>
#include <QPointer>
#include <functional>
#include <memory>

#include "engine/interpreter.h"
#include "engine/value.h"
#include "rack/rack.h"
#include "rackfile/textlimit.h"

namespace nv::rack {
namespace {

enum class Kind {
    Integer,    // an int property
    IntToReal,  // a real property read as a real, set from an integer
    Real,       // a real property, set from a decimal number
    Flag,       // a bool property, 1 or 0
    Text,       // the control's text
    Memo,       // the memo's text, newest part kept, scrolled to the end
    Button,     // the push button's state, kept in its hint (read only)
    ScopeSample // one sample for the scope (set only)
};

struct Access {
    std::string_view className;
    Kind kind;
    const char* property;
    std::string_view readMessage;
    std::string_view setMessage;
};

// In the order the classes are tested.
const Access kAccess[] = {
    {"TVrSlider", Kind::Integer, "Position", "Slider: error reading postion.",
     "Slider: error changing position."},
    {"TVrTrackBar", Kind::Integer, "Position", "TrackBar: error reading postion.",
     "TrackBar: error changing position."},
    {"TVrPowerMeter", Kind::IntToReal, "Value", "PowerMeter: error reading value.",
     "PowerMeter: error changing position."},
    {"TLabel", Kind::Text, nullptr, "Label: error reading text.", "Label: error changing text."},
    {"TVrSwitch", Kind::Integer, "Offset", "Switch: error reading position.",
     "Switch: error changing position."},
    {"TVrLed", Kind::Flag, "Active", "Led: error reading state.", "Led: error changing state."},
    {"TVrCheckLed", Kind::Flag, "Checked", "CheckLed: error reading state.",
     "CheckLed: error changing state."},
    {"TVrMatrix", Kind::Text, "Text", "MatrixLed: error reading text.",
     "MatrixLed: error changing text."},
    {"TVrPowerButton", Kind::Flag, "Active", "PowerButton: error reading state.",
     "PowerButton: error changing state."},
    {"TVrDB", Kind::Button, nullptr, "Button: error reading state.", {}},
    {"TVrMeter", Kind::Integer, "Position", "AnalogMeter: error reading postion.",
     "AnalogMeter: error changing position."},
    {"TVrNum", Kind::Integer, "Value", "NumericLed: error reading value.",
     "NumericLed: error changing value."},
    {"TVrProgressBar", Kind::Integer, "Position", "LevelBar: error reading postion.",
     "LevelBar: error changing position."},
    {"TVrScope", Kind::ScopeSample, "Active", {}, "Scope: error adding value."},
    {"TEdit", Kind::Text, nullptr, "Edit: error reading text.", "Edit: error changing text."},
    {"TMemo", Kind::Memo, nullptr, "Memo: error reading text.", "Memo: error changing text."},
    {"TVrAngularMeter", Kind::Real, "Position", "AngularMeter: error reading postion.",
     "AngularMeter: error changing position."},
};

const Access* accessFor(const std::string& className) {
    for (const Access& a : kAccess)
        if (a.className == className) return &a;
    return nullptr;
}

bool readable(const Access& a) {
    return a.kind != Kind::ScopeSample;
}
bool settable(const Access& a) {
    return a.kind != Kind::Button;
}

// A property the control declares; reading or writing anything else is a fault, never a
// new dynamic property.
bool hasProperty(const QWidget* w, const char* name) {
    return name && w->metaObject()->indexOfProperty(name) >= 0;
}

bool read(const Control& c, const Access& a, std::string& value) {
    QWidget* w = c.widget;
    switch (a.kind) {
    case Kind::Integer:
    case Kind::IntToReal:
    case Kind::Real:
    case Kind::Flag: {
        if (!hasProperty(w, a.property)) return false;
        const QVariant v = w->property(a.property);
        bool ok = false;
        if (a.kind == Kind::Integer) {
            const int i = v.toInt(&ok);
            if (ok) value = formatInt(i);
        } else if (a.kind == Kind::Flag) {
            ok = v.isValid();
            value = v.toBool() ? "1" : "0";
        } else {
            const double d = v.toDouble(&ok);
            if (ok) value = formatNumber(d);
        }
        return ok;
    }
    case Kind::Text:
        if (a.property) {
            if (!hasProperty(w, a.property)) return false;
            value = w->property(a.property).toByteArray().toStdString();
            return true;
        }
        value = controlText(c);
        return true;
    case Kind::Memo:
        value = controlText(c);
        return true;
    case Kind::Button: {
        const QString hint = w->toolTip();
        value = hint == QLatin1String("On") ? "1" : hint == QLatin1String("Off") ? "0" : "";
        return true;
    }
    case Kind::ScopeSample:
        return false;
    }
    return false;
}

// False: the conversion or the setting faulted.
bool set(Control& c, const Access& a, const std::string& value) {
    QWidget* w = c.widget;
    switch (a.kind) {
    case Kind::Integer:
    case Kind::IntToReal: {
        int32_t i = 0;
        if (!parseInteger(value, i) || !hasProperty(w, a.property)) return false;
        return a.kind == Kind::Integer ? w->setProperty(a.property, i)
                                       : w->setProperty(a.property, double(i));
    }
    case Kind::Real: {
        // Numbers in scripts always use '.', whatever the locale.
        double d = 0;
        if (value.empty() || !isNumber(value, &d) || !hasProperty(w, a.property)) return false;
        return w->setProperty(a.property, d);
    }
    case Kind::Flag:
        if (value != "1" && value != "0") return true; // anything else is ignored silently
        if (!hasProperty(w, a.property)) return false;
        return w->setProperty(a.property, value == "1");
    case Kind::Text: {
        // Past the limit the text is refused whole, never cut.
        std::string why;
        if (!checkControlText(value, why)) return false;
        if (a.property) {
            if (!hasProperty(w, a.property)) return false;
            return w->setProperty(a.property,
                                  QByteArray(value.data(), static_cast<qsizetype>(value.size())));
        }
        setControlText(c, value);
        return true;
    }
    case Kind::Memo:
        setControlText(c, value);
        return true;
    case Kind::Button:
    case Kind::ScopeSample:
        return false;
    }
    return false;
}

} // namespace

// What the scope's data request handler needs; cut loose when the run that set it ends.
struct ScopeRequestState {
    Interpreter* ex = nullptr;
    QPointer<QWidget> scope;
    std::string name;
    bool answered = false;
};

bool Rack::shown() const {
    return window_->isVisible() && window_->count() > 0;
}

bool Rack::readControl(Interpreter& ex, std::string_view name, std::string& value) {
    if (!shown()) return false;
    const std::vector<int>* at = window_->positionsOf(name);
    if (!at) return false;
    for (int i : *at) {
        const Control& c = window_->control(i);
        const Access* a = accessFor(c.className);
        if (!a || !readable(*a)) continue;
        value.clear();
        if (!read(c, *a, value)) {
            value.clear();
            ex.raiseScriptError(a->readMessage);
        }
        return true;
    }
    return false;
}

bool Rack::assignControl(Interpreter& ex, std::string_view name, std::string_view valueText) {
    if (!shown()) return false;
    const std::vector<int>* at = window_->positionsOf(name);
    if (!at) return false;
    for (int i : *at) {
        Control& c = window_->control(i);
        const Access* a = accessFor(c.className);
        if (!a || !settable(*a)) continue;
        // A failed evaluation gives the empty text, which every conversion refuses.
        std::string value;
        if (!ex.evaluate(valueText, value)) value.clear();
        ex.clearScriptError();
        if (a->kind == Kind::ScopeSample) {
            if (!addScopeSample(ex, c, value)) ex.raiseScriptError(a->setMessage);
        } else if (!set(c, *a, value)) {
            ex.raiseScriptError(a->setMessage);
        }
        return true;
    }
    return false;
}

// The value waits in the variable that bears the scope's name; the scope, once switched on,
// asks for data and the first channel of that request takes the value. Several assignments
// before the scope asks still add one sample, the last value.
bool Rack::addScopeSample(Interpreter& ex, Control& c, const std::string& value) {
    QWidget* w = c.widget;
    auto state = std::make_shared<ScopeRequestState>();
    state->ex = &ex;
    state->scope = w;
    state->name = c.name;
    const std::function<int(int, int)> request = [state](int channel, int proposed) -> int {
        if (state->answered || !state->ex || channel != 0) return proposed;
        state->answered = true; // the handler takes one request, then stays inert
        if (state->scope) state->scope->setProperty("Active", false);
        const std::string* v = state->ex->variables().get(state->name);
        int32_t sample = 0;
        if (!v || !parseInteger(*v, sample)) return proposed;
        return sample;
    };
    if (!QMetaObject::invokeMethod(w, "setDataRequest", Qt::DirectConnection,
                                   Q_ARG(std::function<int(int, int)>, request)))
        return false;
    if (scopeState_) scopeState_->ex = nullptr;
    scopeState_ = state;
    ex.setVariable(c.name, value);
    if (!hasProperty(w, "Active")) return false;
    return w->setProperty("Active", true);
}

void Rack::detachScope() {
    if (!scopeState_) return;
    scopeState_->ex = nullptr;
    if (scopeState_->scope && !scopeState_->answered)
        scopeState_->scope->setProperty("Active", false);
    scopeState_.reset();
}

} // namespace nv::rack
