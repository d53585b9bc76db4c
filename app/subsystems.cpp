#include "app/subsystems.h"

#include "engine/runtime.h"

namespace nv {

Subsystems::Subsystems(Runtime&, QWidget*) {}

Subsystems::~Subsystems() = default;

} // namespace nv
