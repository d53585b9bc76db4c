// The rack's limits of base/limits.h, each tried at its value and one past it at every place
// that checks it: the rack file readers, the rack window's loader, the setting of a control's
// property, the scripts' text setter and the designer (open, add, paste, moves). One table:
// a row names the limit, the place and whether that place takes a value as it is.
#include <gtest/gtest.h>

#include <QApplication>
#include <QImage>
#include <QTemporaryDir>
#include <fstream>
#include <functional>
#include <string>

#include "base/limits.h"
#include "designer/designmodel.h"
#include "rack/controls.h"
#include "rack/rackwindow.h"
#include "rackfile/racklimits.h"
#include "rackfile/textlimit.h"

using namespace nv;
using nv::designer::DesignModel;

namespace {

struct Limits {
    QTemporaryDir dir;
    int n = 0;

    std::string file(const std::string& bytes) {
        const std::string p = dir.filePath(QString::number(++n) + ".res").toStdString();
        std::ofstream(p, std::ios::binary) << bytes;
        return p;
    }
    // A rack file from the text form.
    std::string rackFile(const std::string& text) {
        const rack::TextResult t = rack::fromText(text);
        EXPECT_TRUE(t.ok) << t.message();
        return file(t.ok ? rack::write(t.doc) : std::string());
    }
    bool loads(const std::string& text) {
        int x = 0, y = 0;
        rack::RackWindow w(x, y);
        std::string error;
        return w.load(rackFile(text), error);
    }
    bool designerOpens(const std::string& text, DesignModel& m) {
        std::string error;
        return m.open(rackFile(text), error);
    }
};

std::string panel(const std::string& rootProperties, const std::string& controls) {
    return "object Panel: TFrmRack\n" + rootProperties + controls + "end\n";
}

// `count` lamps side by side.
std::string lamps(long long count) {
    std::string out;
    for (long long i = 0; i < count; ++i)
        out += "object L" + std::to_string(i) + ": TVrLed\nend\n";
    return out;
}

std::string one(const std::string& cls, const std::string& property, const std::string& value) {
    return "object C: " + cls + "\n  " + property + " = " + value + "\nend\n";
}

std::string quoted(size_t bytes) {
    return "'" + std::string(bytes, 'a') + "'";
}

// `levels` components, each holding the next; the root is the first.
rack::Component nested(long long levels) {
    rack::Component c;
    c.className = "TVrBorder";
    c.name = "B" + std::to_string(levels);
    if (levels > 1) c.children.push_back(nested(levels - 1));
    return c;
}

std::string nestedText(long long levels) {
    std::string open, close;
    for (long long i = 0; i < levels; ++i) {
        open += "object B" + std::to_string(i) + ": TVrBorder\n";
        close += "end\n";
    }
    return open + close;
}

// A BMP file header announcing a picture of `width` by `height` with no pixels after it, as
// Picture.Data of an image ("TBitmap", then its size, then the file).
std::string announcedBitmap(long long width, long long height) {
    std::string bmp = "BM";
    auto put = [&](uint32_t v, int bytes) {
        for (int i = 0; i < bytes; ++i)
            bmp += static_cast<char>((v >> (8 * i)) & 0xFF);
    };
    put(54, 4); // file size (as small as the header)
    put(0, 4);
    put(54, 4); // pixels start
    put(40, 4); // info header size
    put(uint32_t(width), 4);
    put(uint32_t(height), 4);
    put(1, 2);  // planes
    put(24, 2); // bits per pixel
    put(0, 4);
    put(0, 4);
    put(2835, 4);
    put(2835, 4);
    put(0, 4);
    put(0, 4);
    std::string data = "\x07TBitmap";
    const uint32_t n = uint32_t(bmp.size());
    for (int i = 0; i < 4; ++i)
        data += static_cast<char>((n >> (8 * i)) & 0xFF);
    return data + bmp;
}

std::string image(const std::string& name, long long width, long long height) {
    std::string hex;
    static const char* digits = "0123456789ABCDEF";
    for (unsigned char ch : announcedBitmap(width, height)) {
        hex += digits[ch >> 4];
        hex += digits[ch & 15];
    }
    return "object " + name + ": TImage\n  Picture.Data = {" + hex + "}\nend\n";
}

} // namespace

