// libFuzzer entry for rack files and their text form. The first byte picks the reader (even:
// the binary stream, odd: the text form), the rest is its input. Whatever reads must write,
// read back to the same tree, and go through the text form and back unchanged, or be refused
// by toText with its std::invalid_argument; a broken promise aborts. Build with clang and
// -DNORVANE_FUZZ=ON, then run build-fuzz/fuzz_rack -max_total_time=300 CORPUS_DIR. Without
// libFuzzer the same entry runs as fuzz_rack_replay over the files it is given.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <stdexcept>
#include <string>
#include <string_view>

#include "rackfile/componentstream.h"

namespace {

void require(bool promise) {
    if (!promise) std::abort();
}

void touchHelpers(const nv::rack::Component& c) {
    (void)nv::rack::pixelSizeProperty(c, "Font.Height", 1000);
    (void)nv::rack::colorProperty(c, "Color");
    (void)nv::rack::textProperty(c, "Caption");
    for (const nv::rack::Property& p : c.properties)
        (void)nv::rack::asReal(p.value);
    for (const nv::rack::Component& child : c.children)
        touchHelpers(child);
}

// Binary and text forms carry the same tree both ways.
void roundTrip(const nv::rack::Document& doc) {
    touchHelpers(doc.root);
    const std::string bytes = nv::rack::write(doc); // a tree that was read always writes
    const nv::rack::ReadResult again = nv::rack::read(bytes);
    require(again.ok && again.doc == doc);
    std::string text;
    try {
        text = nv::rack::toText(doc);
    } catch (const std::invalid_argument&) {
        return; // refused: nothing was promised
    }
    const nv::rack::TextResult back = nv::rack::fromText(text);
    require(back.ok && back.doc == doc);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    const std::string_view input(reinterpret_cast<const char*>(data) + 1, size - 1);
    if (data[0] % 2 == 0) {
        const nv::rack::ReadResult r = nv::rack::read(input);
        if (r.ok) roundTrip(r.doc);
    } else {
        const nv::rack::TextResult r = nv::rack::fromText(input);
        if (r.ok) roundTrip(r.doc);
    }
    return 0;
}
