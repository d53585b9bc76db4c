#include "shell/debugger.h"

#include "base/ini.h"
#include "engine/text.h"
#include "shell/scripteditor.h"

#include <QImage>
#include <QInputDialog>
#include <QLabel>
#include <QMenu>
#include <QPainter>
#include <algorithm>

namespace nv {

namespace {

const QColor kDot(210, 30, 30);
const QColor kDotRim(120, 0, 0);

// A conditional breakpoint: the red dot with a light centre.
QImage conditionDot() {
    QImage img(12, 12, QImage::Format_ARGB32_Premultiplied);
    img.fill(Qt::transparent);
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(kDotRim);
    p.setBrush(kDot);
    p.drawEllipse(QRectF(0.5, 0.5, 11, 11));
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(255, 236, 160));
    p.drawEllipse(QRectF(3.5, 3.5, 5, 5));
    return img;
}

// File paths as keys of the settings file: the characters the INI form gives a meaning of
// its own are written as %XX.
std::string encodeKey(const QString& path) {
    std::string out;
    for (char c : path.toUtf8().toStdString()) {
        if (c == '%' || c == '=' || c == '[' || c == ']' || c == ';' || c == '#' || c == ':') {
            static const char hex[] = "0123456789ABCDEF";
            out += '%';
            out += hex[(static_cast<unsigned char>(c) >> 4) & 15];
            out += hex[static_cast<unsigned char>(c) & 15];
        } else {
            out += c;
        }
    }
    return out;
}

QString decodeKey(const std::string& key) {
    return QString::fromUtf8(QByteArray::fromPercentEncoding(QByteArray::fromStdString(key)));
}

constexpr const char* kSection = "breakpoints";

} // namespace

Debugger::Debugger(ScriptEditor* editor, QObject* parent) : QObject(parent), editor_(editor) {
    editor_->markerDefine(QsciScintilla::Circle, kBreakMarker);
    editor_->setMarkerBackgroundColor(kDot, kBreakMarker);
    editor_->setMarkerForegroundColor(kDotRim, kBreakMarker);
    editor_->markerDefine(conditionDot(), kConditionMarker);
    editor_->setMarginMarkerMask(1, editor_->marginMarkerMask(1) | (1 << kBreakMarker) |
                                        (1 << kConditionMarker));
    editor_->setMarginWidth(1, 14);
    editor_->setMarginSensitivity(1, true);
    connect(editor_, &QsciScintilla::marginClicked, this,
            [this](int margin, int line, Qt::KeyboardModifiers) {
                if (margin == 1) toggle(line);
            });
    connect(editor_, &QsciScintilla::marginRightClicked, this,
            [this](int margin, int line, Qt::KeyboardModifiers) {
                if (margin == 1) showMenu(line, QCursor::pos());
            });
    // Loading a file replaces the text; an encoding switch replaces it with the same lines.
    connect(editor_, &ScriptEditor::aboutToReplaceText, this, [this] { stash(); });
    connect(editor_, &ScriptEditor::textReplaced, this, [this] {
        removeMarkers();
        restore(file_);
        replaced_ = true;
    });
    askCondition = [this](int line, const QString& current, const QString& refused) {
        QString label = QStringLiteral("Stop at line %1 only when this condition holds,\n"
                                       "written as after if, e.g. (n == 3). Empty: always.")
                            .arg(line + 1);
        if (!refused.isEmpty()) label = refused + QStringLiteral("\n\n") + label;
        QInputDialog dlg(editor_);
        dlg.setWindowTitle(QStringLiteral("Breakpoint condition"));
        dlg.setLabelText(label);
        dlg.setTextValue(current);
        // A refusal is a sentence or two: wrapped, not one line wider than the screen.
        if (auto* l = dlg.findChild<QLabel*>()) {
            l->setWordWrap(true);
            l->setMinimumWidth(420);
        }
        return dlg.exec() == QDialog::Accepted ? dlg.textValue() : QString();
    };
    set_.hit = [this](int line) { return hit(line); };
}

int Debugger::stoppable(int line) const {
    const int last = editor_->lines() - 1;
    if (line < 0 || line > last) return -1;
    int l = line;
    while (l <= last && editor_->text(l).trimmed().isEmpty())
        ++l;
    return l > last ? line : l;
}

int Debugger::handleAt(int line) const {
    for (const auto& [handle, cond] : marks_)
        if (editor_->markerLine(handle) == line) return handle;
    return -1;
}

bool Debugger::has(int line) const {
    return handleAt(line) >= 0;
}

std::vector<int> Debugger::lines() const {
    std::vector<int> out;
    for (const auto& [handle, cond] : marks_)
        if (const int l = editor_->markerLine(handle); l >= 0) out.push_back(l);
    std::sort(out.begin(), out.end());
    out.erase(std::unique(out.begin(), out.end()), out.end());
    return out;
}

