#include "designer/propertypanel.h"

#include <QCheckBox>
#include <QColorDialog>
#include <QComboBox>
#include <QDialog>
#include <QDialogButtonBox>
#include <QDoubleSpinBox>
#include <QFileDialog>
#include <QFontDialog>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QMetaProperty>
#include <QPainter>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QToolButton>
#include <QVBoxLayout>
#include <climits>
#include <map>

#include "baseqt/displaytext.h"
#include "base/limits.h"
#include "rack/controls.h"
#include "designer/designcanvas.h"
#include "designer/designmodel.h"

namespace nv::designer {

using rack::Value;

namespace {

// The named colours of rack files, offered first in every colour editor.
const std::vector<std::pair<const char*, QRgb>>& namedColours() {
    static const std::vector<std::pair<const char*, QRgb>> c = {
        {"clBlack", 0x000000}, {"clMaroon", 0x800000},  {"clGreen", 0x008000},
        {"clOlive", 0x808000}, {"clNavy", 0x000080},    {"clPurple", 0x800080},
        {"clTeal", 0x008080},  {"clGray", 0x808080},    {"clSilver", 0xC0C0C0},
        {"clRed", 0xFF0000},   {"clLime", 0x00FF00},    {"clYellow", 0xFFFF00},
        {"clBlue", 0x0000FF},  {"clFuchsia", 0xFF00FF}, {"clAqua", 0x00FFFF},
        {"clWhite", 0xFFFFFF},
    };
    return c;
}

QIcon swatch(const QColor& c) {
    QPixmap pm(16, 16);
    pm.fill(c.isValid() ? c : QColor(Qt::transparent));
    QPainter p(&pm);
    p.setPen(Qt::gray);
    p.drawRect(0, 0, 15, 15);
    if (!c.isValid()) p.drawLine(0, 15, 15, 0);
    return QIcon(pm);
}

// Ranges of the instruments' whole numbers where they have one of their own; the control
// clamps anything else itself.
std::pair<int, int> rangeOf(const std::string& name) {
    static const std::map<std::string, std::pair<int, int>> r = {
        {"TickCount", {0, 1000}},  {"Segments", {2, 100}},  {"Cells", {1, 256}},
        {"Positions", {1, 100}},   {"Digits", {1, 10}},     {"Channels", {1, 4}},
        {"Interval", {1, 100000}}, {"GridSize", {0, 1000}}, {"BevelWidth", {0, 100}},
        {"Columns", {1, 256}},     {"Rows", {1, 64}},       {"Step", {1, 1000}},
    };
    auto it = r.find(name);
    return it == r.end() ? std::pair{INT_MIN, INT_MAX} : it->second;
}

QStringList choicesOf(const std::string& name) {
    if (name == "Orientation") return {"voVertical", "voHorizontal"};
    if (name == "BevelStyle") return {"bvLowered", "bvRaised"};
    if (name == "Direction") return {"gdVertical", "gdHorizontal"};
    return {};
}

std::string text(const rack::Property* p) {
    if (!p) return {};
    return rack::asText(p->value).value_or(rack::asIdent(p->value).value_or(""));
}

const QString kHintTip = QObject::tr(
    "The hint shows as a tooltip, and scripts can read it.\n"
    "On an image (TImage) it names the picture file that openrack loads into the image.\n"
    "On a spinner (TVrSpinner) it names the number display (TVrNum) the spinner steps.\n"
    "A push button (TVrDB) sets its own hint to On and Off while it is pressed.");

} // namespace

PropertyPanel::PropertyPanel(DesignModel& model, DesignCanvas& canvas, QWidget* parent)
    : QScrollArea(parent), model_(model), canvas_(canvas) {
    setWidgetResizable(true);
    setObjectName(QStringLiteral("propertyPanel"));
    showFor(-1);
}

void PropertyPanel::tell(const QString& text) {
    auto* box =
        new QMessageBox(QMessageBox::Warning, tr("Rack designer"), text, QMessageBox::Ok, this);
    box->setObjectName(QStringLiteral("propertyMessage"));
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->open();
}

// A menu that pops up without a loop of its own (a tool button's menu would run one, and hold
// a script running on this thread until it closes).
void PropertyPanel::popUp(QToolButton* button, QMenu* menu) {
    connect(button, &QToolButton::clicked, menu,
            [button, menu] { menu->popup(button->mapToGlobal(QPoint(0, button->height()))); });
}

void PropertyPanel::showFor(int index) {
    index_ = index;
    refresh();
}

void PropertyPanel::addRow(const QString& label, QWidget* editor, const QString& tip) {
    editor->setObjectName(QStringLiteral("prop_") + label);
    if (!tip.isEmpty()) editor->setToolTip(tip);
    auto* l = new QLabel(label);
    if (!tip.isEmpty()) l->setToolTip(tip);
    form_->addRow(l, editor);
}

void PropertyPanel::set(const std::string& name, Value v) {
    // Edits land after the editor's own signal has returned: the panel is rebuilt then.
    QMetaObject::invokeMethod(
        this,
        [this, i = index_, name, v = std::move(v)]() mutable {
            model_.setProperty(i, name, std::move(v));
        },
        Qt::QueuedConnection);
}

void PropertyPanel::addInt(const std::string& name, int value, int min, int max) {
    auto* s = new QSpinBox;
    s->setRange(min, max);
    s->setValue(value);
    s->setKeyboardTracking(false);
    connect(s, &QSpinBox::valueChanged, this,
            [this, name](int v) { set(name, rack::intValue(v)); });
    addRow(QString::fromStdString(name), s,
           min == INT_MIN ? QString() : tr("%1 to %2").arg(min).arg(max));
}

void PropertyPanel::addReal(const std::string& name, double value) {
    auto* s = new QDoubleSpinBox;
    s->setDecimals(3);
    s->setRange(-1e9, 1e9);
    s->setValue(value);
    s->setKeyboardTracking(false);
    connect(s, &QDoubleSpinBox::valueChanged, this,
            [this, name](double v) { set(name, rack::extendedValue(v)); });
    addRow(QString::fromStdString(name), s);
}

void PropertyPanel::addBool(const std::string& name, bool value) {
    auto* b = new QCheckBox;
    b->setChecked(value);
    connect(b, &QCheckBox::toggled, this, [this, name](bool v) { set(name, rack::boolValue(v)); });
    addRow(QString::fromStdString(name), b);
}

void PropertyPanel::addColor(const std::string& name, const Value* value, QColor shown) {
    auto* b = new QToolButton;
    b->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    QString label = shown.isValid() ? shown.name() : tr("(default)");
    if (value && value->type == rack::VType::Ident) label = QString::fromStdString(value->bytes);
    b->setText(label);
    b->setIcon(swatch(shown));
    auto* menu = new QMenu(b);
    for (const auto& [n, rgb] : namedColours()) {
        QAction* a = menu->addAction(swatch(QColor::fromRgb(rgb)), QString::fromLatin1(n));
        connect(a, &QAction::triggered, this,
                [this, name, n = std::string(n)] { set(name, rack::identValue(n)); });
    }
    menu->addSeparator();
    connect(menu->addAction(tr("Other colour...")), &QAction::triggered, this, [this, name, shown] {
        auto* d = new QColorDialog(shown.isValid() ? shown : QColor(Qt::white), this);
        d->setAttribute(Qt::WA_DeleteOnClose);
        connect(d, &QColorDialog::colorSelected, this, [this, name](const QColor& c) {
            set(name, rack::intValue(std::int64_t(c.red()) | (c.green() << 8) | (c.blue() << 16)));
        });
        d->open();
    });
    popUp(b, menu);
    addRow(QString::fromStdString(name), b);
}

void PropertyPanel::addText(const std::string& name, const std::string& value, const QString& tip) {
    auto* e = new QLineEdit(displayText(value));
    connect(e, &QLineEdit::editingFinished, this, [this, e, name, value] {
        const QString shown = displayText(value);
        if (e->text() == shown) return; // untouched bytes stay as they were
        set(name, rack::stringValue(e->text().toUtf8().toStdString()));
    });
    addRow(QString::fromStdString(name), e, tip);
}

void PropertyPanel::addLines(const std::string& name, const std::vector<std::string>& lines) {
    auto* b = new QPushButton(tr("%n line(s)...", "", int(lines.size())));
    connect(b, &QPushButton::clicked, this, [this, name, lines] {
        auto* d = new QDialog(this);
        d->setAttribute(Qt::WA_DeleteOnClose);
        d->setWindowTitle(QString::fromStdString(name));
        auto* lay = new QVBoxLayout(d);
        auto* edit = new QPlainTextEdit(d);
        QStringList shown;
        for (const auto& l : lines)
            shown << displayText(l);
        edit->setPlainText(shown.join(QLatin1Char('\n')));
        lay->addWidget(edit);
        auto* box = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, d);
        connect(box, &QDialogButtonBox::accepted, d, &QDialog::accept);
        connect(box, &QDialogButtonBox::rejected, d, &QDialog::reject);
        lay->addWidget(box);
        connect(d, &QDialog::accepted, this, [this, name, lines, shown, edit] {
            std::vector<Value> values;
            const QStringList now = edit->toPlainText().split(QLatin1Char('\n'));
            for (int k = 0; k < now.size(); ++k) {
                if (k == now.size() - 1 && now[k].isEmpty()) break; // a final break adds no line
                values.push_back(k < shown.size() && now[k] == shown[k]
                                     ? rack::stringValue(lines[size_t(k)])
                                     : rack::stringValue(now[k].toUtf8().toStdString()));
            }
            set(name, rack::listValue(std::move(values)));
        });
        d->open();
    });
    addRow(QString::fromStdString(name), b);
}

