// The readable text form of a component stream. Each value is written in its plain form
// (`12`, `1.5`, `'text'`, `clLime`, `[a, b]`) whenever reading that form back gives the
// same type and bytes; otherwise it is written in a tagged form (`i32(12)`, `long('x')`,
// `ext($...)`, ...) that does, so that binary -> text -> binary is exact.
// This file writes it.
#include "rackfile/componentstream.h"

#include "rackfile/realbits.h"
#include "rackfile/textform.h"

#include "base/ascii.h"
#include "base/limits.h"

#include <charconv>
#include <cstring>
#include <stdexcept>

namespace nv::rack {
namespace {

using namespace textform;

constexpr std::uint16_t kDefaultFlags = 0x1030;

// ---- writing text ----------------------------------------------------------------------

// Quoted text, with bytes that are not printable (control bytes, invalid UTF-8) as #n.
std::string quoteBytes(std::string_view s) {
    std::string out;
    bool open = false;
    auto literal = [&](std::string_view piece) {
        if (!open) out += '\'', open = true;
        out += piece;
    };
    auto code = [&](unsigned n) {
        if (open) out += '\'', open = false;
        out += '#' + std::to_string(n);
    };
    for (std::size_t i = 0; i < s.size();) {
        auto c = static_cast<std::uint8_t>(s[i]);
        if (c == '\'') {
            literal("''");
            ++i;
        } else if (c >= 0x20 && c < 0x7F) {
            literal(s.substr(i, 1));
            ++i;
        } else if (std::uint32_t cp; std::size_t n = utf8Sequence(s, i, &cp)) {
            if (cp < 0xA0)
                code(c), ++i; // C1 controls stay visible as codes
            else
                literal(s.substr(i, n)), i += n;
        } else {
            code(c);
            ++i;
        }
    }
    if (open || out.empty()) {
        if (!open) out += '\'';
        out += '\'';
    }
    return out;
}

std::string quoteWide(std::string_view bytes) {
    std::string out;
    bool open = false;
    std::size_t n = bytes.size() / 2;
    auto unit = [&](std::size_t i) -> std::uint32_t {
        return static_cast<std::uint8_t>(bytes[2 * i]) |
               (static_cast<std::uint8_t>(bytes[2 * i + 1]) << 8);
    };
    for (std::size_t i = 0; i < n; ++i) {
        std::uint32_t u = unit(i);
        std::uint32_t cp = 0;
        if (u >= 0xD800 && u < 0xDC00 && i + 1 < n && unit(i + 1) >= 0xDC00 && unit(i + 1) < 0xE000)
            cp = 0x10000 + ((u - 0xD800) << 10) + (unit(i + 1) - 0xDC00);
        else if ((u >= 0x20 && u < 0x7F) || (u >= 0xA0 && (u < 0xD800 || u >= 0xE000)))
            cp = u;
        if (cp) {
            if (!open) out += '\'', open = true;
            if (cp == '\'') out += '\'';
            appendUtf8(out, cp);
            if (cp >= 0x10000) ++i;
        } else {
            if (open) out += '\'', open = false;
            out += '#' + std::to_string(u);
        }
    }
    if (open || out.empty()) {
        if (!open) out += '\'';
        out += '\'';
    }
    return out;
}

std::string nameToken(std::string_view s, bool avoidKeywords) {
    if (isIdentifier(s) && !(avoidKeywords && (isComponentKeyword(s) || isOneOf(s, {"end"}))))
        return std::string(s);
    return quoteBytes(s);
}


template <class T> bool parseReal(std::string_view text, T& out) {
    auto r = std::from_chars(text.data(), text.data() + text.size(), out);
    return r.ec == std::errc() && r.ptr == text.data() + text.size();
}

template <class T> std::string shortestReal(T v) {
    char buf[64];
    auto r = std::to_chars(buf, buf + sizeof buf, v);
    std::string s(buf, r.ptr);
    if (s.find_first_of(".e") == std::string::npos) s += ".0";
    return s;
}

// Plain decimal for a real whose decimal form reads back to the same bytes, else empty.
std::string realText(const Value& v) {
    if (v.type == VType::Extended) {
        auto x = unpackExtended(v.bytes);
        if (!x) return {};
        std::string s = shortestReal(*x);
        long double back;
        if (parseReal(s, back) && packExtended(back) == v.bytes) return s;
        return {};
    }
    if (v.type == VType::Single) {
        if (v.bytes.size() != 4) return {};
        float f = std::bit_cast<float>(static_cast<std::uint32_t>(unpackLE(v.bytes)));
        if (!std::isfinite(f)) return {};
        std::string s = shortestReal(f);
        float back;
        if (parseReal(s, back) && packLE(std::bit_cast<std::uint32_t>(back), 4) == v.bytes)
            return s + "s";
        return {};
    }
    if (v.bytes.size() != 8) return {};
    double d = std::bit_cast<double>(unpackLE(v.bytes));
    if (!std::isfinite(d)) return {};
    std::string s = shortestReal(d);
    double back;
    if (parseReal(s, back) && packLE(std::bit_cast<std::uint64_t>(back), 8) == v.bytes)
        return s + "d";
    return {};
}

std::string currencyText(std::int64_t scaled) {
    std::uint64_t mag =
        scaled < 0 ? 0 - static_cast<std::uint64_t>(scaled) : static_cast<std::uint64_t>(scaled);
    std::string s = scaled < 0 ? "-" : "";
    s += std::to_string(mag / 10000);
    std::string frac = std::to_string(10000 + mag % 10000).substr(1);
    while (!frac.empty() && frac.back() == '0')
        frac.pop_back();
    if (!frac.empty()) s += "." + frac;
    return s + "c";
}

const char* integerTag(VType t) {
    switch (t) {
    case VType::Int8:
        return "i8";
    case VType::Int16:
        return "i16";
    case VType::Int32:
        return "i32";
    default:
        return "i64";
    }
}

class TextWriter {
  public:
    std::string out;

