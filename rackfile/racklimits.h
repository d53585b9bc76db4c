// The rack's limits on how many controls it holds (limits::kRackControls) and on the
// positions and sizes of the window and its controls (limits::kRackCoordinate), each checked
// by one function here for everything that makes or changes a rack: the rack window's
// loader, the setting of a control's property and the designer (open, add, paste, moves).
//
// Threading: pure functions, any thread. Errors: false with the reason in `error`.
#pragma once

#include <string>

#include "rackfile/componentstream.h"

namespace nv::rack {

// The controls a rack holds: every component below the root, those held by panels included.
int controlCount(const Component& root);

// True when a rack may hold `count` controls.
bool controlCountFits(long long count, std::string& error);

// True when `v` may be a position or size in a rack.
bool coordinateFits(long long v);

// The nearest position or size a rack may hold, for moves that would pass the edge.
int clampCoordinate(long long v);

// A position or size from a rack file: an integer within the range. False with "not an
// integer" or "coordinate out of range".
bool coordinateOf(const Value& v, int& out, std::string& error);

} // namespace nv::rack
