// The rack's painted instrument controls: one plain QWidget class per instrument class a rack
// file may name (TVrSlider, TVrMeter, TVrLed, ...). They know nothing of rack files or
// scripts: the rack (rack/rackwindow, rack/controls) creates them through createInstrument(),
// loads and saves every value and look through Qt properties whose names are the rack file's
// property names ("Position", "Min", "Max", "Active", "Color", ...), and gives scripts the
// value through the typed ScriptAccess every class has (instruments/scriptaccess.h).
//
// The contract every class keeps, so that the rack can load, save and drive it generically:
//   - Q_OBJECT, and one Q_PROPERTY per rack-file property the class owns beyond the common
//     ones the rack handles itself (Left, Top, Width, Height, Visible, Hint, Enabled,
//     Font.*). Types: int, double, bool, QColor, QByteArray (texts: script bytes, shown
//     decoded by baseqt/displaytext.h), QString for identifiers of the rack file (enumerations
//     such as "voVertical"), QStringList for lists. The declaration order is the order in
//     which the rack writes them.
//   - The constructor sets the defaults; the rack writes only properties that differ from a
//     freshly made instance.
//   - Setters clamp numbers into the control's own range (Min..Max; a switch 0..Positions-1)
//     and repaint only when the shown state changes (update(), never repaint()).
//   - What the user does with mouse and keys changes the same property a script reads; the
//     rack reads the value when a script asks, so no signal announces the change.
//   - Its kind and the messages for a failed read or setting are fixed by the constructor
//     (InstrumentControl::describeForScripts), as the rack file's class implies.
//   - Painting with QPainter, antialiased, crisp at any size and at a device pixel ratio of 2.
//
// The classes themselves (for what the properties cannot carry: the scope's data request, the
// spinner's upClicked()/downClicked()) are declared in instruments/controls.h;
// docs/rack-controls.md lists every property with its default.
//
// Threading: user-interface thread only. Error policy: setters never throw; out-of-range
// values are clamped.
#pragma once

#include <QWidget>
#include <string>
#include <string_view>
#include <vector>

namespace nv::rack {

// A new instrument of the rack-file class `className` (for example "TVrSlider"), a child of
// `parent`, with its defaults; nullptr when the class is not an instrument class.
QWidget* createInstrument(std::string_view className, QWidget* parent);

// The instrument classes, in the registry's order.
const std::vector<std::string_view>& instrumentClasses();

} // namespace nv::rack
