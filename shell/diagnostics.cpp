#include "shell/diagnostics.h"

#include "engine/text.h"
#include "shell/scripteditor.h"

#include <QRegularExpression>
#include <QTimer>
#include <QToolTip>
#include <cctype>
#include <utility>

namespace nv {

using B = QsciScintillaBase;

namespace {

bool isNameChar(char c) {
    return std::isalnum(static_cast<unsigned char>(c)) || c == '_';
}

// `word` stands in `text` as a whole word.
bool namesWord(std::string_view text, std::string_view word) {
    for (size_t at = text.find(word); at != std::string_view::npos; at = text.find(word, at + 1)) {
        const size_t end = at + word.size();
        if ((at == 0 || !isNameChar(text[at - 1])) &&
            (end == text.size() || !isNameChar(text[end])))
            return true;
    }
    return false;
}

// The closing parenthesis of the one at `open`, outside quotes; the line's end without one.
size_t closingOf(std::string_view line, size_t open) {
    int depth = 0;
    bool quoted = false;
    for (size_t i = open; i < line.size(); ++i) {
        const char c = line[i];
        if (c == '"') quoted = !quoted;
        if (quoted) continue;
        if (c == '(') ++depth;
        if (c == ')' && --depth == 0) return i + 1;
    }
    return line.size();
}

// The part of a line a finding is about, as [begin, end) within the line: the call of the
// function it names, the condition of the statement, or else the line without its blanks.
std::pair<size_t, size_t> spanOf(const Finding& f, std::string_view line) {
    const size_t first = line.find_first_not_of(" \t");
    if (first == std::string_view::npos) return {0, 0};
    const size_t last = line.find_last_not_of(" \t") + 1;
    if (f.kind == "function") {
        bool quoted = false;
        for (size_t i = first; i < last; ++i) {
            if (line[i] == '"') quoted = !quoted;
            if (quoted || !isNameChar(line[i]) || (i > 0 && isNameChar(line[i - 1]))) continue;
            size_t j = i;
            while (j < last && isNameChar(line[j]))
                ++j;
            if (j < last && line[j] == '(' && namesWord(f.text, line.substr(i, j - i)))
                return {i, closingOf(line, j)};
            i = j - 1;
        }
    } else if (f.kind == "condition") {
        const size_t open = line.find('(', first);
        const size_t close = line.find_last_of(')');
        if (open != std::string_view::npos && close != std::string_view::npos && close > open)
            return {open, close + 1};
    }
    return {first, last};
}

} // namespace

Diagnostics::Diagnostics(ScriptEditor* editor, Runtime& rt, std::function<bool()> mayCheck,
                         QObject* parent)
    : QObject(parent), editor_(editor), rt_(rt), mayCheck_(std::move(mayCheck)),
      timer_(new QTimer(this)) {
    editor_->SendScintilla(B::SCI_INDICSETSTYLE, kIndicator, B::INDIC_SQUIGGLE);
    editor_->SendScintilla(B::SCI_INDICSETFORE, kIndicator, QColor(220, 30, 30));
    editor_->SendScintilla(B::SCI_INDICSETUNDER, kIndicator, 1);
    editor_->SendScintilla(B::SCI_SETMOUSEDWELLTIME, 500);
    timer_->setSingleShot(true);
    timer_->setInterval(kDelayMs);
    connect(timer_, &QTimer::timeout, this, [this] {
        if (mayCheck_ && !mayCheck_())
            timer_->start();
        else
            recheck();
    });
    // Every edit, loading a file included, starts the pause again.
    connect(editor_, &QsciScintilla::textChanged, timer_, qOverload<>(&QTimer::start));
    connect(editor_, &QsciScintillaBase::SCN_DWELLSTART, this, &Diagnostics::dwellStart);
    connect(editor_, &QsciScintillaBase::SCN_DWELLEND, this,
            [](int, int, int) { QToolTip::hideText(); });
}

bool Diagnostics::pending() const {
    return timer_->isActive();
}

void Diagnostics::recheck() {
    timer_->stop();
    const std::string text = editor_->bytes();
    findings_ = checkScript(rt_, splitLines(text));
    marks_.clear();
    editor_->SendScintilla(B::SCI_SETINDICATORCURRENT, kIndicator);
    editor_->SendScintilla(B::SCI_INDICATORCLEARRANGE, 0UL, static_cast<long>(text.size()));
    const int lines = editor_->lines();
    for (const Finding& f : findings_) {
        // An included file's lines are not in the editor; the include line carries its own
        // finding when the file was not checked.
        if (!f.file.empty() || f.line < 1 || f.line > lines) continue;
        const long start = editor_->SendScintilla(B::SCI_POSITIONFROMLINE, f.line - 1);
        const long end = editor_->SendScintilla(B::SCI_GETLINEENDPOSITION, f.line - 1);
        const auto [from, to] =
            spanOf(f, std::string_view(text).substr(static_cast<size_t>(start),
                                                    static_cast<size_t>(end - start)));
        // An empty line (a block left open at the end) is marked where it stands.
        const long a = start + static_cast<long>(from);
        const long b = std::max(a + 1, start + static_cast<long>(to));
        editor_->SendScintilla(B::SCI_INDICATORFILLRANGE, static_cast<unsigned long>(a), b - a);
        marks_.push_back({a, b, QString::fromStdString(std::string(f.kind) + ": " + f.text)});
    }
}

QString Diagnostics::explanationAt(long position) const {
    QStringList parts;
    for (const Mark& m : marks_)
        if (position >= m.start && position < m.end) parts << m.text;
    return parts.join(QLatin1Char('\n'));
}

void Diagnostics::dwellStart(int position, int x, int y) {
    if (position < 0 ||
        !editor_->SendScintilla(B::SCI_INDICATORVALUEAT, kIndicator, static_cast<long>(position)))
        return;
    const QString text = explanationAt(position);
    if (text.isEmpty()) return;
    QToolTip::showText(editor_->viewport()->mapToGlobal(QPoint(x, y)), text, editor_->viewport());
}

std::string findingLogLine(const Finding& f) {
    std::string s = formatFinding(f, {});
    // The script's own lines go without a file name: ":12: ..." reads as "12: ...".
    if (f.file.empty()) s.erase(0, 1);
    return s;
}

int findingLogLineTarget(const QString& logLine) {
    static const QRegularExpression form(QStringLiteral("^(\\d+): [a-z]+: "));
    const auto m = form.match(logLine);
    return m.hasMatch() ? m.captured(1).toInt() - 1 : -1;
}

} // namespace nv
