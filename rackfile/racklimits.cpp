#include "rackfile/racklimits.h"

#include <algorithm>

#include "base/limits.h"

namespace nv::rack {

int controlCount(const Component& root) {
    int n = 0;
    for (const Component& ch : root.children)
        n += 1 + controlCount(ch);
    return n;
}

bool controlCountFits(long long count, std::string& error) {
    if (count <= limits::kRackControls) return true;
    error = "more than " + std::to_string(limits::kRackControls) + " controls";
    return false;
}

bool coordinateFits(long long v) {
    return v >= -limits::kRackCoordinate && v <= limits::kRackCoordinate;
}

int clampCoordinate(long long v) {
    return static_cast<int>(
        std::clamp<long long>(v, -limits::kRackCoordinate, limits::kRackCoordinate));
}

bool coordinateOf(const Value& v, int& out, std::string& error) {
    const auto i = asInteger(v);
    if (!i) {
        error = "not an integer";
        return false;
    }
    if (!coordinateFits(*i)) {
        error = "coordinate out of range";
        return false;
    }
    out = static_cast<int>(*i);
    return true;
}

} // namespace nv::rack
