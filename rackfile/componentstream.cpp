#include "rackfile/componentstream.h"

#include "rackfile/realbits.h"

#include "base/ascii.h"
#include "base/files.h"
#include "base/limits.h"

#include <array>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <stdexcept>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

namespace nv::rack {

// Spelled out rather than defaulted: clang 14 crashes on defaulted comparisons of these
// mutually recursive types, and the fuzz target is built with clang.
bool Value::operator==(const Value& o) const {
    return type == o.type && integer == o.integer && bytes == o.bytes && list == o.list &&
           set == o.set && items == o.items;
}
bool Item::operator==(const Item& o) const {
    return index == o.index && properties == o.properties;
}
bool Property::operator==(const Property& o) const {
    return name == o.name && value == o.value;
}
bool Component::operator==(const Component& o) const {
    return className == o.className && name == o.name && prefix == o.prefix &&
           position == o.position && properties == o.properties && children == o.children;
}
bool Document::operator==(const Document& o) const {
    return resourceName == o.resourceName && memoryFlags == o.memoryFlags && root == o.root &&
           trailer == o.trailer;
}

namespace {

// Every nested list, collection and component costs one level of the reader's stack; a
// hostile file of a few kilobytes could otherwise nest deep enough to overflow it.
constexpr int kMaxDepth = limits::kComponentDepth;

// ---- binary reader ---------------------------------------------------------------------

struct Failure {
    std::size_t offset;
    std::string what;
};

class Reader {
  public:
    explicit Reader(std::string_view d) : d_(d) {}

    Document document() {
        Document doc;
        std::size_t at = p_;
        if (u8("the resource entry marker 0xFF") != 0xFF)
            fail(at, "expected the resource entry marker 0xFF");
        at = p_;
        std::uint16_t type = u16("the resource type");
        if (type != 10) fail(at, "expected resource type 10, found " + std::to_string(type));
        at = p_;
        std::size_t zero = d_.find('\0', p_);
        if (zero == std::string_view::npos) fail(at, "resource name has no terminating zero byte");
        doc.resourceName = std::string(d_.substr(p_, zero - p_));
        p_ = zero + 1;
        doc.memoryFlags = u16("the memory flags");
        (void)u32("the stream size"); // not trusted: the stream's own records tell its end
        at = p_;
        if (d_.size() - p_ < 4 || d_.substr(p_, 4) != "TPF0") fail(at, "expected \"TPF0\"");
        p_ += 4;
        doc.root = component();
        doc.trailer = std::string(d_.substr(p_));
        return doc;
    }

  private:
    [[noreturn]] void fail(std::size_t at, std::string what) { throw Failure{at, std::move(what)}; }

    void need(std::size_t n, const std::string& what) {
        if (d_.size() - p_ < n)
            fail(p_, "truncated: " + what + " needs " + std::to_string(n) + " bytes, " +
                         std::to_string(d_.size() - p_) + " left");
    }
    std::uint8_t u8(const std::string& what) {
        need(1, what);
        return static_cast<std::uint8_t>(d_[p_++]);
    }
    std::uint64_t le(std::size_t n, const std::string& what) {
        need(n, what);
        std::uint64_t v = 0;
        for (std::size_t i = 0; i < n; ++i)
            v |= std::uint64_t(static_cast<std::uint8_t>(d_[p_ + i])) << (8 * i);
        p_ += n;
        return v;
    }
    std::uint16_t u16(const std::string& what) { return static_cast<std::uint16_t>(le(2, what)); }
    std::uint32_t u32(const std::string& what) { return static_cast<std::uint32_t>(le(4, what)); }
    std::string raw(std::size_t n, const std::string& what) {
        need(n, what);
        std::string s(d_.substr(p_, n));
        p_ += n;
        return s;
    }
    std::string shortString(const std::string& what) {
        std::size_t n = u8(what);
        return raw(n, what);
    }
    std::uint8_t peek(const std::string& what) {
        need(1, what);
        return static_cast<std::uint8_t>(d_[p_]);
    }

    struct Level {
        Reader& r;
        explicit Level(Reader& rd, std::size_t at) : r(rd) {
            if (++r.depth_ > kMaxDepth)
                r.fail(at, "nesting deeper than " + std::to_string(kMaxDepth) + " levels");
        }
        ~Level() { --r.depth_; }
    };