void Debugger::toggle(int line) {
    line = stoppable(line);
    if (line < 0) return;
    if (const int h = handleAt(line); h >= 0) {
        editor_->markerDeleteHandle(h);
        marks_.erase(h);
    } else {
        marks_[editor_->markerAdd(line, kBreakMarker)] = QString();
    }
    refresh();
}

QString Debugger::condition(int line) const {
    const int h = handleAt(line);
    return h >= 0 ? marks_.at(h) : QString();
}

QString Debugger::refusal(const QString& condition) {
    const std::string s = compact(condition.trimmed().toStdString());
    if (s.size() < 2 || s.front() != '(' || s.back() != ')')
        return QStringLiteral("A condition is written in parentheses, as after if: (n == 3).");
    constexpr size_t npos = std::string_view::npos;
    bool quoted = false, compares = false;
    int depth = 0;
    for (size_t i = 0; i < s.size(); ++i) {
        const char c = s[i];
        if (c == '"') {
            quoted = !quoted;
            continue;
        }
        if (quoted) continue;
        if (c == ')' && --depth < 0) return QStringLiteral("A ) stands without its (.");
        if (c == '(') {
            ++depth;
            const char before = i > 0 ? s[i - 1] : '(';
            if (std::string_view("()%&*+-/\\^,=<>|!").find(before) == std::string_view::npos) {
                size_t from = i;
                while (from > 0 &&
                       std::string_view("()%&*+-/\\^,=<>|!\"").find(s[from - 1]) == npos)
                    --from;
                const QString name = QString::fromStdString(s.substr(from, i - from));
                return QStringLiteral("%1( is a function call: a breakpoint never calls a "
                                      "function, since one such as receive( takes what the "
                                      "script would read. Compare a variable instead.")
                    .arg(name);
            }
        }
        if (i + 1 < s.size()) {
            const std::string_view two(s.data() + i, 2);
            for (std::string_view op : {"==", ">>", "<<", ">=", "<=", "<>"})
                if (two == op) compares = true;
        }
    }
    if (quoted) return QStringLiteral("Its quotes do not pair up.");
    if (depth != 0) return QStringLiteral("A ( is not closed.");
    if (!compares)
        return QStringLiteral("It compares nothing, so it would never hold: write a comparison "
                              "such as (n == 3) (operators == <> >> << >= <=).");
    return {};
}

QString Debugger::setCondition(int line, const QString& text) {
    const QString cond = text.trimmed();
    if (!cond.isEmpty()) {
        const QString why = refusal(cond);
        if (!why.isEmpty()) return why;
    }
    line = stoppable(line);
    if (line < 0) return QStringLiteral("There is no such line.");
    if (const int h = handleAt(line); h >= 0) {
        editor_->markerDeleteHandle(h);
        marks_.erase(h);
    }
    marks_[editor_->markerAdd(line, cond.isEmpty() ? kBreakMarker : kConditionMarker)] = cond;
    refresh();
    return {};
}

void Debugger::clear() {
    removeMarkers();
    refresh();
}

void Debugger::removeMarkers() {
    editor_->markerDeleteAll(kBreakMarker);
    editor_->markerDeleteAll(kConditionMarker);
    marks_.clear();
}

void Debugger::setRunTo(int line) {
    runTo_ = line < 0 ? -1 : stoppable(line);
    refresh();
}

// The lines the run tests, by editor line. The editor cannot change while a run exists, so
// the lines stand still while the run uses them.
void Debugger::refresh() {
    set_.lines.assign(static_cast<size_t>(std::max(editor_->lines(), 0)), 0);
    for (int l : lines())
        set_.lines[static_cast<size_t>(l)] = 1;
    if (runTo_ >= 0 && static_cast<size_t>(runTo_) < set_.lines.size())
        set_.lines[static_cast<size_t>(runTo_)] = 1;
    if (lines().empty() && runTo_ < 0) set_.lines.clear();
}

void Debugger::attach(Interpreter& ex) {
    ex_ = &ex;
    unevaluated_.clear();
    refresh();
    ex.setBreakpoints(&set_);
}

void Debugger::detach() {
    ex_ = nullptr;
    runTo_ = -1;
    refresh();
}