void PropertyPanel::addEnum(const std::string& name, const QString& value,
                            const QStringList& choices) {
    auto* c = new QComboBox;
    c->addItems(choices);
    if (!choices.contains(value)) c->addItem(value);
    c->setCurrentText(value);
    connect(c, &QComboBox::textActivated, this,
            [this, name](const QString& v) { set(name, rack::identValue(v.toStdString())); });
    addRow(QString::fromStdString(name), c);
}

void PropertyPanel::addSet(const std::string& name, const std::vector<std::string>& value,
                           const QStringList& choices) {
    auto* b = new QToolButton;
    QStringList on;
    for (const auto& v : value)
        on << QString::fromStdString(v);
    b->setText(QLatin1Char('[') + on.join(QStringLiteral(", ")) + QLatin1Char(']'));
    auto* menu = new QMenu(b);
    for (const QString& ch : choices) {
        QAction* a = menu->addAction(ch);
        a->setCheckable(true);
        a->setChecked(on.contains(ch));
        connect(a, &QAction::toggled, this, [this, name, value, ch](bool checked) {
            std::vector<std::string> s = value;
            const std::string e = ch.toStdString();
            s.erase(std::remove(s.begin(), s.end(), e), s.end());
            if (checked) s.push_back(e);
            set(name, rack::setValue(s));
        });
    }
    popUp(b, menu);
    addRow(QString::fromStdString(name), b);
}

