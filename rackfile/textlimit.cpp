#include "rackfile/textlimit.h"

#include "base/ascii.h"
#include "base/limits.h"

namespace nv::rack {
namespace {

bool tooLong(std::size_t bytes, std::string& error) {
    if (bytes <= limits::kRackText) return false;
    error = "text longer than " + std::to_string(limits::kRackText) + " bytes";
    return true;
}

} // namespace

bool checkControlText(std::string_view text, std::string& error) {
    return !tooLong(text.size(), error);
}

bool checkTextProperty(const Property& p, std::string& error) {
    const std::string& n = p.name;
    if (equalsNoCase(n, "Caption") || equalsNoCase(n, "Text")) {
        const auto t = asText(p.value);
        return !t || checkControlText(*t, error);
    }
    if (equalsNoCase(n, "Lines.Strings") || equalsNoCase(n, "Items.Strings")) {
        if (p.value.type != VType::List) return true;
        // As the control holds them: one text, the lines joined by CR LF.
        std::size_t total = 0;
        bool first = true;
        for (const Value& line : p.value.list) {
            const auto t = asText(line);
            if (!t) continue;
            total += (first ? 0 : 2) + t->size();
            first = false;
            if (tooLong(total, error)) return false;
        }
    }
    return true;
}

} // namespace nv::rack