    Value integerValue(const std::string& what) {
        std::size_t at = p_;
        Value v = value();
        if (v.type != VType::Int8 && v.type != VType::Int16 && v.type != VType::Int32)
            fail(at, "expected an integer value (type 2, 3 or 4) for " + what);
        return v;
    }

    Value value() {
        std::size_t at = p_;
        std::uint8_t t = u8("a value type");
        Value v;
        v.type = static_cast<VType>(t);
        switch (v.type) {
        case VType::Null:
            fail(at, "expected a value, found the end marker (type 0)");
        case VType::List: {
            Level lv(*this, at);
            while (peek("the end of a list") != 0)
                v.list.push_back(value());
            ++p_;
            break;
        }
        case VType::Int8:
            v.integer = static_cast<std::int8_t>(le(1, "an 8-bit integer"));
            break;
        case VType::Int16:
            v.integer = static_cast<std::int16_t>(le(2, "a 16-bit integer"));
            break;
        case VType::Int32:
            v.integer = static_cast<std::int32_t>(le(4, "a 32-bit integer"));
            break;
        case VType::Int64:
            v.integer = static_cast<std::int64_t>(le(8, "a 64-bit integer"));
            break;
        case VType::Currency:
            v.integer = static_cast<std::int64_t>(le(8, "a currency value"));
            break;
        case VType::Extended:
            v.bytes = raw(10, "an extended real");
            break;
        case VType::Single:
            v.bytes = raw(4, "a single real");
            break;
        case VType::Date:
            v.bytes = raw(8, "a date-time");
            break;
        case VType::String:
            v.bytes = shortString("a short string");
            break;
        case VType::Ident:
            v.bytes = shortString("an identifier");
            break;
        case VType::False:
        case VType::True:
        case VType::Nil:
            break;
        case VType::Binary: {
            std::size_t n = u32("binary data length");
            v.bytes = raw(n, "binary data");
            break;
        }
        case VType::LString: {
            std::size_t n = u32("a long string length");
            v.bytes = raw(n, "a long string");
            break;
        }
        case VType::WString: {
            std::uint64_t n = u32("a wide string length");
            v.bytes = raw(static_cast<std::size_t>(n * 2), "a wide string");
            break;
        }
        case VType::Set:
            for (;;) {
                std::string e = shortString("a set element");
                if (e.empty()) break;
                v.set.push_back(std::move(e));
            }
            break;
        case VType::Collection: {
            Level lv(*this, at);
            while (peek("the end of a collection") != 0) {
                Item item;
                std::uint8_t b = peek("a collection item");
                if (b != 1) item.index = integerValue("a collection item index");
                std::size_t marker = p_;
                if (u8("a collection item") != 1)
                    fail(marker, "expected the collection item marker 1");
                properties(item.properties);
                v.items.push_back(std::move(item));
            }
            ++p_;
            break;
        }
        default:
            fail(at, "unknown value type " + std::to_string(t));
        }
        return v;
    }

    void properties(std::vector<Property>& out) {
        while (peek("a property name or the end of a property list") != 0) {
            Property prop;
            prop.name = shortString("a property name");
            prop.value = value();
            out.push_back(std::move(prop));
        }
        ++p_;
    }

    Component component() {
        std::size_t at = p_;
        Level lv(*this, at);
        Component c;
        std::uint8_t b = peek("a component record");
        if ((b & 0xF0) == 0xF0) {
            ++p_;
            c.prefix = b;
            if (b & 2) c.position = integerValue("a child position");
        }
        c.className = shortString("a class name");
        c.name = shortString("a component name");
        properties(c.properties);
        while (peek("a child component or the end of the children") != 0)
            c.children.push_back(component());
        ++p_;
        return c;
    }

    std::string_view d_;
    std::size_t p_ = 0;
    int depth_ = 0;
};

// ---- binary writer ---------------------------------------------------------------------

class Writer {
  public:
    std::string out;

    void document(const Document& doc) {
        out += '\xFF';
        le(10, 2);
        if (doc.resourceName.find('\0') != std::string::npos)
            bad("resource name", "contains a zero byte");
        out += doc.resourceName;
        out += '\0';
        le(doc.memoryFlags, 2);
        std::size_t sizeAt = out.size();
        le(0, 4);
        std::size_t start = out.size();
        out += "TPF0";
        component(doc.root, true);
        out += doc.trailer;
        std::size_t size = out.size() - start;
        if (size > 0xFFFFFFFFu) bad("stream", "larger than 4 GiB");
        for (int i = 0; i < 4; ++i)
            out[sizeAt + i] = static_cast<char>((size >> (8 * i)) & 0xFF);
    }

