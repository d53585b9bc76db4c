// UTF-8 validity, the test that decides how bytes are shown to a person and how the editor
// reads a file: strict UTF-8 (no overlong forms, no surrogates, nothing above U+10FFFF).
//
// Pure function, any thread; it does not fail.
#pragma once

#include <string_view>

namespace nv {

bool isValidUtf8(std::string_view bytes);

} // namespace nv