void PropertyPanel::addFont() {
    QFont f;
    if (QWidget* w = canvas_.widgetOf(index_)) f = w->font();
    auto* b =
        new QPushButton(QStringLiteral("%1, %2 px")
                            .arg(f.family())
                            .arg(f.pixelSize() > 0 ? f.pixelSize() : QFontInfo(f).pixelSize()));
    connect(b, &QPushButton::clicked, this, [this, f] {
        auto* d = new QFontDialog(f, this);
        d->setAttribute(Qt::WA_DeleteOnClose);
        connect(d, &QFontDialog::fontSelected, this, [this, i = index_](const QFont& chosen) {
            const int px =
                chosen.pixelSize() > 0 ? chosen.pixelSize() : QFontInfo(chosen).pixelSize();
            std::vector<std::string> style;
            if (chosen.bold()) style.push_back("fsBold");
            if (chosen.italic()) style.push_back("fsItalic");
            if (chosen.underline()) style.push_back("fsUnderline");
            if (chosen.strikeOut()) style.push_back("fsStrikeOut");
            QMetaObject::invokeMethod(
                this,
                [this, i, name = chosen.family().toStdString(), px, style] {
                    // One undo step for the three properties the font is made of.
                    model_.beginGroup(tr("Change font"));
                    model_.setProperty(i, "Font.Name", rack::stringValue(name));
                    model_.setProperty(i, "Font.Height", rack::intValue(-px));
                    model_.setProperty(i, "Font.Style", rack::setValue(style));
                    model_.endGroup();
                },
                Qt::QueuedConnection);
        });
        d->open();
    });
    addRow(QStringLiteral("Font"), b, tr("Font.Name, Font.Height and Font.Style"));
}