  private:
    [[noreturn]] static void bad(const std::string& where, const std::string& what) {
        throw std::invalid_argument("rack stream: " + where + ": " + what);
    }
    void le(std::uint64_t v, int n) {
        for (int i = 0; i < n; ++i)
            out += static_cast<char>((v >> (8 * i)) & 0xFF);
    }
    void shortString(const std::string& s, const std::string& where) {
        if (s.size() > 255) bad(where, "longer than 255 bytes");
        out += static_cast<char>(s.size());
        out += s;
    }
    void longBytes(const std::string& s, std::size_t unit, const std::string& where) {
        if (s.size() / unit > 0xFFFFFFFFu) bad(where, "longer than 4 GiB");
        le(s.size() / unit, 4);
        out += s;
    }
    void fixed(const Value& v, std::size_t n, const std::string& where) {
        if (v.bytes.size() != n) bad(where, "needs exactly " + std::to_string(n) + " bytes");
        out += v.bytes;
    }
    void ranged(const Value& v, std::int64_t lo, std::int64_t hi, int n, const std::string& where) {
        if (v.integer < lo || v.integer > hi) bad(where, "integer out of range for its type");
        le(static_cast<std::uint64_t>(v.integer), n);
    }

    void value(const Value& v, const std::string& where) {
        out += static_cast<char>(v.type);
        switch (v.type) {
        case VType::Null:
            bad(where, "an absent value cannot be written");
        case VType::List:
            for (const Value& e : v.list)
                value(e, where);
            out += '\0';
            break;
        case VType::Int8:
            ranged(v, INT8_MIN, INT8_MAX, 1, where);
            break;
        case VType::Int16:
            ranged(v, INT16_MIN, INT16_MAX, 2, where);
            break;
        case VType::Int32:
            ranged(v, INT32_MIN, INT32_MAX, 4, where);
            break;
        case VType::Int64:
        case VType::Currency:
            le(static_cast<std::uint64_t>(v.integer), 8);
            break;
        case VType::Extended:
            fixed(v, 10, where);
            break;
        case VType::Single:
            fixed(v, 4, where);
            break;
        case VType::Date:
            fixed(v, 8, where);
            break;
        case VType::String:
        case VType::Ident:
            shortString(v.bytes, where);
            break;
        case VType::False:
        case VType::True:
        case VType::Nil:
            break;
        case VType::Binary:
        case VType::LString:
            longBytes(v.bytes, 1, where);
            break;
        case VType::WString:
            if (v.bytes.size() % 2) bad(where, "wide string of an odd number of bytes");
            longBytes(v.bytes, 2, where);
            break;
        case VType::Set:
            for (const std::string& e : v.set) {
                if (e.empty()) bad(where, "empty set element");
                shortString(e, where);
            }
            out += '\0';
            break;
        case VType::Collection:
            for (const Item& item : v.items) {
                if (item.index.type != VType::Null) {
                    if (!asInteger(item.index) || item.index.type == VType::Int64)
                        bad(where, "collection item index must be an 8, 16 or 32-bit integer");
                    value(item.index, where);
                }
                out += '\1';
                properties(item.properties, where);
            }
            out += '\0';
            break;
        default:
            bad(where, "unknown value type " + std::to_string(int(v.type)));
        }
    }

    void properties(const std::vector<Property>& props, const std::string& owner) {
        for (const Property& p : props) {
            if (p.name.empty()) bad(owner, "property with an empty name");
            std::string where = owner + "." + p.name;
            shortString(p.name, where);
            value(p.value, where);
        }
        out += '\0';
    }

