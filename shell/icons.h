// Icons the program draws itself, so that they look the same whatever icon theme the desktop
// has (or none, as on a bare X server): the program's own icon and the New script button's.
//
// Threading: user-interface thread (painting). Errors: none.
#pragma once

#include <QIcon>

namespace nv {

// The program's icon (the installed norvane.svg, drawn at the common sizes).
QIcon programIcon();
// A blank page with a bright star: clearly enabled next to Open and Save, where a grey
// generic file glyph read as a disabled button.
QIcon newScriptIcon();

} // namespace nv