void PropertyPanel::addPicture() {
    auto* b = new QPushButton;
    const rack::Property* p = model_.property(index_, "Picture.Data");
    b->setText(p && !p->value.bytes.empty()
                   ? tr("%1 bytes: load another...").arg(p->value.bytes.size())
                   : tr("Load picture..."));
    connect(b, &QPushButton::clicked, this, [this] {
        auto* d = new QFileDialog(this, tr("Picture"), {},
                                  tr("Pictures (*.png *.bmp *.jpg *.jpeg *.gif);;All files (*)"));
        d->setFileMode(QFileDialog::ExistingFile);
        d->setAttribute(Qt::WA_DeleteOnClose);
        connect(d, &QFileDialog::fileSelected, this, [this](const QString& file) {
            // The rack's own picture loader makes the stored form, so that the rack reads it.
            std::string error;
            QWidget holder;
            auto c = rack::createControl("TImage", "Picture", &holder, error);
            if (!c || !rack::loadPictureFile(*c, file.toStdString(), false)) {
                tell(tr("The picture cannot be read."));
                return;
            }
            set("Picture.Data", rack::binaryValue(c->picture));
        });
        d->open();
    });
    addRow(QStringLiteral("Picture"), b, tr("The picture is stored in the rack file."));
}

void PropertyPanel::addName() {
    const rack::Component& c = model_.control(index_);
    auto* e = new QLineEdit(QString::fromStdString(c.name));
    auto* warn = new QLabel(QString::fromStdString(DesignModel::nameWarning(c.name)));
    warn->setObjectName(QStringLiteral("nameWarning"));
    warn->setWordWrap(true);
    warn->setStyleSheet(QStringLiteral("color: #c06000"));
    warn->setVisible(!warn->text().isEmpty());
    connect(e, &QLineEdit::textEdited, warn, [warn](const QString& t) {
        warn->setText(QString::fromStdString(DesignModel::nameWarning(t.toStdString())));
        warn->setVisible(!warn->text().isEmpty());
    });
    connect(e, &QLineEdit::editingFinished, this, [this, e, i = index_, old = c.name] {
        const std::string name = e->text().toStdString();
        if (name == old) return;
        QMetaObject::invokeMethod(
            this,
            [this, i, name, old] {
                std::string error;
                if (!model_.rename(i, name, error)) {
                    tell(QString::fromStdString(error));
                    refresh();
                }
            },
            Qt::QueuedConnection);
    });
    addRow(QStringLiteral("Name"), e);
    form_->addRow(warn);
}