bool Debugger::hit(int line) {
    bool stop = false;
    if (line == runTo_) {
        runTo_ = -1;
        refresh();
        stop = true;
    }
    if (!stop && ex_ && has(line)) {
        const QString cond = condition(line);
        if (cond.isEmpty()) {
            stop = true;
        } else {
            // The evaluation leaves the script's error state as it found it.
            Variables& vars = ex_->variables();
            const std::string* e = vars.get("error");
            const std::string errorBefore = e ? *e : std::string();
            const std::string lastBefore = ex_->lastError();
            bool truth = false;
            const bool ok = ex_->evaluateCondition(cond.toStdString(), truth);
            if (ex_->lastError() != lastBefore) ex_->raiseScriptError(lastBefore);
            if (const std::string* now = vars.get("error"); !now || *now != errorBefore)
                ex_->setVariable("error", errorBefore);
            if (ok) {
                stop = truth;
            } else if (std::find(unevaluated_.begin(), unevaluated_.end(), line) ==
                       unevaluated_.end()) {
                unevaluated_.push_back(line);
                ex_->logMessage("Breakpoint on line " + std::to_string(line + 1) +
                                ": the condition " + cond.toStdString() +
                                " cannot be evaluated here; the run goes on");
            }
        }
    }
    if (stop && stopped) stopped(line);
    return stop;
}

void Debugger::showMenu(int line, const QPoint& globalPos) {
    QMenu menu(editor_);
    const bool here = has(line);
    QAction* toggleItem = menu.addAction(here ? QStringLiteral("Remove breakpoint")
                                              : QStringLiteral("Set breakpoint"));
    QAction* condItem = menu.addAction(QStringLiteral("Condition..."));
    menu.addSeparator();
    QAction* clearItem = menu.addAction(QStringLiteral("Remove all breakpoints"));
    clearItem->setEnabled(!marks_.empty());
    QAction* chosen = menu.exec(globalPos);
    if (chosen == toggleItem) {
        toggle(line);
    } else if (chosen == condItem) {
        QString current = condition(line), refused;
        for (;;) {
            const QString text = askCondition(line, current, refused);
            if (text.isNull()) return;
            refused = setCondition(line, text);
            if (refused.isEmpty()) return;
            current = text;
        }
    } else if (chosen == clearItem) {
        clear();
    }
}

void Debugger::stash() {
    std::vector<Saved> saved;
    for (const auto& [handle, cond] : marks_)
        if (const int l = editor_->markerLine(handle); l >= 0) saved.push_back({l, cond});
    std::sort(saved.begin(), saved.end(),
              [](const Saved& a, const Saved& b) { return a.line < b.line; });
    if (saved.empty())
        files_.erase(file_);
    else
        files_[file_] = std::move(saved);
}

void Debugger::restore(const QString& file) {
    const auto it = files_.find(file);
    if (it == files_.end()) {
        refresh();
        return;
    }
    for (const Saved& s : it->second) {
        if (s.line < 0 || s.line >= editor_->lines() || has(s.line)) continue;
        marks_[editor_->markerAdd(s.line, s.condition.isEmpty() ? kBreakMarker
                                                                : kConditionMarker)] = s.condition;
    }
    refresh();
}

void Debugger::setFile(const QString& file) {
    if (file == file_) {
        replaced_ = false;
        return;
    }
    // Saved under another name the marks stay on their lines; a loaded file brings its own.
    if (replaced_) {
        removeMarkers();
        // A new untitled script starts without breakpoints.
        if (!file.isEmpty()) restore(file);
        refresh();
    }
    file_ = file;
    replaced_ = false;
}

void Debugger::read(const IniFile& ini) {
    files_.clear();
    for (const auto& [key, value] : ini.entries(kSection)) {
        if (key.find(':') != std::string::npos) continue; // a condition, read with its file
        std::vector<Saved> saved;
        for (const QString& part : QString::fromStdString(value).split(QLatin1Char(','))) {
            bool ok = false;
            const int n = part.trimmed().toInt(&ok);
            if (!ok || n < 1) continue;
            const auto cond = ini.value(kSection, key + ":" + std::to_string(n));
            QString c = cond ? QString::fromStdString(*cond).trimmed() : QString();
            // A condition edited by hand into one that would be refused is dropped with it.
            if (!c.isEmpty() && !refusal(c).isEmpty()) c.clear();
            saved.push_back({n - 1, c});
        }
        if (!saved.empty()) files_[decodeKey(key)] = std::move(saved);
    }
    if (!file_.isEmpty()) {
        removeMarkers();
        restore(file_);
    }
}

void Debugger::write(IniFile& ini) {
    stash();
    for (const auto& [key, value] : ini.entries(kSection))
        ini.remove(kSection, key);
    for (const auto& [file, saved] : files_) {
        if (file.isEmpty()) continue; // an untitled script's stay with it until it is saved
        const std::string key = encodeKey(file);
        std::string list;
        for (const Saved& s : saved) {
            if (!list.empty()) list += ',';
            list += std::to_string(s.line + 1);
            if (!s.condition.isEmpty())
                ini.setValue(kSection, key + ":" + std::to_string(s.line + 1),
                             s.condition.toStdString());
        }
        ini.setValue(kSection, key, list);
    }
}

} // namespace nv
