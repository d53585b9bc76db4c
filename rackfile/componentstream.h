// Rack files and the terminal layout "terminal.res": a 16-bit resource entry (0xFF, type 10,
// the upper-case root class name, memory flags, stream size) holding one "TPF0" component
// stream, read into a tree of components (class name, name, ordered typed properties,
// children) and written back. Properties this program does not know are kept as they came,
// so a file read and written again is the same file, byte for byte. The same tree has a
// readable text form (`object Name: TClass` ... `end`, one `Property = value` per line);
// docs/rack-text-format.md describes it for users.
//
// Typical use (loading the terminal layout):
//     auto r = nv::rack::readFile(dir + "/terminal.res");
//     if (!r.ok) { /* r.message() says where and what */ }
//     const nv::rack::Component* memo = r.doc.root.find("Memo1");
//     auto color = nv::rack::colorProperty(*memo, "Color");   // 0xRRGGBB
//
// Threading: plain data and pure functions; no shared state, any thread.
// Errors: read, fromText and readFile never throw and never crash on hostile input; they
// return a result whose message names the byte offset (binary) or line (text) and what was
// expected there. write throws std::invalid_argument for a tree the format cannot hold
// (a name over 255 bytes, an integer outside its type, ...), and toText for a tree the text
// form cannot carry back (a value of unknown type, a resource name over 255 bytes); trees
// from read and fromText always write.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace nv::rack {

// The type byte in front of every value in the stream.
enum class VType : std::uint8_t {
    Null = 0, // end marker; as a Value it means "absent" (no index, no position)
    List = 1,
    Int8 = 2,
    Int16 = 3,
    Int32 = 4,
    Extended = 5, // 80-bit real
    String = 6,   // short string, at most 255 bytes
    Ident = 7,    // enumeration value, colour name, component or event reference
    False = 8,
    True = 9,
    Binary = 10,
    Set = 11,
    LString = 12, // long string
    Nil = 13,
    Collection = 14,
    Single = 15,   // 32-bit real
    Currency = 16, // 64-bit integer scaled by 10000
    Date = 17,     // 64-bit real, days since 30 December 1899
    WString = 18,  // UTF-16 code units
    Int64 = 19,
};

struct Property;
struct Item;

// One value. Which members count depends on `type`; the others stay empty. Reals and wide
// strings keep their stored bytes so that nothing is rounded or re-encoded on the way
// through; use the accessors below to get numbers and text out.
struct Value {
    VType type = VType::Null;
    std::int64_t integer = 0;     // Int8..Int64; Currency: the scaled integer
    std::string bytes;            // String, LString, Ident, Binary: the bytes;
                                  // Extended/Single/Date: 10/4/8 bytes little-endian;
                                  // WString: UTF-16LE, two bytes per code unit
    std::vector<Value> list;      // List
    std::vector<std::string> set; // Set: element names
    std::vector<Item> items;      // Collection

    bool operator==(const Value&) const;
};

// A collection item: an optional integer index (type Null when absent) and its properties.
struct Item {
    Value index;
    std::vector<Property> properties;
    bool operator==(const Item&) const;
};

// A property: its name (a dotted path for nested properties, e.g. "Font.Color") and value.
struct Property {
    std::string name;
    Value value;
    bool operator==(const Property&) const;
};

struct Component {
    std::string className;
    std::string name;
    // The optional prefix byte (0xF0..0xFF); low bits: 1 inherited, 2 child position
    // follows, 4 inline. When bit 2 is set, `position` holds an Int8/Int16/Int32 value.
    std::optional<std::uint8_t> prefix;
    Value position;
    std::vector<Property> properties;
    std::vector<Component> children;

    // Property names ignore ASCII letter case, as the toolkit's do; the first match wins.
    const Property* property(std::string_view name) const;
    Property* property(std::string_view name);
    // Replaces the value of an existing property in place, or appends a new one.
    void set(std::string_view name, Value v);
    // This component or the first descendant (depth first, in file order) with exactly
    // this name; null when there is none.
    const Component* find(std::string_view name) const;
    Component* find(std::string_view name);