    void document(const Document& doc) {
        // The binary header takes any name up to its zero byte, the text form names of up to
        // 255 bytes, as everywhere else: a longer one could not be read back.
        if (doc.resourceName.size() > 255)
            throw std::invalid_argument("rack text: resource name longer than 255 bytes");
        if (doc.resourceName != upperAscii(doc.root.className) ||
            doc.memoryFlags != kDefaultFlags) {
            char flags[8];
            std::snprintf(flags, sizeof flags, "$%04X", doc.memoryFlags);
            out += "resource " + nameToken(doc.resourceName, false) + " flags " + flags + "\n";
        }
        component(doc.root, 0);
        if (!doc.trailer.empty()) out += "trailer " + binary(doc.trailer, 0) + "\n";
    }

  private:
    static std::string pad(int indent) {
        return std::string(static_cast<std::size_t>(indent), ' ');
    }

    std::string integer(const Value& v) {
        std::string n = std::to_string(v.integer);
        if (intValue(v.integer).type == v.type) return n;
        return std::string(integerTag(v.type)) + "(" + n + ")";
    }

    std::string binary(std::string_view b, int indent) {
        if (b.empty()) return "{}";
        std::string s = "{";
        std::string hex = hexBytes(b);
        for (std::size_t i = 0; i < hex.size(); i += 64)
            s += "\n" + pad(indent + 2) + hex.substr(i, 64);
        return s + "}";
    }

    std::string value(const Value& v, int indent) {
        switch (v.type) {
        case VType::List: {
            if (v.list.empty()) return "()";
            std::string s = "(";
            for (const Value& e : v.list)
                s += "\n" + pad(indent + 2) + value(e, indent + 2);
            return s + ")";
        }
        case VType::Int8:
        case VType::Int16:
        case VType::Int32:
        case VType::Int64:
            return integer(v);
        case VType::Extended:
        case VType::Single:
        case VType::Date: {
            std::string s = realText(v);
            if (!s.empty()) return s;
            const char* tag = v.type == VType::Extended ? "ext"
                              : v.type == VType::Single ? "single"
                                                        : "date";
            return std::string(tag) + "($" + hexBytes(v.bytes) + ")";
        }
        case VType::Currency:
            return currencyText(v.integer);
        case VType::String:
            return quoteBytes(v.bytes);
        case VType::LString:
            return v.bytes.size() > 255 ? quoteBytes(v.bytes) : "long(" + quoteBytes(v.bytes) + ")";
        case VType::WString:
            return "wide(" + quoteWide(v.bytes) + ")";
        case VType::Ident:
            if (isIdentifier(v.bytes) && !isReservedValueWord(v.bytes)) return v.bytes;
            return "ident(" + quoteBytes(v.bytes) + ")";
        case VType::False:
            return "False";
        case VType::True:
            return "True";
        case VType::Nil:
            return "nil";
        case VType::Binary:
            return binary(v.bytes, indent);
        case VType::Set: {
            std::string s = "[";
            for (std::size_t i = 0; i < v.set.size(); ++i)
                s += (i ? ", " : "") + nameToken(v.set[i], false);
            return s + "]";
        }
        case VType::Collection: {
            if (v.items.empty()) return "<>";
            std::string s = "<";
            for (const Item& item : v.items) {
                s += "\n" + pad(indent + 2) + "item";
                if (item.index.type != VType::Null) s += " [" + integer(item.index) + "]";
                s += "\n" + properties(item.properties, indent + 4) + pad(indent + 2) + "end";
            }
            return s + ">";
        }
        default:
            throw std::invalid_argument("rack text: value of unknown type " +
                                        std::to_string(static_cast<int>(v.type)));
        }
    }

    std::string properties(const std::vector<Property>& props, int indent) {
        std::string s;
        for (const Property& p : props)
            s += pad(indent) + nameToken(p.name, true) + " = " + value(p.value, indent) + "\n";
        return s;
    }

    void component(const Component& c, int indent) {
        std::uint8_t bits = c.prefix ? (*c.prefix & 0x0F) : 0;
        const char* keyword = (bits & 1) ? "inherited" : (bits & 4) ? "inline" : "object";
        out += pad(indent) + keyword + " ";
        if (!c.name.empty()) out += nameToken(c.name, false) + ": ";
        out += nameToken(c.className, false);
        if (bits & 2) out += " [" + integer(c.position) + "]";
        // Only combinations the keyword and position cannot say need the byte itself.
        std::uint8_t derived = bits & 7;
        bool plain =
            c.prefix ? (derived != 0 && *c.prefix == (0xF0 | derived) && (bits & 5) != 5) : true;
        if (!plain) {
            char b[16];
            std::snprintf(b, sizeof b, " prefix($%02X)", *c.prefix);
            out += b;
        }
        out += "\n";
        out += properties(c.properties, indent + 2);
        for (const Component& child : c.children)
            component(child, indent + 2);
        out += pad(indent) + "end\n";
    }
};

} // namespace

std::string toText(const Document& doc) {
    TextWriter w;
    w.document(doc);
    return std::move(w.out);
}

} // namespace nv::rack
