// The package slot of this executable as it stands in its file (see package_slot.cpp).
//
// Threading: any. Errors: none.
#pragma once

#include <string_view>

namespace nv {

// The slot's 262174 bytes: start marker, body, end marker.
std::string_view packageSlot();

} // namespace nv
