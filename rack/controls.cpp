#include "rack/controls.h"

#include <QBuffer>
#include <QColor>
#include <QComboBox>
#include <QFontDatabase>
#include <QImageReader>
#include <QLabel>
#include <QLineEdit>
#include <QMetaProperty>
#include <QPlainTextEdit>
#include <QScrollBar>
#include <QTextCursor>
#include <algorithm>
#include <map>

#include "base/ascii.h"
#include "base/files.h"
#include "base/limits.h"
#include "base/utf8.h"
#include "baseqt/displaytext.h"
#include "instruments/instruments.h"
#include "rackfile/racklimits.h"
#include "rackfile/textlimit.h"

namespace nv::rack {
namespace {

InstrumentFactory& factory() {
    static InstrumentFactory f = [](std::string_view cls, QWidget* parent) {
        return createInstrument(cls, parent);
    };
    return f;
}

bool is(std::string_view a, std::string_view b) {
    return equalsNoCase(a, b);
}

// A text as the widget shows it; a memo shows line breaks of any convention as its own.
QString shown(const Control& c, std::string_view bytes) {
    QString s = displayText(bytes);
    if (c.className == "TMemo") {
        s.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
        s.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    }
    return s;
}

// The stored bytes while the widget still shows them, else what the user made of them.
std::string bytesFor(const Control& c, const QString& current, const std::string& stored) {
    if (current == shown(c, stored)) return stored;
    return current.toUtf8().toStdString();
}

// Lines as the toolkit splits a text: at CR LF, LF or CR; a final break ends the last line
// and adds no empty one.
std::vector<std::string> splitAtBreaks(std::string_view text) {
    std::vector<std::string> out;
    std::string cur;
    for (size_t i = 0; i < text.size(); ++i) {
        const char ch = text[i];
        if (ch == '\r' || ch == '\n') {
            out.push_back(std::move(cur));
            cur.clear();
            if (ch == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
        } else {
            cur += ch;
        }
    }
    if (!cur.empty()) out.push_back(std::move(cur));
    return out;
}

std::string joinLines(const std::vector<std::string>& lines) {
    std::string out;
    for (size_t i = 0; i < lines.size(); ++i) {
        if (i) out += "\r\n";
        out += lines[i];
    }
    return out;
}

bool isIdentifier(std::string_view s) {
    if (s.empty()) return false;
    for (size_t i = 0; i < s.size(); ++i) {
        const unsigned char ch = static_cast<unsigned char>(s[i]);
        if (!(std::isalpha(ch) || ch == '_' || (i > 0 && std::isdigit(ch)))) return false;
    }
    return true;
}

// ---- pictures ----

std::string_view pictureKind(const QByteArray& format) {
    if (format == "bmp") return "TBitmap";
    if (format == "jpeg" || format == "jpg") return "TJPEGImage";
    if (format == "png") return "TPngImage";
    if (format == "gif") return "TGIFImage";
    return "TPicture";
}

bool sizePrefixed(std::string_view kind) {
    return kind == "TBitmap" || kind == "TJPEGImage";
}

std::string pictureData(std::string_view kind, std::string_view fileBytes) {
    std::string out;
    out += static_cast<char>(kind.size());
    out += kind;
    if (sizePrefixed(kind)) {
        const uint32_t n = static_cast<uint32_t>(fileBytes.size());
        for (int i = 0; i < 4; ++i)
            out += static_cast<char>((n >> (8 * i)) & 0xFF);
    }
    out += fileBytes;
    return out;
}

// The picture's file bytes inside Picture.Data.
std::string_view pictureBytes(std::string_view data) {
    if (data.empty()) return {};
    const size_t nameLen = static_cast<unsigned char>(data[0]);
    if (data.size() < 1 + nameLen) return {};
    std::string_view rest = data.substr(1 + nameLen);
    if (rest.size() >= 4) {
        uint32_t n = 0;
        for (int i = 0; i < 4; ++i)
            n |= uint32_t(static_cast<unsigned char>(rest[i])) << (8 * i);
        if (n == rest.size() - 4) rest.remove_prefix(4);
    }
    return rest;
}

long long pixelsOf(QSize size) {
    return size.isValid() ? static_cast<long long>(size.width()) * size.height() : 0;
}

// Whether `pixels` more fit the picture limit and what is left of the rack's budget.
bool picturePixelsFit(long long pixels, long long allowance, std::string& error) {
    if (pixels > limits::kRackPicturePixels) {
        error = std::string(kPictureTooLarge);
        return false;
    }
    if (pixels > allowance) {
        error = std::string(kPictureBudgetSpent);
        return false;
    }
    return true;
}

// Decodes picture bytes, refusing a picture whose header announces more pixels than the
// limit or the rack's budget allows before anything of that size is allocated.
bool decodePicture(std::string_view bytes, QImage& image, QByteArray& format, std::string& error,
                   long long allowance) {
    QByteArray data(bytes.data(), static_cast<qsizetype>(bytes.size()));
    QBuffer buffer(&data);
    buffer.open(QIODevice::ReadOnly);
    QImageReader reader(&buffer);
    if (!picturePixelsFit(pixelsOf(reader.size()), allowance, error)) return false;
    format = reader.format();
    if (!reader.read(&image) || image.isNull()) {
        error = "picture not readable";
        return false;
    }
    if (!picturePixelsFit(pixelsOf(image.size()), allowance, error)) {
        image = QImage();
        return false;
    }
    return true;
}

void showPicture(Control& c, const QImage& image) {
    c.picturePixels = image.isNull() ? 0 : pixelsOf(image.size());
    if (auto* l = qobject_cast<QLabel*>(c.widget)) l->setPixmap(QPixmap::fromImage(image));
}

// ---- values ----

bool toVariant(const Value& v, QMetaType type, QVariant& out) {
    switch (type.id()) {
    case QMetaType::Int: {
        const auto i = asInteger(v);
        if (!i) return false;
        out = static_cast<int>(std::clamp<std::int64_t>(*i, INT32_MIN, INT32_MAX));
        return true;
    }
    case QMetaType::Double: {
        const auto r = asReal(v);
        if (!r) return false;
        out = static_cast<double>(*r);
        return true;
    }
    case QMetaType::Bool: {
        const auto b = asBool(v);
        if (!b) return false;
        out = *b;
        return true;
    }
    case QMetaType::QColor: {
        QColor c;
        if (!colorFromValue(v, c)) return false;
        out = c;
        return true;
    }
    case QMetaType::QByteArray: {
        const auto t = asText(v);
        if (!t) return false;
        out = QByteArray(t->data(), static_cast<qsizetype>(t->size()));
        return true;
    }
    case QMetaType::QString: {
        auto t = asIdent(v);
        if (!t) t = asText(v);
        if (!t) return false;
        out = QString::fromUtf8(t->data(), static_cast<qsizetype>(t->size()));
        return true;
    }
    case QMetaType::QStringList: {
        QStringList l;
        if (v.type == VType::Set) {
            for (const auto& e : v.set)
                l << QString::fromStdString(e);
        } else if (v.type == VType::List) {
            for (const auto& e : v.list) {
                const auto t = asText(e);
                if (!t) return false;
                l << QString::fromStdString(*t);
            }
        } else {
            return false;
        }
        out = l;
        return true;
    }
    default:
        return false;
    }
}

std::optional<Value> fromVariant(const QVariant& q) {
    switch (q.metaType().id()) {
    case QMetaType::Int:
        return intValue(q.toInt());
    case QMetaType::Double:
        return extendedValue(q.toDouble());
    case QMetaType::Bool:
        return boolValue(q.toBool());
    case QMetaType::QColor: {
        const QColor c = q.value<QColor>();
        return intValue(static_cast<std::int64_t>(c.red()) | (c.green() << 8) | (c.blue() << 16));
    }
    case QMetaType::QByteArray:
        return stringValue(q.toByteArray().toStdString());
    case QMetaType::QString: {
        const std::string s = q.toString().toStdString();
        return isIdentifier(s) ? identValue(s) : stringValue(s);
    }
    case QMetaType::QStringList: {
        std::vector<Value> items;
        for (const QString& s : q.toStringList())
            items.push_back(stringValue(s.toStdString()));
        return listValue(std::move(items));
    }
    default:
        return std::nullopt;
    }
}

// The Qt properties an instrument declares for the rack file, in declaration order.
std::vector<QMetaProperty> ownProperties(const QWidget* w) {
    std::vector<QMetaProperty> out;
    const QMetaObject* mo = w->metaObject();
    for (int i = QWidget::staticMetaObject.propertyCount(); i < mo->propertyCount(); ++i)
        if (mo->property(i).isWritable()) out.push_back(mo->property(i));
    return out;
}

int findOwnProperty(const QWidget* w, std::string_view name) {
    const QMetaObject* mo = w->metaObject();
    for (int i = QWidget::staticMetaObject.propertyCount(); i < mo->propertyCount(); ++i)
        if (is(mo->property(i).name(), name)) return i;
    return -1;
}

// The values of a freshly made instrument: only what differs from them is saved.
const std::map<std::string, QVariant>& instrumentDefaults(const std::string& cls) {
    static std::map<std::string, std::map<std::string, QVariant>> cache;
    auto it = cache.find(cls);
    if (it != cache.end()) return it->second;
    std::map<std::string, QVariant> values;
    QWidget holder;
    if (QWidget* w = factory()(cls, &holder))
        for (const QMetaProperty& p : ownProperties(w))
            values[p.name()] = p.read(w);
    return cache.emplace(cls, std::move(values)).first->second;
}

void keep(Control& c, const Property& p) {
    for (Property& k : c.kept)
        if (is(k.name, p.name)) {
            k.value = p.value;
            return;
        }
    c.kept.push_back(p);
}

void applyFont(QWidget* w, const Property& p) {
    QFont f = w->font();
    const std::string_view n = std::string_view(p.name).substr(5);
    if (is(n, "Name")) {
        if (const auto t = asText(p.value)) {
            const QString family = QString::fromStdString(*t);
            f.setFamilies({family});
            // Rack files come from desktops with other fonts; a missing family takes the
            // closest kind the system has.
            if (!QFontDatabase::hasFamily(family)) {
                const std::string lower = lowerAscii(*t);
                const bool mono = lower.find("courier") != std::string::npos ||
                                  lower.find("mono") != std::string::npos ||
                                  lower.find("console") != std::string::npos;
                f.setStyleHint(mono ? QFont::Monospace : QFont::SansSerif);
                f.setFamilies({family, mono ? QStringLiteral("DejaVu Sans Mono")
                                            : QStringLiteral("DejaVu Sans")});
            }
        }
    } else if (is(n, "Height")) {
        if (const auto i = asInteger(p.value); i && *i != 0)
            f.setPixelSize(
                static_cast<int>(std::min<std::int64_t>(std::abs(*i), limits::kMaxFontPixels)));
    } else if (is(n, "Size")) {
        if (const auto i = asInteger(p.value); i && *i != 0)
            f.setPointSize(
                static_cast<int>(std::min<std::int64_t>(std::abs(*i), limits::kMaxFontPixels)));
    } else if (is(n, "Style")) {
        if (p.value.type == VType::Set) {
            auto has = [&](std::string_view e) {
                return std::any_of(p.value.set.begin(), p.value.set.end(),
                                   [&](const std::string& s) { return is(s, e); });
            };
            f.setBold(has("fsBold"));
            f.setItalic(has("fsItalic"));
            f.setUnderline(has("fsUnderline"));
            f.setStrikeOut(has("fsStrikeOut"));
        }
    } else if (is(n, "Color")) {
        QColor col;
        if (colorFromValue(p.value, col)) {
            QPalette pal = w->palette();
            pal.setColor(QPalette::WindowText, col);
            pal.setColor(QPalette::Text, col);
            w->setPalette(pal);
        }
        return;
    }
    w->setFont(f);
}

// A line edit keeps 32767 characters unless told otherwise and cuts longer texts without a
// word: it must hold every text the limit allows (bytes never decode to more characters).
void holdWholeText(QLineEdit* e) {
    e->setMaxLength(static_cast<int>(limits::kRackText));
}
void holdWholeText(QComboBox* box) {
    if (QLineEdit* e = box->lineEdit()) holdWholeText(e);
}

// What scripts reach of a standard control: its text, kept in the control's record.
class TextAccess : public ScriptAccess {
  public:
    TextAccess(Control& c, Kind kind, std::string_view readError, std::string_view setError)
        : c_(c), kind_(kind), readError_(readError), setError_(setError) {}
    Kind scriptKind() const override { return kind_; }
    std::string_view readError() const override { return readError_; }
    std::string_view setError() const override { return setError_; }
    std::string scriptText() const override { return controlText(c_); }
    void setScriptText(std::string bytes) override { setControlText(c_, std::move(bytes)); }

  private:
    Control& c_;
    Kind kind_;
    std::string_view readError_;
    std::string_view setError_;
};

std::unique_ptr<ScriptAccess> standardAccess(Control& c) {
    using Kind = ScriptAccess::Kind;
    if (c.className == "TLabel")
        return std::make_unique<TextAccess>(c, Kind::Text, "Label: error reading text.",
                                            "Label: error changing text.");
    if (c.className == "TEdit")
        return std::make_unique<TextAccess>(c, Kind::Text, "Edit: error reading text.",
                                            "Edit: error changing text.");
    if (c.className == "TMemo")
        return std::make_unique<TextAccess>(c, Kind::Log, "Memo: error reading text.",
                                            "Memo: error changing text.");
    return nullptr;
}

} // namespace

void setInstrumentFactory(InstrumentFactory f) {
    factory() = std::move(f);
}

const std::vector<ControlClass>& controlClasses() {
    static const std::vector<ControlClass> table = {
        {"TLabel", false},        {"TEdit", false},      {"TMemo", false},
        {"TComboBox", false},     {"TImage", false},     {"TVrSlider", true},
        {"TVrTrackBar", true},    {"TVrSwitch", true},   {"TVrLed", true},
        {"TVrCheckLed", true},    {"TVrMatrix", true},   {"TVrPowerButton", true},
        {"TVrDB", true},          {"TVrMeter", true},    {"TVrAngularMeter", true},
        {"TVrPowerMeter", true},  {"TVrNum", true},      {"TVrSpinner", true},
        {"TVrProgressBar", true}, {"TVrScope", true},    {"TLcd", true},
        {"TVrBorder", true},      {"TVrGradient", true},
    };
    return table;
}

const ControlClass* findControlClass(std::string_view className) {
    for (const ControlClass& c : controlClasses())
        if (c.name == className) return &c;
    return nullptr;
}

void setRackGround(QWidget* holder, const QColor& color) {
    holder->setBackgroundRole(QPalette::Window);
    holder->setForegroundRole(QPalette::WindowText);
    QPalette pal = holder->palette();
    pal.setColor(QPalette::Window, color);
    holder->setPalette(pal);
}

bool colorFromValue(const Value& v, QColor& out) {
    const auto rgb = asColor(v);
    if (!rgb) return false;
    out = QColor::fromRgb(static_cast<QRgb>(*rgb));
    return true;
}

std::unique_ptr<Control> createControl(std::string_view className, std::string name,
                                       QWidget* parent, std::string& error) {
    const ControlClass* cls = findControlClass(className);
    if (!cls) {
        error = "class " + std::string(className) + " not found";
        return nullptr;
    }
    auto c = std::make_unique<Control>();
    c->className = std::string(cls->name);
    c->name = std::move(name);
    QWidget* w = nullptr;
    if (cls->instrument) {
        w = factory()(cls->name, parent);
    } else if (cls->name == "TLabel") {
        auto* l = new QLabel(parent);
        l->setTextFormat(Qt::PlainText);
        l->setAlignment(Qt::AlignLeft | Qt::AlignTop);
        w = l;
    } else if (cls->name == "TEdit") {
        auto* e = new QLineEdit(parent);
        holdWholeText(e);
        w = e;
    } else if (cls->name == "TMemo") {
        w = new QPlainTextEdit(parent);
    } else if (cls->name == "TComboBox") {
        auto* box = new QComboBox(parent);
        box->setEditable(true); // a drop-down list accepts typed text unless its style says not
        box->setInsertPolicy(QComboBox::NoInsert);
        holdWholeText(box);
        w = box;
    } else if (cls->name == "TImage") {
        auto* l = new QLabel(parent);
        l->setAlignment(Qt::AlignLeft | Qt::AlignTop);
        w = l;
    }
    if (cls->instrument) {
        c->access = dynamic_cast<ScriptAccess*>(w);
        if (!c->access) {
            delete w;
            w = nullptr;
        }
    }
    if (!w) {
        error = "class " + std::string(className) + " not available";
        return nullptr;
    }
    w->setObjectName(QString::fromStdString(c->name));
    w->show();
    c->widget = w;
    if (!cls->instrument) {
        c->ownAccess = standardAccess(*c);
        c->access = c->ownAccess.get();
    }
    return c;
}

bool applyProperty(Control& c, const Property& p, std::string& error, long long pictureAllowance) {
    QWidget* w = c.widget;
    const std::string& n = p.name;
    if (!checkTextProperty(p, error)) return false;
    QRect g = w->geometry();
    int v = 0;
    if (is(n, "Left") || is(n, "Top") || is(n, "Width") || is(n, "Height")) {
        if (!coordinateOf(p.value, v, error)) return false;
        if (is(n, "Left")) g.moveLeft(v);
        if (is(n, "Top")) g.moveTop(v);
        if (is(n, "Width")) {
            c.storedWidth = v;
            g.setWidth(drawnSize(v));
        }
        if (is(n, "Height")) {
            c.storedHeight = v;
            g.setHeight(drawnSize(v));
        }
        w->setGeometry(g);
        return true;
    }
    if (is(n, "Visible")) {
        if (const auto b = asBool(p.value)) {
            w->setVisible(*b);
            return true;
        }
        keep(c, p);
        return true;
    }
    if (is(n, "Hint")) {
        if (const auto t = asText(p.value)) {
            w->setToolTip(displayText(*t));
            return true;
        }
        keep(c, p);
        return true;
    }
    // Instruments: their own properties first (Color is one of them where they draw it).
    // The standard controls' Qt properties only share names with the file's (Text,
    // MaxLength) and mean other things: they are never set by name.
    const bool instrument = findControlClass(c.className)->instrument;
    const int qi = instrument ? findOwnProperty(w, n) : -1;
    if (qi >= 0) {
        const QMetaProperty mp = w->metaObject()->property(qi);
        QVariant q;
        if (toVariant(p.value, mp.metaType(), q) && mp.write(w, q)) {
            const QVariant became = mp.read(w);
            auto it = std::find_if(c.fromFile.begin(), c.fromFile.end(),
                                   [&](const Control::FromFile& f) { return is(f.name, n); });
            if (it != c.fromFile.end())
                *it = {mp.name(), p.value, became};
            else
                c.fromFile.push_back({mp.name(), p.value, became});
            return true;
        }
        keep(c, p);
        return true;
    }
    const std::string& cls = c.className;
    if ((cls == "TLabel" && is(n, "Caption")) || (cls == "TEdit" && is(n, "Text")) ||
        (cls == "TComboBox" && is(n, "Text"))) {
        if (const auto t = asText(p.value)) {
            if (cls == "TComboBox") {
                c.text = *t;
                static_cast<QComboBox*>(w)->setEditText(displayText(*t));
            } else {
                setControlText(c, *t);
            }
            return true;
        }
    } else if ((cls == "TMemo" && is(n, "Lines.Strings")) ||
               (cls == "TComboBox" && is(n, "Items.Strings"))) {
        if (p.value.type == VType::List) {
            std::vector<std::string> lines;
            for (const Value& e : p.value.list) {
                const auto t = asText(e);
                if (!t) {
                    keep(c, p);
                    return true;
                }
                lines.push_back(*t);
            }
            if (cls == "TMemo") {
                setControlText(c, joinLines(lines));
            } else {
                auto* box = static_cast<QComboBox*>(w);
                const QString edit = box->currentText();
                c.items = lines;
                box->clear();
                for (const auto& l : lines)
                    box->addItem(displayText(l));
                box->setCurrentIndex(-1);
                box->setEditText(edit);
            }
            return true;
        }
    } else if (cls == "TImage" && is(n, "Picture.Data")) {
        if (p.value.type == VType::Binary) {
            QImage image;
            QByteArray format;
            if (!p.value.bytes.empty() && !decodePicture(pictureBytes(p.value.bytes), image, format,
                                                         error, pictureAllowance)) {
                if (error == kPictureTooLarge || error == kPictureBudgetSpent) return false;
                // A picture this program cannot decode is kept for the file all the same.
            }
            c.picture = p.value.bytes;
            showPicture(c, image);
            return true;
        }
    } else if (!findControlClass(cls)->instrument) {
        if (is(n, "Color")) {
            QColor col;
            if (colorFromValue(p.value, col)) {
                QPalette pal = w->palette();
                pal.setColor(QPalette::Window, col);
                pal.setColor(QPalette::Base, col);
                w->setPalette(pal);
                w->setAutoFillBackground(true);
            }
        } else if (is(n, "Enabled")) {
            if (const auto b = asBool(p.value)) w->setEnabled(*b);
        } else if (is(n, "Stretch") && cls == "TImage") {
            if (const auto b = asBool(p.value)) static_cast<QLabel*>(w)->setScaledContents(*b);
        } else if (is(n, "Style") && cls == "TComboBox") {
            if (const auto id = asIdent(p.value)) {
                auto* box = static_cast<QComboBox*>(w);
                box->setEditable(*id != "csDropDownList");
                holdWholeText(box);
            }
        } else if (is(n, "ReadOnly") && (cls == "TEdit" || cls == "TMemo")) {
            if (const auto b = asBool(p.value)) {
                if (auto* e = qobject_cast<QLineEdit*>(w)) e->setReadOnly(*b);
                if (auto* m = qobject_cast<QPlainTextEdit*>(w)) m->setReadOnly(*b);
            }
        } else if (is(n, "WordWrap") && cls == "TLabel") {
            if (const auto b = asBool(p.value)) static_cast<QLabel*>(w)->setWordWrap(*b);
        }
    }
    if (startsWithNoCase(n, "Font.")) applyFont(w, p);
    if (is(n, "Enabled")) {
        if (const auto b = asBool(p.value)) w->setEnabled(*b);
    }
    keep(c, p);
    return true;
}

std::vector<Property> collectProperties(const Control& c) {
    std::vector<Property> out;
    const QWidget* w = c.widget;
    const QRect g = w->geometry();
    out.push_back({"Left", intValue(g.x())});
    out.push_back({"Top", intValue(g.y())});
    out.push_back({"Width", intValue(storedSize(c.storedWidth, g.width()))});
    out.push_back({"Height", intValue(storedSize(c.storedHeight, g.height()))});
    const std::string& cls = c.className;
    if (cls == "TLabel") {
        const std::string t = controlText(c);
        if (!t.empty()) out.push_back({"Caption", stringValue(t)});
    } else if (cls == "TEdit" || cls == "TComboBox") {
        const std::string t = cls == "TEdit" ? controlText(c) : comboText(c);
        if (!t.empty()) out.push_back({"Text", stringValue(t)});
    }
    if (findControlClass(cls)->instrument) {
        const auto& defaults = instrumentDefaults(cls);
        for (const QMetaProperty& mp : ownProperties(w)) {
            const QVariant cur = mp.read(w);
            auto ff = std::find_if(c.fromFile.begin(), c.fromFile.end(),
                                   [&](const Control::FromFile& f) { return f.name == mp.name(); });
            if (ff != c.fromFile.end() && ff->became == cur) {
                out.push_back({mp.name(), ff->value});
                continue;
            }
            auto d = defaults.find(mp.name());
            if (d != defaults.end() && d->second == cur) continue;
            if (auto v = fromVariant(cur)) out.push_back({mp.name(), std::move(*v)});
        }
    }
    const std::string hint = w->toolTip().toUtf8().toStdString();
    if (!hint.empty()) out.push_back({"Hint", stringValue(hint)});
    if (w->isHidden()) out.push_back({"Visible", boolValue(false)});
    if (cls == "TMemo") {
        const auto lines = splitAtBreaks(controlText(c));
        if (!lines.empty()) {
            std::vector<Value> values;
            for (const auto& l : lines)
                values.push_back(stringValue(l));
            out.push_back({"Lines.Strings", listValue(std::move(values))});
        }
    } else if (cls == "TComboBox" && !c.items.empty()) {
        std::vector<Value> values;
        for (const auto& l : c.items)
            values.push_back(stringValue(l));
        out.push_back({"Items.Strings", listValue(std::move(values))});
    } else if (cls == "TImage" && !c.picture.empty()) {
        out.push_back({"Picture.Data", binaryValue(c.picture)});
    }
    for (const Property& p : c.kept)
        out.push_back(p);
    return out;
}

std::string controlText(const Control& c) {
    if (auto* l = qobject_cast<const QLabel*>(c.widget)) return bytesFor(c, l->text(), c.text);
    if (auto* e = qobject_cast<const QLineEdit*>(c.widget)) return bytesFor(c, e->text(), c.text);
    if (auto* m = qobject_cast<const QPlainTextEdit*>(c.widget))
        return bytesFor(c, m->toPlainText(), c.text);
    return c.widget->property("Text").toByteArray().toStdString();
}

void setControlText(Control& c, std::string bytes) {
    if (auto* m = qobject_cast<QPlainTextEdit*>(c.widget)) {
        if (bytes.size() > limits::kMemoText) {
            size_t cut = bytes.size() - limits::kMemoText;
            // UTF-8 text is cut before a character, not inside one, so that it still shows
            // as UTF-8.
            if (isValidUtf8(bytes))
                while (cut < bytes.size() &&
                       (static_cast<unsigned char>(bytes[cut]) & 0xC0) == 0x80)
                    ++cut;
            bytes.erase(0, cut);
        }
        c.text = std::move(bytes);
        m->setPlainText(shown(c, c.text));
        // Scripts log into memos: the newest line must be in view, the caret after it.
        QTextCursor cur = m->textCursor();
        cur.movePosition(QTextCursor::End);
        m->setTextCursor(cur);
        m->verticalScrollBar()->setValue(m->verticalScrollBar()->maximum());
        return;
    }
    c.text = std::move(bytes);
    if (auto* l = qobject_cast<QLabel*>(c.widget))
        l->setText(shown(c, c.text));
    else if (auto* e = qobject_cast<QLineEdit*>(c.widget))
        e->setText(shown(c, c.text));
}

std::string comboText(const Control& c) {
    auto* box = qobject_cast<const QComboBox*>(c.widget);
    if (!box) return {};
    const int i = box->currentIndex();
    const QString cur = box->currentText();
    if (i >= 0 && static_cast<size_t>(i) < c.items.size() && cur == box->itemText(i))
        return c.items[static_cast<size_t>(i)];
    return bytesFor(c, cur, c.text);
}

void setComboLines(Control& c, std::string_view text) {
    auto* box = qobject_cast<QComboBox*>(c.widget);
    if (!box) return;
    c.items = splitAtBreaks(text);
    box->clear();
    for (const auto& l : c.items)
        box->addItem(displayText(l));
    if (!c.items.empty()) {
        box->setCurrentIndex(0);
        c.text = c.items.front();
    } else {
        box->setCurrentIndex(-1);
        box->setEditText(QString());
        c.text.clear();
    }
}

int drawnSize(int stored) {
    return std::clamp(stored, 0, limits::kRackDrawnPixels);
}

int storedSize(std::optional<int> stored, int drawn) {
    return stored && drawn == drawnSize(*stored) ? *stored : drawn;
}

long long announcedPicturePixels(std::string_view pictureData) {
    const std::string_view bytes = pictureBytes(pictureData);
    QByteArray data(bytes.data(), static_cast<qsizetype>(bytes.size()));
    QBuffer buffer(&data);
    buffer.open(QIODevice::ReadOnly);
    return pixelsOf(QImageReader(&buffer).size());
}

bool loadPictureFile(Control& c, const std::string& path, bool asBitmap, long long pictureAllowance,
                     std::string* why) {
    std::string bytes, ignored;
    std::string& error = why ? *why : ignored;
    if (!nv::readFile(path, bytes, error, {.regularOnly = true})) return false;
    QImage image;
    QByteArray format;
    if (!decodePicture(bytes, image, format, error, pictureAllowance)) return false;
    if (asBitmap && format != "bmp") {
        error = "not a bitmap";
        return false;
    }
    c.picture = pictureData(pictureKind(format), bytes);
    showPicture(c, image);
    return true;
}

} // namespace nv::rack