void PropertyPanel::refresh() {
    body_ = new QWidget;
    form_ = new QFormLayout(body_);
    form_->setFieldGrowthPolicy(QFormLayout::AllNonFixedFieldsGrow);
    const int i = index_;
    if (i == -2 || i >= model_.count()) {
        form_->addRow(new QLabel(tr("Several controls are selected.")));
        setWidget(body_);
        return;
    }
    auto intOf = [&](const char* n, int dflt) {
        const rack::Property* p = model_.property(i, n);
        return p ? int(rack::asInteger(p->value).value_or(dflt)) : dflt;
    };
    auto colorOf = [&](const char* n) {
        QColor c;
        if (const rack::Property* p = model_.property(i, n)) rack::colorFromValue(p->value, c);
        return c;
    };
    auto valueOf = [&](const char* n) {
        const rack::Property* p = model_.property(i, n);
        return p ? &p->value : nullptr;
    };
    const int big = limits::kRackCoordinate;
    if (i == -1) {
        form_->addRow(new QLabel(
            tr("<b>The rack window</b> (%1)").arg(QString::fromStdString(model_.root().name))));
        addText("Caption", text(model_.property(-1, "Caption")));
        addInt("ClientWidth", model_.clientWidth(), 1, big);
        addInt("ClientHeight", model_.clientHeight(), 1, big);
        addColor("Color", valueOf("Color"), colorOf("Color"));
        addInt("Left", intOf("Left", 295), -big, big);
        addInt("Top", intOf("Top", 162), -big, big);
        addText("Font.Name", text(model_.property(-1, "Font.Name")));
        addInt("Font.Height", intOf("Font.Height", 0), -limits::kMaxFontPixels,
               limits::kMaxFontPixels);
        addColor("Font.Color", valueOf("Font.Color"), colorOf("Font.Color"));
        setWidget(body_);
        return;
    }
    const rack::Component& c = model_.control(i);
    const std::string& cls = c.className;
    form_->addRow(new QLabel(QStringLiteral("<b>%1</b>").arg(QString::fromStdString(cls))));
    addName();
    const Rect r = model_.rect(i);
    addInt("Left", r.x, -big, big);
    addInt("Top", r.y, -big, big);
    addInt("Width", r.w, 0, big);
    addInt("Height", r.h, 0, big);
    if (cls == "TLabel") addText("Caption", text(model_.property(i, "Caption")));
    if (cls == "TEdit" || cls == "TComboBox") addText("Text", text(model_.property(i, "Text")));
    auto linesOf = [&](const char* n) {
        std::vector<std::string> out;
        if (const rack::Property* p = model_.property(i, n))
            for (const Value& v : p->value.list)
                out.push_back(rack::asText(v).value_or(""));
        return out;
    };
    if (cls == "TMemo") addLines("Lines.Strings", linesOf("Lines.Strings"));
    if (cls == "TComboBox") {
        addLines("Items.Strings", linesOf("Items.Strings"));
        const std::string style = text(model_.property(i, "Style"));
        addEnum("Style", QString::fromStdString(style.empty() ? "csDropDown" : style),
                {"csDropDown", "csDropDownList"});
    }
    if (cls == "TImage") {
        addPicture();
        const rack::Property* s = model_.property(i, "Stretch");
        addBool("Stretch", s && rack::asBool(s->value).value_or(false));
    }
    // The instrument's own properties, as the live control holds them (clamped as it clamps).
    const rack::ControlClass* info = rack::findControlClass(cls);
    QWidget* w = canvas_.widgetOf(i);
    if (info && info->instrument && w) {
        const QMetaObject* mo = w->metaObject();
        for (int k = QWidget::staticMetaObject.propertyCount(); k < mo->propertyCount(); ++k) {
            const QMetaProperty mp = mo->property(k);
            if (!mp.isWritable()) continue;
            const std::string n = mp.name();
            const QVariant v = mp.read(w);
            switch (v.metaType().id()) {
            case QMetaType::Int: {
                const auto [lo, hi] = rangeOf(n);
                addInt(n, v.toInt(), lo, hi);
                break;
            }
            case QMetaType::Double:
                addReal(n, v.toDouble());
                break;
            case QMetaType::Bool:
                addBool(n, v.toBool());
                break;
            case QMetaType::QColor:
                addColor(n, valueOf(n.c_str()), v.value<QColor>());
                break;
            case QMetaType::QByteArray:
                addText(n, v.toByteArray().toStdString());
                break;
            case QMetaType::QString:
                addEnum(n, v.toString(), choicesOf(n));
                break;
            default:
                break;
            }
        }
    } else {
        addColor("Color", valueOf("Color"), colorOf("Color"));
    }
    addText("Hint", text(model_.property(i, "Hint")), kHintTip);
    const rack::Property* vis = model_.property(i, "Visible");
    addBool("Visible", !vis || rack::asBool(vis->value).value_or(true));
    const rack::Property* en = model_.property(i, "Enabled");
    addBool("Enabled", !en || rack::asBool(en->value).value_or(true));
    addFont();
    addColor("Font.Color", valueOf("Font.Color"), colorOf("Font.Color"));
    std::vector<std::string> style;
    if (const rack::Property* p = model_.property(i, "Font.Style")) style = p->value.set;
    addSet("Font.Style", style, {"fsBold", "fsItalic", "fsUnderline", "fsStrikeOut"});
    setWidget(body_);
}

} // namespace nv::designer
