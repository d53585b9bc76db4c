// The package slot of the program with its window: a block of exactly 262174 bytes in the
// executable's read-only data. The Build command finds it in a copy of this file by its start
// marker and writes a package into its body; a built program reads its own slot here, in
// memory, at start. Only the `norvane` executable links this file, so the marker's text
// exists exactly once in it and nowhere in the runner or the libraries.
//
// Threading: any (constant data). Errors: none.
#include "app/package_slot.h"

#include "builder/package.h"

namespace {

// 262144 filler bytes "V", built up by fours.
#define NV_V4 "VVVV"
#define NV_V16 NV_V4 NV_V4 NV_V4 NV_V4
#define NV_V64 NV_V16 NV_V16 NV_V16 NV_V16
#define NV_V256 NV_V64 NV_V64 NV_V64 NV_V64
#define NV_V1K NV_V256 NV_V256 NV_V256 NV_V256
#define NV_V4K NV_V1K NV_V1K NV_V1K NV_V1K
#define NV_V16K NV_V4K NV_V4K NV_V4K NV_V4K
#define NV_V64K NV_V16K NV_V16K NV_V16K NV_V16K
#define NV_V256K NV_V64K NV_V64K NV_V64K NV_V64K

// One byte more than the slot for the literal's terminating zero, which is not part of it.
[[gnu::used]] const char slot[nv::package::kSlotBytes + 1] =
    "CommThread_init" NV_V256K "CommThread_free";

static_assert(sizeof(slot) == nv::package::kSlotBytes + 1);

} // namespace

namespace nv {

std::string_view packageSlot() {
    // Read through a volatile pointer: the compiler knows the slot's bytes as shipped and
    // must not answer questions about them from that knowledge, since Build changes them.
    const char* volatile bytes = slot;
    return {bytes, package::kSlotBytes};
}

} // namespace nv