TEST(Limits, EachLimitHoldsAtItsValueAndRefusesOnePastItWhereverItIsChecked) {
    Limits t;
    QWidget holder;
    auto control = [&](const char* cls) {
        std::string error;
        auto c = rack::createControl(cls, "C", &holder, error);
        EXPECT_TRUE(c) << error;
        return c;
    };
    auto setterTakes = [&](const char* cls, const std::string& name, rack::Value v) {
        auto c = control(cls);
        std::string error;
        return rack::applyProperty(*c, {name, std::move(v)}, error);
    };
    // The designer moves a control from one inside the range by one step towards `v`.
    auto designerMovesTo = [&](long long v) {
        DesignModel m;
        const long long from = v > 0 ? v - 1 : v + 1;
        if (!t.designerOpens(panel("", one("TVrLed", "Left", std::to_string(from))), m))
            return false;
        m.moveBy({0}, v > 0 ? 1 : -1, 0);
        return m.rect(0).x == v;
    };
    auto designerPastes = [&](const std::string& opened, const std::string& pasted) {
        DesignModel m;
        if (!t.designerOpens(panel("", opened), m)) return false;
        std::string error;
        return m.paste(pasted, error);
    };
    auto coordinate = [](long long v) { return std::to_string(v); };

    struct Row {
        const char* limit;
        const char* place;
        long long value;
        int past; // +1 or -1: the direction in which the limit is passed
        std::function<bool(long long)> takes;
    };
    const long long controls = limits::kRackControls;
    const long long coord = limits::kRackCoordinate;
    const long long text = static_cast<long long>(limits::kRackText);
    const Row rows[] = {
        {"kRackControls", "loader", controls, 1,
         [&](long long v) { return t.loads(panel("", lamps(v))); }},
        {"kRackControls", "designer open", controls, 1,
         [&](long long v) {
             DesignModel m;
             return t.designerOpens(panel("", lamps(v)), m);
         }},
        {"kRackControls", "designer add", controls, 1,
         [&](long long v) {
             DesignModel m;
             return t.designerOpens(panel("", lamps(v - 1)), m) &&
                    m.add("TVrLed", {0, 0, 10, 10}) >= 0;
         }},
        {"kRackControls", "designer paste", controls, 1,
         [&](long long v) { return designerPastes(lamps(v - 1), "object P: TVrLed\nend\n"); }},
        {"kRackCoordinate", "loader, control position", coord, 1,
         [&](long long v) { return t.loads(panel("", one("TVrLed", "Left", coordinate(v)))); }},
        {"kRackCoordinate", "loader, control position", -coord, -1,
         [&](long long v) { return t.loads(panel("", one("TVrLed", "Top", coordinate(v)))); }},
        {"kRackCoordinate", "loader, control size", coord, 1,
         [&](long long v) { return t.loads(panel("", one("TVrLed", "Width", coordinate(v)))); }},
        {"kRackCoordinate", "loader, window position", -coord, -1,
         [&](long long v) { return t.loads(panel("  Left = " + coordinate(v) + "\n", "")); }},
        {"kRackCoordinate", "loader, window size", coord, 1,
         [&](long long v) {
             return t.loads(panel("  ClientWidth = " + coordinate(v) + "\n", lamps(1)));
         }},
        {"kRackCoordinate", "setter", coord, 1,
         [&](long long v) { return setterTakes("TLabel", "Height", rack::intValue(v)); }},
        {"kRackCoordinate", "designer move", coord, 1, designerMovesTo},
        {"kRackCoordinate", "designer move", -coord, -1, designerMovesTo},
        {"kRackCoordinate", "designer paste", coord, 1,
         [&](long long v) { return designerPastes("", one("TVrLed", "Left", coordinate(v))); }},
        {"kRackText", "loader", text, 1,
         [&](long long v) { return t.loads(panel("", one("TLabel", "Caption", quoted(v)))); }},
        {"kRackText", "setter", text, 1,
         [&](long long v) {
             return setterTakes("TVrMatrix", "Text", rack::stringValue(std::string(v, 'a')));
         }},
        {"kRackText", "scripts' text setter", text, 1,
         [&](long long v) {
             std::string error;
             return rack::checkControlText(std::string(v, 'a'), error);
         }},
        {"kRackText", "designer paste", text, 1,
         [&](long long v) { return designerPastes("", one("TLabel", "Caption", quoted(v))); }},
        {"kRackDrawnPixels", "drawn size", limits::kRackDrawnPixels, 1,
         [&](long long v) { return rack::drawnSize(int(v)) == v; }},
        {"kMemoText", "memo set by a script", static_cast<long long>(limits::kMemoText), 1,
         [&](long long v) {
             auto c = control("TMemo");
             rack::setControlText(*c, std::string(v, 'a'));
             return rack::controlText(*c).size() == size_t(v);
         }},
        {"kMaxFontPixels", "control font height", limits::kMaxFontPixels, 1,
         [&](long long v) {
             auto c = control("TLabel");
             std::string error;
             rack::applyProperty(*c, {"Font.Height", rack::intValue(v)}, error);
             return c->widget->font().pixelSize() == v;
         }},
        {"kComponentDepth", "text reader", limits::kComponentDepth, 1,
         [&](long long v) { return rack::fromText(nestedText(v)).ok; }},
        {"kComponentDepth", "binary reader", limits::kComponentDepth, 1,
         [&](long long v) { return rack::read(rack::write(rack::makeDocument(nested(v)))).ok; }},
        {"kRackPicturePixels", "loader, announced picture", limits::kRackPicturePixels, 1,
         [&](long long v) { return t.loads(panel("", image("I", v, 1))); }},
        {"kRackPictureBudget", "loader, announced pictures together", limits::kRackPictureBudget, 1,
         [&](long long v) {
             const long long first = limits::kRackPicturePixels;
             return t.loads(panel("", image("I1", first, 1) + image("I2", v - first, 1)));
         }},
        // What is left of the budget when a picture comes: a small allowance stands for it,
        // since pictures the size of the budget would cost half a gigabyte to decode.
        {"kRackPictureBudget", "picture within what is left of it", 100, 1,
         [&](long long v) {
             const std::string png = t.dir.filePath("wide.png").toStdString();
             QImage(int(v), 1, QImage::Format_RGB32).save(QString::fromStdString(png));
             auto c = control("TImage");
             return rack::loadPictureFile(*c, png, false, 100);
         }},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(std::string(row.limit) + " at the " + row.place);
        EXPECT_TRUE(row.takes(row.value)) << "at " << row.value;
        EXPECT_FALSE(row.takes(row.value + row.past)) << "at " << row.value + row.past;
    }
}