    void component(const Component& c, bool root) {
        std::string where = c.name.empty() ? c.className : c.name;
        if (c.prefix) {
            if ((*c.prefix & 0xF0) != 0xF0) bad(where, "prefix byte must be 0xF0 to 0xFF");
            out += static_cast<char>(*c.prefix);
            if (*c.prefix & 2) {
                if (!asInteger(c.position) || c.position.type == VType::Int64)
                    bad(where, "child position must be an 8, 16 or 32-bit integer");
                value(c.position, where);
            }
        } else {
            // Without a prefix the class name's length byte would be read as one.
            if (c.className.size() >= 0xF0) bad(where, "class name of 240 bytes or more");
            if (c.className.empty() && !root) bad(where, "child with an empty class name");
        }
        shortString(c.className, where + " class name");
        shortString(c.name, where + " name");
        properties(c.properties, where);
        for (const Component& child : c.children)
            component(child, false);
        out += '\0';
    }
};

// ---- colours ---------------------------------------------------------------------------

struct NamedColor {
    const char* name;
    std::uint32_t tcolor; // 0x00BBGGRR, or 0xFF0000nn for system colour nn
};

// System colours resolve through the classic desktop scheme, indexed by nn.
constexpr std::array<std::uint32_t, 31> kSystemRgb = {
    0xC8C8C8, 0x3A6EA5, 0x0A246A, 0x808080, 0xD4D0C8, 0xFFFFFF, 0x000000, 0x000000,
    0x000000, 0xFFFFFF, 0xD4D0C8, 0xD4D0C8, 0x808080, 0x0A246A, 0xFFFFFF, 0xD4D0C8,
    0x808080, 0x808080, 0x000000, 0xD4D0C8, 0xFFFFFF, 0x404040, 0xD4D0C8, 0x000000,
    0xFFFFE1, 0xB5B5B5, 0x000080, 0xA6CAF0, 0xC0C0C0, 0x316AC5, 0xD4D0C8};

constexpr NamedColor kColors[] = {
    {"clBlack", 0x000000},
    {"clMaroon", 0x000080},
    {"clGreen", 0x008000},
    {"clOlive", 0x008080},
    {"clNavy", 0x800000},
    {"clPurple", 0x800080},
    {"clTeal", 0x808000},
    {"clGray", 0x808080},
    {"clSilver", 0xC0C0C0},
    {"clRed", 0x0000FF},
    {"clLime", 0x00FF00},
    {"clYellow", 0x00FFFF},
    {"clBlue", 0xFF0000},
    {"clFuchsia", 0xFF00FF},
    {"clAqua", 0xFFFF00},
    {"clLtGray", 0xC0C0C0},
    {"clDkGray", 0x808080},
    {"clWhite", 0xFFFFFF},
    {"clMoneyGreen", 0xC0DCC0},
    {"clSkyBlue", 0xF0CAA6},
    {"clCream", 0xF0FBFF},
    {"clMedGray", 0xA4A0A0},
    {"clScrollBar", 0xFF000000},
    {"clBackground", 0xFF000001},
    {"clActiveCaption", 0xFF000002},
    {"clInactiveCaption", 0xFF000003},
    {"clMenu", 0xFF000004},
    {"clWindow", 0xFF000005},
    {"clWindowFrame", 0xFF000006},
    {"clMenuText", 0xFF000007},
    {"clWindowText", 0xFF000008},
    {"clCaptionText", 0xFF000009},
    {"clActiveBorder", 0xFF00000A},
    {"clInactiveBorder", 0xFF00000B},
    {"clAppWorkSpace", 0xFF00000C},
    {"clHighlight", 0xFF00000D},
    {"clHighlightText", 0xFF00000E},
    {"clBtnFace", 0xFF00000F},
    {"clBtnShadow", 0xFF000010},
    {"clGrayText", 0xFF000011},
    {"clBtnText", 0xFF000012},
    {"clInactiveCaptionText", 0xFF000013},
    {"clBtnHighlight", 0xFF000014},
    {"cl3DDkShadow", 0xFF000015},
    {"cl3DLight", 0xFF000016},
    {"clInfoText", 0xFF000017},
    {"clInfoBk", 0xFF000018},
    {"clHotLight", 0xFF00001A},
    {"clGradientActiveCaption", 0xFF00001B},
    {"clGradientInactiveCaption", 0xFF00001C},
    {"clMenuHighlight", 0xFF00001D},
    {"clMenuBar", 0xFF00001E},
};

std::optional<std::uint32_t> rgbOfTColor(std::uint32_t c) {
    // Older toolkits marked system colours with 0x80000000, later ones with 0xFF000000.
    if ((c & 0xFF000000u) == 0xFF000000u || (c & 0xFF000000u) == 0x80000000u) {
        std::uint32_t index = c & 0x00FFFFFFu;
        if (index >= kSystemRgb.size()) return std::nullopt;
        return kSystemRgb[index];
    }
    if (c & 0xFF000000u) return std::nullopt; // clNone, clDefault, palette-relative
    return ((c & 0xFF) << 16) | (c & 0xFF00) | ((c >> 16) & 0xFF);
}

} // namespace

// ---- model -----------------------------------------------------------------------------

const Property* Component::property(std::string_view n) const {
    for (const Property& p : properties)
        if (equalsNoCase(p.name, n)) return &p;
    return nullptr;
}
Property* Component::property(std::string_view n) {
    return const_cast<Property*>(std::as_const(*this).property(n));
}
void Component::set(std::string_view n, Value v) {
    if (Property* p = property(n)) {
        p->value = std::move(v);
        return;
    }
    properties.push_back(Property{std::string(n), std::move(v)});
}
const Component* Component::find(std::string_view n) const {
    if (name == n) return this;
    for (const Component& c : children)
        if (const Component* hit = c.find(n)) return hit;
    return nullptr;
}
Component* Component::find(std::string_view n) {
    return const_cast<Component*>(std::as_const(*this).find(n));
}

Document makeDocument(Component root) {
    Document d;
    d.resourceName = upperAscii(root.className);
    d.root = std::move(root);
    return d;
}

// ---- binary entry points ---------------------------------------------------------------

std::string ReadResult::message() const {
    if (ok) return {};
    if (fileError) return error;
    return "offset " + std::to_string(offset) + ": " + error;
}

ReadResult read(std::string_view bytes) {
    ReadResult r;
    try {
        r.doc = Reader(bytes).document();
        r.ok = true;
    } catch (const Failure& f) {
        r.offset = f.offset;
        r.error = f.what;
    } catch (const std::bad_alloc&) {
        r.error = "out of memory";
    }
    return r;
}

ReadResult readFile(const std::string& path) {
    std::string data, why;
    // A FIFO would hold the caller until someone writes to it, and a device such as
    // /dev/zero never ends: a rack file is a regular file or nothing.
    if (!nv::readFile(path, data, why, {.regularOnly = true})) {
        ReadResult r;
        r.error = path + ": " + why;
        r.fileError = true;
        return r;
    }
    return read(data);
}

std::string write(const Document& doc) {
    Writer w;
    w.document(doc);
    return std::move(w.out);
}

std::string saveFile(const std::string& path, std::string_view bytes) {
    std::string why;
    if (safeSave(path, bytes, why)) return {};
    return path + ": " + why;
}

// ---- building values -------------------------------------------------------------------

Value intValue(std::int64_t v) {
    Value r;
    r.integer = v;
    if (v >= INT8_MIN && v <= INT8_MAX)
        r.type = VType::Int8;
    else if (v >= INT16_MIN && v <= INT16_MAX)
        r.type = VType::Int16;
    else if (v >= INT32_MIN && v <= INT32_MAX)
        r.type = VType::Int32;
    else
        r.type = VType::Int64;
    return r;
}
Value stringValue(std::string bytes) {
    Value r;
    r.type = bytes.size() <= 255 ? VType::String : VType::LString;
    r.bytes = std::move(bytes);
    return r;
}
Value identValue(std::string name) {
    Value r;
    r.type = VType::Ident;
    r.bytes = std::move(name);
    return r;
}
Value boolValue(bool v) {
    Value r;
    r.type = v ? VType::True : VType::False;
    return r;
}
Value nilValue() {
    Value r;
    r.type = VType::Nil;
    return r;
}
Value setValue(std::vector<std::string> elements) {
    Value r;
    r.type = VType::Set;
    r.set = std::move(elements);
    return r;
}
Value binaryValue(std::string bytes) {
    Value r;
    r.type = VType::Binary;
    r.bytes = std::move(bytes);
    return r;
}
Value extendedValue(long double v) {
    Value r;
    r.type = VType::Extended;
    r.bytes = packExtended(v);
    return r;
}
Value singleValue(float v) {
    Value r;
    r.type = VType::Single;
    r.bytes = packLE(std::bit_cast<std::uint32_t>(v), 4);
    return r;
}
Value doubleDateValue(double days) {
    Value r;
    r.type = VType::Date;
    r.bytes = packLE(std::bit_cast<std::uint64_t>(days), 8);
    return r;
}
Value currencyValue(std::int64_t scaled) {
    Value r;
    r.type = VType::Currency;
    r.integer = scaled;
    return r;
}
Value wideValue(const std::u16string& units) {
    Value r;
    r.type = VType::WString;
    for (char16_t u : units)
        r.bytes += packLE(u, 2);
    return r;
}
Value listValue(std::vector<Value> values) {
    Value r;
    r.type = VType::List;
    r.list = std::move(values);
    return r;
}

// ---- reading values --------------------------------------------------------------------

std::optional<std::int64_t> asInteger(const Value& v) {
    switch (v.type) {
    case VType::Int8:
    case VType::Int16:
    case VType::Int32:
    case VType::Int64:
        return v.integer;
    default:
        return std::nullopt;
    }
}

std::optional<long double> asReal(const Value& v) {
    std::optional<long double> r;
    switch (v.type) {
    case VType::Extended:
        r = unpackExtended(v.bytes);
        break;
    case VType::Single:
        if (v.bytes.size() == 4)
            r = std::bit_cast<float>(static_cast<std::uint32_t>(unpackLE(v.bytes)));
        break;
    case VType::Date:
        if (v.bytes.size() == 8) r = std::bit_cast<double>(unpackLE(v.bytes));
        break;
    case VType::Currency:
        r = static_cast<long double>(v.integer) / 10000;
        break;
    default:
        if (auto i = asInteger(v)) r = static_cast<long double>(*i);
    }
    if (r && !std::isfinite(*r)) return std::nullopt;
    return r;
}

std::optional<bool> asBool(const Value& v) {
    if (v.type == VType::True) return true;
    if (v.type == VType::False) return false;
    return std::nullopt;
}

std::optional<std::string> asIdent(const Value& v) {
    if (v.type != VType::Ident) return std::nullopt;
    return v.bytes;
}

std::optional<std::string> asText(const Value& v) {
    if (v.type == VType::String || v.type == VType::LString) return v.bytes;
    if (v.type != VType::WString) return std::nullopt;
    std::string out;
    std::size_t n = v.bytes.size() / 2;
    auto unit = [&](std::size_t i) -> std::uint32_t {
        return static_cast<std::uint8_t>(v.bytes[2 * i]) |
               (static_cast<std::uint8_t>(v.bytes[2 * i + 1]) << 8);
    };
    for (std::size_t i = 0; i < n; ++i) {
        std::uint32_t cp = unit(i);
        if (cp >= 0xD800 && cp < 0xDC00 && i + 1 < n && unit(i + 1) >= 0xDC00 &&
            unit(i + 1) < 0xE000) {
            cp = 0x10000 + ((cp - 0xD800) << 10) + (unit(i + 1) - 0xDC00);
            ++i;
        } else if (cp >= 0xD800 && cp < 0xE000) {
            cp = 0xFFFD; // a lone surrogate has no UTF-8 form
        }
        appendUtf8(out, cp);
    }
    return out;
}

std::optional<std::uint32_t> asColor(const Value& v) {
    if (auto i = asInteger(v)) {
        if (*i < INT32_MIN || *i > UINT32_MAX) return std::nullopt;
        return rgbOfTColor(static_cast<std::uint32_t>(*i));
    }
    if (v.type != VType::Ident) return std::nullopt;
    for (const NamedColor& c : kColors)
        if (equalsNoCase(c.name, v.bytes)) return rgbOfTColor(c.tcolor);
    return std::nullopt;
}

namespace {
template <class F>
auto propertyAs(const Component& c, std::string_view name, F f) -> decltype(f(Value{})) {
    const Property* p = c.property(name);
    if (!p) return std::nullopt;
    return f(p->value);
}
} // namespace

std::optional<std::uint32_t> colorProperty(const Component& c, std::string_view name) {
    return propertyAs(c, name, asColor);
}
std::optional<std::int64_t> intProperty(const Component& c, std::string_view name) {
    return propertyAs(c, name, asInteger);
}
std::optional<std::string> identProperty(const Component& c, std::string_view name) {
    return propertyAs(c, name, asIdent);
}
std::optional<std::string> textProperty(const Component& c, std::string_view name) {
    return propertyAs(c, name, asText);
}
std::optional<bool> boolProperty(const Component& c, std::string_view name) {
    return propertyAs(c, name, asBool);
}
std::optional<int> pixelSizeProperty(const Component& c, std::string_view name, int limit) {
    const std::optional<std::int64_t> v = intProperty(c, name);
    if (!v) return std::nullopt;
    // Compared before negating: the smallest 64-bit integer has no positive counterpart.
    const std::int64_t cap = limit < 0 ? 0 : limit;
    if (*v >= cap || *v <= -cap) return static_cast<int>(cap);
    return static_cast<int>(*v < 0 ? -*v : *v);
}

} // namespace nv::rack
