// The one limit on the caption or text of a rack control (limits::kRackText), checked in
// one place for everything that puts text into a rack: the rack file loader (controls and
// the window's own caption), scripts setting a text control, and pastes in the designer.
// Text past the limit is refused whole, never cut.
//
// Which texts count: Caption and Text of any control or of the window, and the lines of
// Lines.Strings (a memo) and Items.Strings (a drop-down list) taken together with a line
// break between them. A memo set by a script keeps its own rule (its newest 65000
// characters, limits::kMemoText) and is not checked here.
//
// Threading: pure functions, any thread. Errors: false with the reason in `error`.
#pragma once

#include <string>
#include <string_view>

#include "rackfile/componentstream.h"

namespace nv::rack {

// True when `text` (bytes) may be a control's caption or text.
bool checkControlText(std::string_view text, std::string& error);

// True when a property from a rack file or a paste is not a caption or text, or is one
// within the limit.
bool checkTextProperty(const Property& p, std::string& error);

} // namespace nv::rack