    bool operator==(const Component&) const;
};

// A whole file: the resource header's name and memory flags, the root component and any
// bytes that followed the root record (kept so that they are written back).
struct Document {
    std::string resourceName; // normally the root class name in upper case
    std::uint16_t memoryFlags = 0x1030;
    Component root;
    std::string trailer;

    bool operator==(const Document&) const;
};

// A new document whose header matches what the toolkit writes for `root`.
Document makeDocument(Component root);

struct ReadResult {
    bool ok = false;
    Document doc;
    std::size_t offset = 0;      // where reading stopped, on failure
    std::string error;           // what was expected there
    bool fileError = false;      // the file could not be read at all; offset means nothing
    std::string message() const; // "offset N: <error>" (or the error alone for file errors)
};
ReadResult read(std::string_view bytes);
// Reads a whole file; a missing or unreadable file is a failure with the system's reason,
// and so is anything but a regular file (a FIFO or device is refused without waiting).
ReadResult readFile(const std::string& path);

// The file's bytes. The size field always holds the true stream size.
std::string write(const Document& doc);

// Throws std::invalid_argument for a tree whose text fromText would refuse.
std::string toText(const Document& doc);

struct TextResult {
    bool ok = false;
    Document doc;
    int line = 0; // 1-based line of the failure
    std::string error;
    std::string message() const; // "line N: <error>"
};
TextResult fromText(std::string_view text);

// Writes `bytes` to `path` with the program's safe save (base/files.h): a failed write never
// destroys an existing file, links and special files are written through.
// Returns an empty string on success, else the reason.
std::string saveFile(const std::string& path, std::string_view bytes);

// --- Building values -------------------------------------------------------------------

Value intValue(std::int64_t v);       // the smallest integer type that holds v
Value stringValue(std::string bytes); // String up to 255 bytes, LString above
Value identValue(std::string name);
Value boolValue(bool v);
Value nilValue();
Value setValue(std::vector<std::string> elements);
Value binaryValue(std::string bytes);
Value extendedValue(long double v);
Value singleValue(float v);
Value doubleDateValue(double days);
Value currencyValue(std::int64_t scaledBy10000);
Value wideValue(const std::u16string& units);
Value listValue(std::vector<Value> values);

// --- Reading values (nullopt when the value has another type) --------------------------

std::optional<std::int64_t> asInteger(const Value& v); // Int8..Int64
// Extended, Single, Date, Currency and the integer types; nullopt for NaN and infinity.
std::optional<long double> asReal(const Value& v);
std::optional<bool> asBool(const Value& v);
std::optional<std::string> asIdent(const Value& v);
// String and LString as stored; WString converted to UTF-8.
std::optional<std::string> asText(const Value& v);

// A colour value as 0xRRGGBB; see colorProperty.
std::optional<std::uint32_t> asColor(const Value& v);
// A colour property as 0xRRGGBB: an integer TColor (0x00BBGGRR) or a colour name such as
// clLime or clBtnFace; system colours take the classic desktop scheme's values. Nullopt
// for a missing property, clNone/clDefault or anything else.
std::optional<std::uint32_t> colorProperty(const Component& c, std::string_view name);
std::optional<std::int64_t> intProperty(const Component& c, std::string_view name);
std::optional<std::string> identProperty(const Component& c, std::string_view name);
std::optional<std::string> textProperty(const Component& c, std::string_view name);
std::optional<bool> boolProperty(const Component& c, std::string_view name);
// A size in pixels from an integer property whose sign carries a meaning of its own (as in
// Font.Height: negative for the character height, positive for the cell height): its
// magnitude, clamped to `limit`, so that no stored value overflows or asks for an absurd size.
std::optional<int> pixelSizeProperty(const Component& c, std::string_view name, int limit);

} // namespace nv::rack
