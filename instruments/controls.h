// The instrument classes themselves: one QWidget per rack-file class, painted with QPainter in
// a dark instrument style, declared one header per family beside its .cpp file (common,
// linear, meters, lights, buttons, scope, decor) and all reached through this header.
// instruments.h holds the contract they keep and the factory that makes them; the class
// headers exist so that the rack, the tests and the gallery can reach a class's own functions
// (the scope's data request, the spinner's signals) and so that Qt's meta-object compiler
// sees the properties.
//
// Property names are the rack file's; the declaration order of the Q_PROPERTYs is the order
// in which the rack writes them. Ranges are declared Max before Min before the value, so that
// a file written in that order never has its value clamped by a range that is still the
// default. Setting Min above Max (or Max below Min) drags the other bound along, so the range
// is never empty. Texts are script bytes (QByteArray), shown decoded by baseqt/displaytext.h.
// Identifier properties (Orientation, Direction, BevelStyle) ignore names they do not know.
// Text drawn beside an instrument (captions, tick labels) takes the palette's WindowText
// colour and the widget's font, which the rack sets from the file's Font.* properties.
//
// Threading: user-interface thread only. Error policy: setters never throw; out-of-range
// values are clamped, unknown identifiers ignored.
#pragma once

#include "instruments/buttons.h"
#include "instruments/common.h"
#include "instruments/decor.h"
#include "instruments/lights.h"
#include "instruments/linear.h"
#include "instruments/meters.h"
#include "instruments/scope.h"
