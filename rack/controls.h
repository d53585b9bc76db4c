// The rack's controls as data: the class registry (the classes a rack file may name, in the
// order of the table, each with how it is made), one Control record per child of the rack
// window, and the mapping between rack-file properties and the widgets.
//
// Properties of a control fall in two groups. Live properties are read back from the widget
// when the rack is saved, because scripts or the user change them: Left, Top, Width, Height,
// Visible, Hint, the texts (Caption of a label, Text of an edit or drop-down list,
// Lines.Strings of a memo, Items.Strings of a drop-down list), Picture.Data of an image and
// every Qt property an instrument declares. Everything else (Color, Font.*, Enabled on the
// standard classes, and any property the class does not know) is kept exactly as the file
// gave it and written back unchanged after the live ones; the known ones among them are also
// applied to the widget. A control therefore saves its live properties in a fixed order per
// class (bounds, text, the instrument's properties in declaration order, Hint, Visible, the
// lists, the picture), then the kept ones in file order.
//
// Picture.Data of an image is a short string naming the picture's kind followed by the
// picture: "TBitmap" and "TJPEGImage" put the picture's size in 4 bytes (little-endian)
// before the file bytes, as the toolkit the rack files come from does; any other name
// ("TPngImage", "TGIFImage", ...) is followed by the file bytes alone. On reading, the
// size is skipped whenever it equals the number of bytes that follow, whatever the name,
// and the bytes are decoded in any format Qt reads.
//
// Texts are script bytes: they are shown decoded (UTF-8 where valid, else Latin-1) and read
// back as the same bytes unless the user has edited them.
//
// Threading: user-interface thread only. Errors: applyProperty and the picture loaders return
// false (with a reason) and never throw; a failed property leaves the control as it was.
#pragma once

#include <QVariant>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/limits.h"
#include "instruments/scriptaccess.h"
#include "rackfile/componentstream.h"

class QWidget;

namespace nv::rack {

// One class a rack file may name.
struct ControlClass {
    std::string_view name;
    bool instrument; // made by createInstrument (the painted controls)
};
// The registry in its order: the standard classes, then the instruments.
const std::vector<ControlClass>& controlClasses();
const ControlClass* findControlClass(std::string_view className);

// Makes the instruments (createInstrument by default). Tests put a stand-in here; whatever it
// makes must have a ScriptAccess, or the control is refused as not available.
using InstrumentFactory = std::function<QWidget*(std::string_view className, QWidget* parent)>;
void setInstrumentFactory(InstrumentFactory factory);

struct Control {
    std::string className;
    std::string name;
    QWidget* widget = nullptr; // owned by the rack window
    int parent = -1;           // list position of the control that holds it; -1: the window
    // How scripts reach its value, resolved once when it is made: the instrument itself, or
    // ownAccess for the standard classes with a text (label, edit, memo); null for the others.
    ScriptAccess* access = nullptr;
    std::unique_ptr<ScriptAccess> ownAccess;

    std::string text;               // label caption, edit or memo text, combo text (bytes)
    std::vector<std::string> items; // drop-down list items (bytes)
    std::string picture;            // Picture.Data as stored (empty: none)
    long long picturePixels = 0;    // of the picture shown, counted against the rack's budget

    // Width and Height as the file gave them; the widget is given at most
    // limits::kRackDrawnPixels, and the stored value is written back while it stays so.
    std::optional<int> storedWidth;
    std::optional<int> storedHeight;

    std::vector<Property> kept; // verbatim, in file order

    // Qt properties the file set: what it wrote and what that became, so that an unchanged
    // value is written back in the file's own form (clLime stays clLime).
    struct FromFile {
        std::string name;
        Value value;
        QVariant became;
    };
    std::vector<FromFile> fromFile;
};

// A new control of a registered class with its defaults and its script access; null (and a
// reason) when the class is not registered or cannot be made.
std::unique_ptr<Control> createControl(std::string_view className, std::string name,
                                       QWidget* parent, std::string& error);

// Why a picture is refused: past limits::kRackPicturePixels on its own, or past what is left
// of the rack's limits::kRackPictureBudget (the allowance its caller gives).
inline constexpr std::string_view kPictureTooLarge = "picture larger than the limit";
inline constexpr std::string_view kPictureBudgetSpent =
    "pictures of the rack larger than their budget together";

// Applies one property read from a file. False for a value the control refuses (a
// coordinate out of range, a caption or text past the limit of rackfile/textlimit.h, a picture
// too large, past `pictureAllowance` pixels, or unreadable); unknown properties are kept.
// Sizes beyond limits::kRackDrawnPixels are kept for the file but drawn no larger.
bool applyProperty(Control& c, const Property& p, std::string& error,
                   long long pictureAllowance = limits::kRackPictureBudget);

// A size from a rack file as a widget is given it (0 to limits::kRackDrawnPixels), and the
// size to write back: the stored one while the widget still has what it was given.
int drawnSize(int stored);
int storedSize(std::optional<int> stored, int drawn);

// The pixels the picture in a Picture.Data value announces in its header, without decoding
// it; 0 when there is none or the header tells no size.
long long announcedPicturePixels(std::string_view pictureData);

// The control's properties for the file, in the order described above.
std::vector<Property> collectProperties(const Control& c);

// Texts as scripts see them.
std::string controlText(const Control& c);
void setControlText(Control& c, std::string bytes);

// Drop-down list: the current text, and its items replaced by the lines of `text`.
std::string comboText(const Control& c);
void setComboLines(Control& c, std::string_view text);

// Loads a picture file into an image control: any format Qt reads (asBitmap: only BMP).
// False, with the picture unchanged and the reason in `why` when given, when the file is
// missing, unreadable, too large or past `pictureAllowance` pixels.
bool loadPictureFile(Control& c, const std::string& path, bool asBitmap,
                     long long pictureAllowance = limits::kRackPictureBudget,
                     std::string* why = nullptr);

// Colours: a property value (clXxx name or 0x00BBGGRR integer) as a QColor.
bool colorFromValue(const Value& v, QColor& out);

// Makes `holder` the ground the controls stand on, as the rack window is and the designer's
// canvas stands in for it: the rack's colour behind them, and the palette's own window
// roles for the controls to draw with. A control draws its text and fills its background
// with the roles of the widget that holds it unless told otherwise, so a holder inside a
// scroll area (whose ground is the darker role) would otherwise turn every label's colours
// into that area's grey and white, whatever its Color and Font.Color say.
void setRackGround(QWidget* holder, const QColor& color);

} // namespace nv::rack
