// The component stream: hand-built bytes for every value type, exact round trips through
// both forms, clear errors on broken input (never a crash), the helpers the serial and rack
// code use, the terminal.res the build produces, and the norvane-rack tool itself.
#include "rackfile/componentstream.h"

#include "base/files.h"
#include "tests/support/tempdir.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <sys/wait.h>

using namespace std::literals;
using namespace nv::rack;

namespace {

std::string le(std::uint64_t v, int n) {
    std::string s;
    for (int i = 0; i < n; ++i)
        s += static_cast<char>((v >> (8 * i)) & 0xFF);
    return s;
}
std::string ss(const std::string& s) {
    return static_cast<char>(s.size()) + s;
}
std::string prop(const std::string& name, const std::string& value) {
    return ss(name) + value;
}

std::string resource(const std::string& name, const std::string& stream,
                     std::uint16_t flags = 0x1030) {
    return "\xFF\x0A\x00"s + name + '\0' + le(flags, 2) + le(stream.size(), 4) + stream;
}
// A TForm1 root named Form1 holding `props` and `children` (records, without the final 0).
std::string rootWith(const std::string& props, const std::string& children = "") {
    return resource("TFORM1", "TPF0" + ss("TForm1") + ss("Form1") + props + '\0' + children + '\0');
}
// Where the first property's value type byte sits in rootWith(prop("P", ...)).
constexpr std::size_t kFirstValue = 16 + 4 + 7 + 6 + 2;

struct ValueCase {
    const char* what;
    std::string bytes; // type byte and payload
    VType type;
    std::string text; // as the text form writes it
};

std::vector<ValueCase> valueCases() {
    return {
        {"list",
         "\x01\x02\x05\x06\x01"s
         "a\0"s,
         VType::List, "(\n    5\n    'a')"},
        {"empty list", "\x01\0"s, VType::List, "()"},
        {"int8", "\x02\xFB"s, VType::Int8, "-5"},
        {"int16", "\x03\x2C\x01"s, VType::Int16, "300"},
        {"int32", "\x04\xA0\x86\x01\x00"s, VType::Int32, "100000"},
        {"int32 holding a small number", "\x04\x05\0\0\0"s, VType::Int32, "i32(5)"},
        {"extended", "\x05\0\0\0\0\0\0\0\xC0\xFF\x3F"s, VType::Extended, "1.5"},
        {"extended NaN", "\x05\0\0\0\0\0\0\0\xC0\xFF\x7F"s, VType::Extended,
         "ext($00000000000000C0FF7F)"},
        {"extended unnormal", "\x05\0\0\0\0\0\0\0\x40\xFF\x3F"s, VType::Extended,
         "ext($0000000000000040FF3F)"},
        {"string with quote and line break", "\x06\x06it's\r\n"s, VType::String, "'it''s'#13#10"},
        {"string with UTF-8 and a stray byte", "\x06\x04\xC2\xB5\xB5z"s, VType::String,
         "'\xC2\xB5'#181'z'"},
        {"empty string", "\x06\0"s, VType::String, "''"},
        {"zero byte", "\x06\x01\0"s, VType::String, "#0"},
        {"ident",
         "\x07\x07"
         "clBlack"s,
         VType::Ident, "clBlack"},
        {"ident spelled like a boolean", "\x07\x04True"s, VType::Ident, "ident('True')"},
        {"empty ident", "\x07\0"s, VType::Ident, "ident('')"},
        {"false", "\x08"s, VType::False, "False"},
        {"true", "\x09"s, VType::True, "True"},
        {"binary", "\x0A\x03\0\0\0\x01\x02\xFF"s, VType::Binary, "{\n    0102FF}"},
        {"empty binary", "\x0A\0\0\0\0"s, VType::Binary, "{}"},
        {"set",
         "\x0B\x06"
         "fsBold\x08"
         "fsItalic\0"s,
         VType::Set, "[fsBold, fsItalic]"},
        {"empty set", "\x0B\0"s, VType::Set, "[]"},
        {"set element with a blank",
         "\x0B\x03"
         "a b\0"s,
         VType::Set, "['a b']"},
        {"short long string",
         "\x0C\x02\0\0\0"
         "ab"s,
         VType::LString, "long('ab')"},
        {"long string", "\x0C" + le(300, 4) + std::string(300, 'x'), VType::LString,
         "'" + std::string(300, 'x') + "'"},
        {"nil", "\x0D"s, VType::Nil, "nil"},
        {"collection", "\x0E\x01"s + prop("Width", "\x02\x32") + "\0\x02\x03\x01\0\0"s,
         VType::Collection, "<\n    item\n      Width = 50\n    end\n    item [3]\n    end>"},
        {"collection with a 32-bit index", "\x0E\x04\x07\0\0\0\x01\0\0"s, VType::Collection,
         "<\n    item [i32(7)]\n    end>"},
        {"empty collection", "\x0E\0"s, VType::Collection, "<>"},
        {"single", "\x0F\0\0\xC0\x3F"s, VType::Single, "1.5s"},
        {"currency", "\x10" + le(123456, 8), VType::Currency, "12.3456c"},
        {"negative currency", "\x10" + le(static_cast<std::uint64_t>(-5000), 8), VType::Currency,
         "-0.5c"},
        {"date", "\x11\0\0\0\0\x10\xF9\xE5\x40"s, VType::Date, "45000.5d"},
        {"wide string", "\x12\x02\0\0\0\x41\0\xAC\x20"s, VType::WString, "wide('A\xE2\x82\xAC')"},
        {"wide string with a lone surrogate", "\x12\x01\0\0\0\x00\xD8"s, VType::WString,
         "wide(#55296)"},
        {"int64", "\x13" + le(1ull << 40, 8), VType::Int64, "1099511627776"},
        {"int64 holding a small number", "\x13" + le(5, 8), VType::Int64, "i64(5)"},
    };
}

TEST(RackStream, EveryValueTypeRoundTripsThroughBothForms) {
    for (const ValueCase& c : valueCases()) {
        SCOPED_TRACE(c.what);
        std::string file = rootWith(prop("P", c.bytes));
        ReadResult r = read(file);
        ASSERT_TRUE(r.ok) << r.message();
        ASSERT_EQ(r.doc.root.properties.size(), 1u);
        EXPECT_EQ(r.doc.root.properties[0].value.type, c.type);
        EXPECT_EQ(write(r.doc), file);

        std::string text = toText(r.doc);
        EXPECT_EQ(text, "object Form1: TForm1\n  P = " + c.text + "\nend\n");
        TextResult back = fromText(text);
        ASSERT_TRUE(back.ok) << back.message();
        EXPECT_EQ(write(back.doc), file);
    }
}

TEST(RackStream, ComponentPrefixesHeaderAndTrailerSurvive) {
    std::string inlineFrame = "\xF6\x02\x02"s + ss("TFrame1") + ss("Frame1") + "\0\0"s;
    std::string panel = "\xF1"s + ss("TPanel") + ss("Panel1") + '\0' + inlineFrame + '\0';
    std::string label = "\xF8"s + ss("TLabel") + ss("") + "\0\0"s;
    std::string edit = "\xF5"s + ss("TEdit") + ss("Edit1") + "\0\0"s;
    std::string stream =
        "TPF0" + ss("TForm1") + ss("Form1") + '\0' + panel + label + edit + '\0' + "XY";
    std::string file = resource("RACK1", stream, 0x1010);

    ReadResult r = read(file);
    ASSERT_TRUE(r.ok) << r.message();
    EXPECT_EQ(r.doc.resourceName, "RACK1");
    EXPECT_EQ(r.doc.trailer, "XY");
    ASSERT_EQ(r.doc.root.children.size(), 3u);
    EXPECT_EQ(r.doc.root.children[0].children[0].position.integer, 2);
    EXPECT_EQ(write(r.doc), file);

    std::string text = toText(r.doc);
    EXPECT_EQ(text, "resource RACK1 flags $1010\n"
                    "object Form1: TForm1\n"
                    "  inherited Panel1: TPanel\n"
                    "    inline Frame1: TFrame1 [2]\n"
                    "    end\n"
                    "  end\n"
                    "  object TLabel prefix($F8)\n"
                    "  end\n"
                    "  inherited Edit1: TEdit prefix($F5)\n"
                    "  end\n"
                    "end\n"
                    "trailer {\n"
                    "  5859}\n");
    TextResult back = fromText(text);
    ASSERT_TRUE(back.ok) << back.message();
    EXPECT_EQ(write(back.doc), file);
}

TEST(RackStream, WrongSizeFieldIsToleratedAndCorrectedOnWrite) {
    std::string file = rootWith(prop("Left", "\x02\x05"));
    std::string zeroSize = file;
    zeroSize.replace(12, 4, "\0\0\0\0"s); // as left by a writer that never patched it
    ReadResult r = read(zeroSize);
    ASSERT_TRUE(r.ok) << r.message();
    EXPECT_EQ(write(r.doc), file);
}

TEST(RackStream, BrokenInputFailsWithOffsetAndReason) {
    const std::string head = "\xFF\x0A\0"s
                             "TFORM1\0"s
                             "\x30\x10\0\0\0\0"s;
    struct Case {
        const char* what;
        std::string bytes;
        std::size_t offset;
        const char* needle;
    } cases[] = {
        {"empty file", "", 0, "truncated"},
        {"not a resource entry", "TPF0", 0, "0xFF"},
        {"another resource type", "\xFF\x0B\0"s, 1, "resource type 10"},
        {"name without end", "\xFF\x0A\0TFORM1"s, 3, "terminating zero"},
        {"no TPF0", head + "TPF1", 16, "TPF0"},
        {"unknown value type", rootWith(prop("P", "\x14")), kFirstValue, "unknown value type 20"},
        {"end marker as a value", rootWith(prop("P", "\0"s)), kFirstValue, "end marker"},
        {"huge long string", rootWith(prop("P", "\x0C\xFF\xFF\xFF\xFF")), kFirstValue + 5,
         "truncated"},
        {"huge wide string", rootWith(prop("P", "\x12\0\0\0\x80"s)), kFirstValue + 5, "truncated"},
        {"collection item without marker", rootWith(prop("P", "\x0E\x02\x01\x05")), kFirstValue + 3,
         "item marker 1"},
        {"child position not an integer",
         rootWith("", "\xF2\x06\x01"
                      "a"s +
                          ss("TX") + ss("X") + "\0\0"s),
         35, "integer"},
        {"deep nesting", rootWith(prop("P", std::string(100000, '\x01'))), 0, "nesting deeper"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ReadResult r = read(c.bytes);
        ASSERT_FALSE(r.ok);
        EXPECT_NE(r.error.find(c.needle), std::string::npos) << r.message();
        if (c.offset) {
            EXPECT_EQ(r.offset, c.offset) << r.message();
        }
    }
}

// One file holding every value type, nested.
std::string richFile() {
    std::string props;
    int n = 0;
    for (const ValueCase& c : valueCases())
        props += prop("P" + std::to_string(n++), c.bytes);
    std::string child =
        ss("TMemo") + ss("Memo1") + prop("Lines.Strings", "\x01\x06\x01x\0"s) + "\0\0"s;
    return rootWith(props, child);
}

TEST(RackStream, EveryTruncationFailsCleanly) {
    std::string file = richFile();
    ASSERT_TRUE(read(file).ok);
    for (std::size_t n = 0; n < file.size(); ++n) {
        ReadResult r = read(std::string_view(file).substr(0, n));
        ASSERT_FALSE(r.ok) << "prefix of " << n << " bytes";
        EXPECT_LE(r.offset, n);
    }
}

TEST(RackStream, MutatedFilesNeverCrashAndWhatReadsRoundTrips) {
    std::mt19937 rng(20261210);
    const std::string base = richFile();
    int accepted = 0;
    for (int i = 0; i < 20000; ++i) {
        std::string f = base;
        int edits = 1 + static_cast<int>(rng() % 4);
        for (int e = 0; e < edits && !f.empty(); ++e) {
            std::size_t at = rng() % f.size();
            switch (rng() % 3) {
            case 0:
                f[at] = static_cast<char>(rng());
                break;
            case 1:
                f.erase(at, 1 + rng() % 8);
                break;
            default:
                f.insert(at, 1, static_cast<char>(rng()));
            }
        }
        ReadResult r = read(f);
        if (!r.ok) continue;
        ++accepted;
        ReadResult again = read(write(r.doc));
        ASSERT_TRUE(again.ok) << again.message();
        ASSERT_EQ(again.doc, r.doc);
        TextResult t = fromText(toText(r.doc));
        ASSERT_TRUE(t.ok) << t.message() << "\n" << toText(r.doc);
        ASSERT_EQ(t.doc, r.doc);
    }
    EXPECT_GT(accepted, 100); // the mutations must reach past the header
}

// Random trees with random bytes in every name and value.
class TreeMaker {
  public:
    explicit TreeMaker(unsigned seed) : rng_(seed) {}

    Document document() {
        Document d = makeDocument(component(0, true));
        std::erase(d.resourceName, '\0');
        if (pick(4) == 0) d.resourceName = bytes(0, 12, false);
        if (pick(4) == 0) d.memoryFlags = static_cast<std::uint16_t>(rng_());
        if (pick(4) == 0) d.trailer = bytes(0, 6, true);
        return d;
    }

  private:
    std::size_t pick(std::size_t n) { return rng_() % n; }
    std::string bytes(std::size_t min, std::size_t max, bool zeroOk) {
        // Words the text form gives a meaning of its own.
        static const char* words[] = {"end",  "object", "inherited", "inline",  "item",
                                      "True", "nil",    "resource",  "trailer", "flags",
                                      "i8",   "prefix", "long",      "wide",    "ext"};
        if (min <= 1 && max >= 8 && pick(8) == 0) return words[pick(std::size(words))];
        std::string s(min + pick(max - min + 1), '\0');
        for (char& c : s) {
            static const char pool[] = "abzAZ_09.' #$()[]<>{}=:+/\x01\x7F\x80\xC2\xB5\xFF";
            c = pick(3) ? pool[pick(sizeof pool - 1)] : static_cast<char>(rng_());
            if (!zeroOk && c == '\0') c = 'q';
        }
        return s;
    }
    Value integer(VType t) {
        Value v;
        v.type = t;
        std::int64_t r = static_cast<std::int64_t>((std::uint64_t(rng_()) << 32) | rng_());
        switch (t) {
        case VType::Int8:
            v.integer = static_cast<std::int8_t>(r);
            break;
        case VType::Int16:
            v.integer = static_cast<std::int16_t>(r);
            break;
        case VType::Int32:
            v.integer = static_cast<std::int32_t>(r);
            break;
        default:
            v.integer = pick(2) ? r : static_cast<std::int8_t>(r);
        }
        return v;
    }
    std::vector<Property> properties(int depth) {
        std::vector<Property> ps(pick(4));
        for (Property& p : ps) {
            p.name = bytes(1, 10, true);
            p.value = value(depth + 1);
        }
        return ps;
    }
    Value value(int depth) {
        static const VType all[] = {
            VType::List,     VType::Int8,    VType::Int16,   VType::Int32,      VType::Extended,
            VType::String,   VType::Ident,   VType::False,   VType::True,       VType::Binary,
            VType::Set,      VType::LString, VType::Nil,     VType::Collection, VType::Single,
            VType::Currency, VType::Date,    VType::WString, VType::Int64};
        VType t = all[pick(std::size(all))];
        if (depth > 3 && (t == VType::List || t == VType::Collection)) t = VType::Nil;
        Value v;
        v.type = t;
        switch (t) {
        case VType::List:
            for (std::size_t i = pick(3); i > 0; --i)
                v.list.push_back(value(depth + 1));
            break;
        case VType::Int8:
        case VType::Int16:
        case VType::Int32:
        case VType::Int64:
            return integer(t);
        case VType::Currency:
            v.integer = integer(VType::Int64).integer;
            break;
        case VType::Extended:
            v = pick(2) ? extendedValue(std::ldexp(double(rng_()), int(pick(80)) - 40))
                        : Value{t, 0, bytes(10, 10, true), {}, {}, {}};
            break;
        case VType::Single:
            v.bytes = bytes(4, 4, true);
            break;
        case VType::Date:
            v.bytes = bytes(8, 8, true);
            break;
        case VType::String:
        case VType::Ident:
            v.bytes = bytes(0, 12, true);
            break;
        case VType::Binary:
        case VType::LString:
            v.bytes = bytes(0, pick(8) == 0 ? 300 : 12, true);
            break;
        case VType::WString:
            v.bytes = bytes(0, 8, true);
            v.bytes.resize(v.bytes.size() & ~1u);
            break;
        case VType::Set:
            for (std::size_t i = pick(3); i > 0; --i)
                v.set.push_back(bytes(1, 8, true));
            break;
        case VType::Collection:
            for (std::size_t i = pick(3); i > 0; --i) {
                Item item;
                if (pick(2)) item.index = integer(static_cast<VType>(2 + pick(3)));
                item.properties = properties(depth + 1);
                v.items.push_back(std::move(item));
            }
            break;
        default:
            break;
        }
        return v;
    }
    Component component(int depth, bool root) {
        Component c;
        if (pick(3) == 0) c.prefix = static_cast<std::uint8_t>(0xF0 | pick(16));
        if (c.prefix && (*c.prefix & 2)) c.position = integer(static_cast<VType>(2 + pick(3)));
        c.className = bytes(root || c.prefix ? 0 : 1, 10, true);
        c.name = bytes(0, 10, true);
        c.properties = properties(depth);
        if (depth < 3)
            for (std::size_t i = pick(3); i > 0; --i)
                c.children.push_back(component(depth + 1, false));
        return c;
    }
    std::mt19937 rng_;
};

TEST(RackStream, RandomTreesRoundTripThroughBothForms) {
    TreeMaker maker(4242);
    for (int i = 0; i < 2000; ++i) {
        Document d = maker.document();
        std::string bytes = write(d);
        ReadResult r = read(bytes);
        ASSERT_TRUE(r.ok) << r.message();
        ASSERT_EQ(r.doc, d);
        std::string text = toText(d);
        TextResult t = fromText(text);
        ASSERT_TRUE(t.ok) << t.message() << "\n" << text;
        ASSERT_EQ(t.doc, d) << text;
        ASSERT_EQ(write(t.doc), bytes);
    }
}

TEST(RackStream, MutatedTextNeverCrashesAndWhatParsesWrites) {
    std::mt19937 rng(77);
    const std::string base = toText(read(richFile()).doc);
    static const char pool[] = "'#$()[]<>{}=:+-.,0123456789aeEsSdDcC \n\x80\xFF/";
    for (int i = 0; i < 20000; ++i) {
        std::string t = base;
        for (int e = 0, n = 1 + static_cast<int>(rng() % 3); e < n; ++e) {
            std::size_t at = rng() % t.size();
            if (rng() % 2)
                t[at] = pool[rng() % (sizeof pool - 1)];
            else
                t.erase(at, 1 + rng() % 5);
        }
        TextResult r = fromText(t);
        if (!r.ok) {
            EXPECT_GE(r.line, 1);
            continue;
        }
        std::string bytes;
        ASSERT_NO_THROW(bytes = write(r.doc)) << t;
        ReadResult back = read(bytes);
        ASSERT_TRUE(back.ok);
        ASSERT_EQ(back.doc, r.doc);
    }
}

TEST(RackText, HandWrittenFormsAreAccepted) {
    TextResult r = fromText("// a comment line\n"
                            "object Rack: TFrmRack\n"
                            "  Caption = 'Bench ' + // joined across lines\n"
                            "    'one'#33\n"
                            "  Hint = 'Euro '#8364\n"
                            "  Color = $00FF00\n"
                            "  Tag = -$10\n"
                            "  Scale = 1.500000000000000000\n"
                            "  Big = 1E20\n"
                            "  object Led1: TVrLed\n"
                            "  end\n"
                            "end\n");
    ASSERT_TRUE(r.ok) << r.message();
    const Component& root = r.doc.root;
    EXPECT_EQ(r.doc.resourceName, "TFRMRACK");
    EXPECT_EQ(textProperty(root, "Caption"), "Bench one!");
    EXPECT_EQ(root.property("Hint")->value.type, VType::WString);
    EXPECT_EQ(textProperty(root, "Hint"), "Euro \xE2\x82\xAC");
    EXPECT_EQ(intProperty(root, "Color"), 0xFF00);
    EXPECT_EQ(intProperty(root, "Tag"), -16);
    EXPECT_EQ(asReal(root.property("Scale")->value), 1.5L);
    EXPECT_EQ(asReal(root.property("Big")->value), 1e20L);
    EXPECT_EQ(root.property("Big")->value.type, VType::Extended);
    ASSERT_NE(root.find("Led1"), nullptr);
}

TEST(RackText, ErrorsNameTheLine) {
    struct Case {
        const char* text;
        int line;
        const char* needle;
    } cases[] = {
        {"", 1, "expected 'object'"},
        {"object A: TA\n  Left = 1\n", 3, "expected 'end'"},
        {"object A: TA\n  Left =\nend\n", 3, "expected a value"},
        {"object A: TA\n  Caption = 'open\nend\n", 2, "closing quote"},
        {"object A: TA\n  Caption = 'x'#70000\nend\n", 2, "above 65535"},
        {"object A: TA\n  'a'#300 = 1\nend\n", 2, "above 255"},
        {"object A: TA\n  Tag = i8(300)\nend\n", 2, "does not fit i8"},
        {"object A: TA\n  Tag = 99999999999999999999\nend\n", 2, "out of range"},
        {"object A: TA\n  Cost = 1.23456c\nend\n", 2, "at most 4"},
        {"object A: TA\n  Data = {ABC}\nend\n", 2, "odd number"},
        {"object A: TA\n  X = weird(1)\nend\n", 2, "unknown form"},
        {"object A: TA\n  X = 12ab\nend\n", 2, "malformed number"},
        {"object A: TA\n  object B: TB\n  end\n  Left = 1\nend\n", 4, "expected 'end'"},
        {"object A: TA\nend\nobject B: TB\nend\n", 3, "after the root"},
        {"object A: TA\n  S = [a b]\nend\n", 2, "','"},
        {"object A: TA\n  C = <\n    thing\n  >\nend\n", 3, "'item'"},
        {"object A: TA\n  X = ((((((((((((((((((((((((((((((((((((((((((((((((((((((("
         "((((((((((((((((((((((((((((((((((((((((((((((((((((((((((((((((((((((((((((("
         "((((((((((((((((((((((((((((((((((((((((((((((((((((((((((((((((((((((((((((("
         "(((((((((((\nend\n",
         2, "nesting deeper"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        TextResult r = fromText(c.text);
        ASSERT_FALSE(r.ok);
        EXPECT_EQ(r.line, c.line) << r.message();
        EXPECT_NE(r.error.find(c.needle), std::string::npos) << r.message();
    }
}

TEST(RackStream, HelpersFindComponentsAndReadProperties) {
    Component memo;
    memo.className = "TMemo";
    memo.name = "Memo1";
    memo.set("Color", identValue("clBlack"));
    memo.set("Font.Color", identValue("clLime"));
    memo.set("Tag", intValue(0x0000FF)); // a TColor integer: red
    memo.set("Hint", wideValue(u"A\u20AC"));
    memo.set("ReadOnly", boolValue(true));
    Component root;
    root.className = "TTerminal";
    root.name = "Terminal";
    root.set("Color", intValue(static_cast<std::int32_t>(0xFF00000F))); // clBtnFace
    root.set("ParentColor", identValue("clBtnFace"));
    root.children.push_back(memo);
    root.set("color", identValue("clWhite")); // names ignore case: replaces Color

    ASSERT_EQ(root.properties.size(), 2u);
    EXPECT_EQ(root.find("memo1"), nullptr); // component names are exact
    const Component* m = root.find("Memo1");
    ASSERT_NE(m, nullptr);
    EXPECT_EQ(colorProperty(*m, "Color"), 0x000000u);
    EXPECT_EQ(colorProperty(*m, "font.color"), 0x00FF00u);
    EXPECT_EQ(colorProperty(*m, "Tag"), 0xFF0000u);
    EXPECT_EQ(colorProperty(root, "ParentColor"), 0xD4D0C8u);
    EXPECT_EQ(colorProperty(root, "Color"), 0xFFFFFFu);
    EXPECT_EQ(colorProperty(*m, "Missing"), std::nullopt);
    EXPECT_EQ(identProperty(*m, "Font.Color"), "clLime");
    EXPECT_EQ(intProperty(*m, "Color"), std::nullopt);
    EXPECT_EQ(textProperty(*m, "Hint"), "A\xE2\x82\xAC");
    EXPECT_EQ(boolProperty(*m, "ReadOnly"), true);

    Value system = intValue(static_cast<std::int32_t>(0xFF00000F));
    EXPECT_EQ(asColor(system), 0xD4D0C8u);
    EXPECT_EQ(asColor(intValue(0x1FFFFFFF)), std::nullopt); // clNone
    EXPECT_EQ(asReal(extendedValue(-2.25L)), -2.25L);
    EXPECT_EQ(asReal(currencyValue(-5000)), -0.5L);
    EXPECT_EQ(asReal(singleValue(0.25f)), 0.25L);
}

TEST(RackStream, WriteRefusesTreesTheFormatCannotHold) {
    auto docWith = [](Value v) {
        Component c;
        c.className = "TForm1";
        c.set("P", std::move(v));
        return makeDocument(c);
    };
    Value wideInt8 = intValue(5);
    wideInt8.integer = 300;
    Value longShort;
    longShort.type = VType::String;
    longShort.bytes = std::string(256, 'x');
    EXPECT_THROW(write(docWith(wideInt8)), std::invalid_argument);
    EXPECT_THROW(write(docWith(longShort)), std::invalid_argument);
    EXPECT_THROW(write(docWith(setValue({""}))), std::invalid_argument);
    EXPECT_THROW(write(docWith(Value{})), std::invalid_argument);
    Component nameless = docWith(nilValue()).root;
    nameless.children.push_back(Component{});
    EXPECT_THROW(write(makeDocument(nameless)), std::invalid_argument);
    EXPECT_NO_THROW(write(docWith(stringValue(std::string(256, 'x')))));
}

// A size whose sign carries a meaning (Font.Height) gives its magnitude, clamped: the
// smallest 64-bit integer has no positive counterpart, and no font is a billion pixels tall.
TEST(RackStream, PixelSizesAreMagnitudesClampedToTheLimit) {
    const struct {
        std::int64_t stored;
        int pixels;
    } cases[] = {{-13, 13},         {13, 13},         {0, 0},
                 {-1000, 1000},     {1001, 1000},     {INT64_MIN, 1000},
                 {INT64_MAX, 1000}, {INT32_MIN, 1000}};
    for (const auto& c : cases) {
        Component memo;
        memo.set("Font.Height", intValue(c.stored));
        EXPECT_EQ(pixelSizeProperty(memo, "Font.Height", 1000), c.pixels) << c.stored;
    }
    EXPECT_EQ(pixelSizeProperty(Component{}, "Font.Height", 1000), std::nullopt);
}

// The binary header takes a resource name of any length; the text form cannot carry one
// over 255 bytes back, so toText refuses it instead of writing text that never converts.
TEST(RackText, AResourceNameTheTextCannotCarryIsRefused) {
    const std::string stream = "TPF0" + ss("TForm1") + ss("Form1") + '\0' + '\0';
    const ReadResult longest = read(resource(std::string(255, 'N'), stream));
    ASSERT_TRUE(longest.ok) << longest.message();
    const TextResult back = fromText(toText(longest.doc));
    ASSERT_TRUE(back.ok) << back.message();
    EXPECT_EQ(back.doc, longest.doc);

    const ReadResult tooLong = read(resource(std::string(256, 'N'), stream));
    ASSERT_TRUE(tooLong.ok) << tooLong.message();
    EXPECT_THROW(toText(tooLong.doc), std::invalid_argument);
}

TEST(TerminalRes, BuiltLayoutHasTheTerminalWindowProperties) {
    std::string bytes, why;
    ASSERT_TRUE(nv::readFile(TERMINAL_RES, bytes, why)) << why;
    ReadResult r = read(bytes);
    ASSERT_TRUE(r.ok) << r.message();
    EXPECT_EQ(bytes.substr(0, 13), "\xFF\x0A\0TTERMINAL\0"s);
    EXPECT_EQ(r.doc.memoryFlags, 0x1030);
    std::uint32_t size = static_cast<std::uint8_t>(bytes[15]) |
                         (static_cast<std::uint8_t>(bytes[16]) << 8) |
                         (static_cast<std::uint8_t>(bytes[17]) << 16) |
                         (static_cast<std::uint32_t>(static_cast<std::uint8_t>(bytes[18])) << 24);
    EXPECT_EQ(size, bytes.size() - 19);
    EXPECT_EQ(bytes.substr(19, 4), "TPF0");

    const Component& form = r.doc.root;
    EXPECT_EQ(form.className, "TTerminal");
    EXPECT_EQ(intProperty(form, "ClientWidth"), 246);
    EXPECT_EQ(intProperty(form, "ClientHeight"), 124);
    EXPECT_EQ(identProperty(form, "BorderStyle"), "bsSingle");
    ASSERT_NE(form.property("BorderIcons"), nullptr);
    EXPECT_EQ(form.property("BorderIcons")->value.set,
              (std::vector<std::string>{"biSystemMenu", "biMinimize"}));
    const Component* memo = form.find("Memo1");
    ASSERT_NE(memo, nullptr);
    EXPECT_EQ(memo->className, "TMemo");
    EXPECT_EQ(identProperty(*memo, "Align"), "alClient");
    EXPECT_EQ(colorProperty(*memo, "Color"), 0x000000u);
    EXPECT_EQ(colorProperty(*memo, "Font.Color"), 0x00FF00u);
    EXPECT_EQ(identProperty(*memo, "ScrollBars"), "ssVertical");
    EXPECT_EQ(write(r.doc), bytes);
}

// ---- the norvane-rack tool -------------------------------------------------------------

using nvtest::TempDir;

int run(const std::string& args) {
    int status = std::system(("timeout 20 '" NORVANE_RACK "' " + args).c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::string slurp(const std::string& path) {
    std::string s, why;
    EXPECT_TRUE(nv::readFile(path, s, why)) << why;
    return s;
}

void spit(const std::string& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
}

TEST(RackTool, ConvertsBothWaysByFileAndByPipe) {
    TempDir dir;
    std::string file = richFile();
    spit(dir / "in.res", file);
    ASSERT_EQ(run("to-text " + dir / "in.res" + " " + dir / "out.txt"), 0);
    EXPECT_EQ(slurp(dir / "out.txt"), toText(read(file).doc));
    ASSERT_EQ(run("from-text " + dir / "out.txt" + " " + dir / "back.res"), 0);
    EXPECT_EQ(slurp(dir / "back.res"), file);

    ASSERT_EQ(run("to-text - < " + dir / "in.res" + " | '" NORVANE_RACK "' from-text - > " +
                  dir / "piped.res"),
              0);
    EXPECT_EQ(slurp(dir / "piped.res"), file);
}

TEST(RackTool, FailuresExplainAndLeaveTheOutputAlone) {
    TempDir dir;
    spit(dir / "bad.txt", "object A: TA\n  Left = \nend\n");
    spit(dir / "bad.res", "\xFF\x0A\0X\0\x30\x10\0\0\0\0TPF9"s);
    spit(dir / "keep", "precious");
    EXPECT_EQ(run("from-text " + dir / "bad.txt" + " " + dir / "keep" + " 2> " + dir / "err"), 1);
    EXPECT_EQ(slurp(dir / "keep"), "precious");
    EXPECT_NE(slurp(dir / "err").find("bad.txt:3: expected a value"), std::string::npos)
        << slurp(dir / "err");
    EXPECT_EQ(run("to-text " + dir / "bad.res" + " " + dir / "keep" + " 2> " + dir / "err"), 1);
    EXPECT_EQ(slurp(dir / "keep"), "precious");
    EXPECT_NE(slurp(dir / "err").find("offset 11: expected \"TPF0\""), std::string::npos)
        << slurp(dir / "err");
    EXPECT_EQ(run("to-text " + dir / "missing.res" + " 2> " + dir / "err"), 1);
    EXPECT_NE(slurp(dir / "err").find("No such file"), std::string::npos);
    spit(dir / "good.txt", "object A: TA\nend\n");
    EXPECT_EQ(
        run("from-text " + dir / "good.txt" + " " + dir / "no/such/dir.res 2> " + dir / "err"), 1);
    EXPECT_NE(slurp(dir / "err").find("No such file"), std::string::npos);
    EXPECT_EQ(run("sideways x 2> /dev/null"), 64);
    EXPECT_EQ(run("2> /dev/null"), 64);
    std::error_code ec;
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path, ec), {}), 5)
        << "no temporary files left behind";
}

TEST(RackTool, RefusesWhatItCouldNotConvertBack) {
    TempDir dir;
    const std::string stream = "TPF0" + ss("TForm1") + ss("Form1") + '\0' + '\0';
    spit(dir / "long.res", resource(std::string(300, 'N'), stream));
    spit(dir / "keep", "precious");
    EXPECT_EQ(run("to-text " + dir / "long.res" + " " + dir / "keep" + " 2> " + dir / "err"), 1);
    EXPECT_EQ(slurp(dir / "keep"), "precious");
    EXPECT_NE(slurp(dir / "err").find("resource name longer than 255 bytes"), std::string::npos)
        << slurp(dir / "err");

    // A stream size other than the stream's own would come back corrected, so not the same.
    const std::string file = rootWith(prop("Left", "\x02\x05"));
    for (std::uint32_t stated : {0u, 1u, static_cast<std::uint32_t>(file.size()), 0xFFFFFFFFu}) {
        std::string wrong = file;
        wrong.replace(12, 4, le(stated, 4));
        spit(dir / "size.res", wrong);
        EXPECT_EQ(run("to-text " + dir / "size.res" + " " + dir / "keep" + " 2> " + dir / "err"), 1)
            << stated;
        EXPECT_EQ(slurp(dir / "keep"), "precious");
        EXPECT_NE(slurp(dir / "err")
                      .find("offset 12: the stream size says " + std::to_string(stated) +
                            " bytes, the stream holds " + std::to_string(file.size() - 16)),
                  std::string::npos)
            << slurp(dir / "err");
    }
    spit(dir / "size.res", file);
    EXPECT_EQ(run("to-text " + dir / "size.res" + " " + dir / "t.txt"), 0);
    EXPECT_EQ(run("from-text " + dir / "t.txt" + " " + dir / "back.res"), 0);
    EXPECT_EQ(slurp(dir / "back.res"), file);
}

// An input larger than the memory the tool may use is reported as unreadable (status 1),
// by name and through standard input. The input is a sparse file: big, nothing on disk.
TEST(RackTool, AnInputLargerThanMemoryIsReportedNotAnAbort) {
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "AddressSanitizer needs more address space than the limit leaves";
#endif
    TempDir dir;
    spit(dir / "huge.res", "");
    std::filesystem::resize_file(dir / "huge.res", std::uintmax_t(512) << 20);
    const std::string limit = "prlimit --as=268435456 ";
    for (const std::string& args :
         {"to-text " + dir / "huge.res" + " /dev/null", "to-text - /dev/null < " + dir / "huge.res",
          "from-text " + dir / "huge.res" + " /dev/null"}) {
        const int status = std::system(
            ("timeout 60 " + limit + "'" NORVANE_RACK "' " + args + " 2> " + dir / "err").c_str());
        EXPECT_EQ(WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status), 1) << args;
        EXPECT_NE(slurp(dir / "err").find("larger than the available memory"), std::string::npos)
            << args << ": " << slurp(dir / "err");
    }
}

} // namespace
