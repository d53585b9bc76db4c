#include "shell/helpwindow.h"

#include "base/files.h"

#include <QAction>
#include <QApplication>
#include <QDesktopServices>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QListWidget>
#include <QPainter>
#include <QScrollBar>
#include <QSplitter>
#include <QStyledItemDelegate>
#include <QTextBrowser>
#include <QTextLayout>
#include <QToolButton>
#include <QVBoxLayout>
#include <algorithm>

namespace nv {

namespace {

// Characters of text shown on each side of the word a snippet is built around.
constexpr qsizetype kSnippetBefore = 40;
constexpr qsizetype kSnippetAfter = 100;

QString snippetAround(const QString& text, qsizetype at, qsizetype wordLength) {
    qsizetype start = std::max<qsizetype>(0, at - kSnippetBefore);
    qsizetype end = std::min(text.size(), at + wordLength + kSnippetAfter);
    // Cut at blanks so that no word is shown halved.
    if (start > 0) {
        const qsizetype blank = text.indexOf(QLatin1Char(' '), start);
        if (blank >= 0 && blank < at) start = blank + 1;
    }
    if (end < text.size()) {
        const qsizetype blank = text.lastIndexOf(QLatin1Char(' '), end);
        if (blank > at + wordLength) end = blank;
    }
    QString s = text.mid(start, end - start);
    if (start > 0) s.prepend(QStringLiteral("… "));
    if (end < text.size()) s.append(QStringLiteral(" …"));
    return s;
}

QString escaped(const QString& s) {
    return s.toHtmlEscaped();
}

// Lines of snippet shown under each title in the list of pages found.
constexpr int kSnippetLines = 3;

// A page found: its title in bold on the first line, the text around the word below it.
// The item's text is "title\nsnippet", so that it reads the same to a screen reader.
class HitDelegate : public QStyledItemDelegate {
  public:
    using QStyledItemDelegate::QStyledItemDelegate;

    void paint(QPainter* p, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override {
        QStyleOptionViewItem o = option;
        initStyleOption(&o, index);
        // The item's own text: the option's has its line ends made into line separators.
        const QString text = index.data(Qt::DisplayRole).toString();
        o.text.clear();
        const QWidget* w = o.widget;
        QStyle* style = w ? w->style() : QApplication::style();
        style->drawControl(QStyle::CE_ItemViewItem, &o, p, w);
        const QRect r = o.rect.adjusted(4, 2, -4, -2);
        const bool picked = o.state & QStyle::State_Selected;
        p->save();
        p->setPen(o.palette.color(picked ? QPalette::HighlightedText : QPalette::Text));
        if (!(index.flags() & Qt::ItemIsEnabled)) {
            p->drawText(r, Qt::TextWordWrap, text);
            p->restore();
            return;
        }
        QFont bold = o.font;
        bold.setBold(true);
        p->setFont(bold);
        const int titleHeight = QFontMetrics(bold).height();
        p->drawText(QRect(r.left(), r.top(), r.width(), titleHeight), Qt::AlignLeft,
                    QFontMetrics(bold).elidedText(text.section(QLatin1Char('\n'), 0, 0),
                                                  Qt::ElideRight, r.width()));
        p->setFont(o.font);
        if (!picked) p->setPen(o.palette.color(QPalette::PlaceholderText));
        // Whole lines only, the last one cut with an ellipsis when the snippet runs on.
        const QString snippet = text.section(QLatin1Char('\n'), 1);
        const QFontMetrics fm(o.font);
        QTextLayout layout(snippet, o.font);
        layout.beginLayout();
        int y = r.top() + titleHeight;
        for (int n = 0; n < kSnippetLines; ++n) {
            QTextLine line = layout.createLine();
            if (!line.isValid()) break;
            line.setLineWidth(r.width());
            const QString rest = snippet.mid(line.textStart());
            const QString shown = n + 1 < kSnippetLines
                                      ? snippet.mid(line.textStart(), line.textLength())
                                      : fm.elidedText(rest, Qt::ElideRight, r.width());
            p->drawText(QPoint(r.left(), y + fm.ascent()), shown);
            y += fm.lineSpacing();
        }
        layout.endLayout();
        p->restore();
    }

    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex&) const override {
        const QFontMetrics fm(option.font);
        QFont bold = option.font;
        bold.setBold(true);
        return {200, QFontMetrics(bold).height() + fm.lineSpacing() * kSnippetLines + 6};
    }
};

} // namespace

bool HelpIndex::load(const QString& file, QString& error) {
    entries_.clear();
    std::string bytes, why;
    if (!readFile(QFile::encodeName(file).toStdString(), bytes, why, ReadOptions{true})) {
        error = QStringLiteral("%1: %2").arg(file, QString::fromLocal8Bit(why.c_str()));
        return false;
    }
    const QString text = QString::fromUtf8(bytes.data(), static_cast<qsizetype>(bytes.size()));
    for (const QString& line : text.split(QLatin1Char('\n'), Qt::SkipEmptyParts)) {
        const QStringList cols = line.split(QLatin1Char('\t'));
        if (cols.size() != 3) continue; // a line of another shape is no page
        entries_.push_back({cols[0], cols[1], cols[2], cols[1].toLower(), cols[2].toLower()});
    }
    if (entries_.empty()) {
        error = QStringLiteral("%1: no pages in it").arg(file);
        return false;
    }
    return true;
}

std::vector<HelpHit> HelpIndex::search(const QString& query) const {
    const QStringList words = query.toLower().split(QLatin1Char(' '), Qt::SkipEmptyParts);
    if (words.isEmpty()) return {};
    struct Scored {
        const Entry* e;
        long score;
        qsizetype at;
    };
    std::vector<Scored> found;
    for (const Entry& e : entries_) {
        long score = 0;
        bool all = true;
        for (const QString& w : words) {
            const bool inTitle = e.lowerTitle.contains(w);
            const qsizetype n = e.lowerText.count(w);
            if (!inTitle && n == 0) {
                all = false;
                break;
            }
            // A page named after the word is what a reader searching for it wants; then the
            // pages that mention it in their titles; then the pages that mention it most.
            score += (e.lowerTitle == w ? 100000 : 0) + (inTitle ? 10000 : 0) +
                     std::min<qsizetype>(n, 999);
        }
        if (all) found.push_back({&e, score, e.lowerText.indexOf(words.front())});
    }
    std::stable_sort(found.begin(), found.end(), [](const Scored& a, const Scored& b) {
        if (a.score != b.score) return a.score > b.score;
        return a.e->title < b.e->title;
    });
    std::vector<HelpHit> hits;
    for (const Scored& s : found)
        hits.push_back({s.e->page, s.e->title,
                        s.at < 0 ? snippetAround(s.e->text, 0, 0)
                                 : snippetAround(s.e->text, s.at, words.front().size())});
    return hits;
}

HelpWindow::HelpWindow(const QString& helpDir, QWidget* parent)
    : QWidget(parent, Qt::Window), helpDir_(helpDir) {
    setObjectName(QStringLiteral("HelpWindow"));
    setWindowTitle(QStringLiteral("Norvane Help"));
    openExternal = [](const QUrl& url) { QDesktopServices::openUrl(url); };

    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(4, 4, 4, 4);
    column->setSpacing(4);
    auto* bar = new QHBoxLayout;
    column->addLayout(bar);
    auto button = [this, bar](const char* name, const QString& text, const QString& tip,
                              Qt::ArrowType arrow) {
        auto* b = new QToolButton(this);
        b->setObjectName(QString::fromLatin1(name));
        b->setText(text);
        b->setToolTip(tip);
        if (arrow != Qt::NoArrow) b->setArrowType(arrow);
        b->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
        bar->addWidget(b);
        return b;
    };
    back_ = button("BackButton", QStringLiteral("Back"), QStringLiteral("Back (Alt+Left)"),
                   Qt::LeftArrow);
    forward_ = button("ForwardButton", QStringLiteral("Forward"),
                      QStringLiteral("Forward (Alt+Right)"), Qt::RightArrow);
    QToolButton* contents = button("ContentsButton", QStringLiteral("Contents"),
                                   QStringLiteral("The contents of the help"), Qt::NoArrow);
    bar->addStretch(1);
    searchBox_ = new QLineEdit(this);
    searchBox_->setObjectName(QStringLiteral("HelpSearch"));
    searchBox_->setPlaceholderText(QStringLiteral("Search the help"));
    searchBox_->setClearButtonEnabled(true);
    searchBox_->setToolTip(QStringLiteral("Pages with every word typed (Enter: open the first)"));
    searchBox_->setMinimumWidth(260);
    bar->addWidget(searchBox_);

    auto* split = new QSplitter(Qt::Horizontal, this);
    column->addWidget(split, 1);
    hits_ = new QListWidget(split);
    hits_->setObjectName(QStringLiteral("HelpHits"));
    hits_->setWordWrap(true);
    hits_->setTextElideMode(Qt::ElideNone);
    hits_->setAlternatingRowColors(true);
    hits_->setItemDelegate(new HitDelegate(hits_));
    hits_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    browser_ = new QTextBrowser(split);
    browser_->setObjectName(QStringLiteral("HelpBrowser"));
    // Every link comes through follow(): pages open here, the rest on the desktop.
    browser_->setOpenLinks(false);
    split->addWidget(hits_);
    split->addWidget(browser_);
    split->setStretchFactor(1, 1);
    split->setSizes({280, 620});
    hits_->hide();

    back_->setEnabled(false);
    forward_->setEnabled(false);
    connect(back_, &QToolButton::clicked, browser_, &QTextBrowser::backward);
    connect(forward_, &QToolButton::clicked, browser_, &QTextBrowser::forward);
    connect(browser_, &QTextBrowser::backwardAvailable, back_, &QWidget::setEnabled);
    connect(browser_, &QTextBrowser::forwardAvailable, forward_, &QWidget::setEnabled);
    connect(contents, &QToolButton::clicked, this, &HelpWindow::showContents);
    connect(browser_, &QTextBrowser::anchorClicked, this, &HelpWindow::follow);
    connect(browser_, &QTextBrowser::sourceChanged, this, [this] {
        // Pages are titled "Page - Norvane Help"; the contents are "Norvane Help" itself.
        QString title = browser_->documentTitle();
        const QString help = QStringLiteral("Norvane Help");
        if (title.isEmpty() || title.startsWith(help)) title = help;
        setWindowTitle(title);
    });
    // The keys work wherever the focus is in the window, the search box included.
    const std::pair<QKeySequence, void (QTextBrowser::*)()> keys[] = {
        {QKeySequence(Qt::ALT | Qt::Key_Left), &QTextBrowser::backward},
        {QKeySequence(Qt::ALT | Qt::Key_Right), &QTextBrowser::forward},
    };
    for (const auto& [key, step] : keys) {
        auto* a = new QAction(this);
        a->setShortcut(key);
        a->setShortcutContext(Qt::WindowShortcut);
        connect(a, &QAction::triggered, browser_, step);
        addAction(a);
    }
    connect(searchBox_, &QLineEdit::textChanged, this, &HelpWindow::search);
    connect(searchBox_, &QLineEdit::returnPressed, this, &HelpWindow::openFirstHit);
    connect(hits_, &QListWidget::itemActivated, this,
            [this](QListWidgetItem* item) { openHit(hits_->row(item)); });
    connect(hits_, &QListWidget::itemClicked, this,
            [this](QListWidgetItem* item) { openHit(hits_->row(item)); });

    index_.load(QDir(helpDir_).filePath(QStringLiteral("search-index.tsv")), indexError_);
    // Ctrl+F as in most browsers, and the main window's Help > Search key, lead to the box.
    auto* find = new QAction(this);
    find->setShortcuts({QKeySequence::Find, QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_F)});
    find->setShortcutContext(Qt::WindowShortcut);
    connect(find, &QAction::triggered, this, &HelpWindow::showSearch);
    addAction(find);
    showContents();
}

bool HelpWindow::pagesFound() const {
    return QFileInfo(QDir(helpDir_).filePath(QStringLiteral("index.html"))).isFile();
}

void HelpWindow::showMessage(const QString& title, const QString& text) {
    browser_->setHtml(QStringLiteral("<h2>%1</h2><p>%2</p>").arg(escaped(title), text));
    setWindowTitle(QStringLiteral("Norvane Help"));
}

void HelpWindow::showContents() {
    showPage(QUrl::fromLocalFile(QDir(helpDir_).filePath(QStringLiteral("index.html"))));
}

void HelpWindow::showPage(const QUrl& url) {
    if (!pagesFound()) {
        showMessage(QStringLiteral("The help pages are not installed"),
                    QStringLiteral("Norvane looked for them in<br><tt>%1</tt><br>and found no "
                                   "<tt>index.html</tt> there.")
                        .arg(escaped(QDir::toNativeSeparators(helpDir_))));
        return;
    }
    const QString file = url.toLocalFile();
    if (!QFileInfo(file).isFile()) {
        showMessage(
            QStringLiteral("This help page is missing"),
            QStringLiteral("<tt>%1</tt><br><a href=\"%2\">Contents</a>")
                .arg(escaped(QDir::toNativeSeparators(file)),
                     QUrl::fromLocalFile(QDir(helpDir_).filePath(QStringLiteral("index.html")))
                         .toString()
                         .toHtmlEscaped()));
        return;
    }
    browser_->setSource(url);
}

void HelpWindow::follow(const QUrl& link) {
    const QUrl url = browser_->source().resolved(link);
    const QString file = url.toLocalFile();
    // Only the help's own pages are shown here; a file of another kind (a script, a
    // picture) is what the desktop opens best.
    if (url.isLocalFile() && (file.endsWith(QLatin1String(".html")) || !QFileInfo::exists(file)))
        showPage(url);
    else
        openExternal(url);
}

void HelpWindow::showSearch() {
    show();
    raise();
    activateWindow();
    searchBox_->setFocus();
    searchBox_->selectAll();
}

void HelpWindow::search(const QString& query) {
    hits_->clear();
    found_.clear();
    if (query.trimmed().isEmpty()) {
        hits_->hide();
        return;
    }
    hits_->show();
    // The pages may have been made since the window opened.
    if (index_.empty())
        index_.load(QDir(helpDir_).filePath(QStringLiteral("search-index.tsv")), indexError_);
    if (index_.empty()) {
        auto* item = new QListWidgetItem(
            QStringLiteral("The search index cannot be read:\n%1").arg(indexError_), hits_);
        item->setFlags(Qt::NoItemFlags);
        return;
    }
    found_ = index_.search(query);
    for (const HelpHit& h : found_) {
        auto* item = new QListWidgetItem(h.title + QLatin1Char('\n') + h.snippet, hits_);
        item->setToolTip(h.page);
    }
    if (found_.empty()) {
        auto* item = new QListWidgetItem(QStringLiteral("No page holds all of these words"), hits_);
        item->setFlags(Qt::NoItemFlags);
    }
}

bool HelpWindow::openFirstHit() {
    search(searchBox_->text());
    if (found_.empty()) return false;
    hits_->setCurrentRow(0);
    openHit(0);
    return true;
}

void HelpWindow::openHit(int row) {
    if (row < 0 || static_cast<size_t>(row) >= found_.size()) return;
    showPage(QUrl::fromLocalFile(QDir(helpDir_).filePath(found_[size_t(row)].page)));
    // The first place the word stands is marked and scrolled into sight.
    const QStringList words = searchBox_->text().split(QLatin1Char(' '), Qt::SkipEmptyParts);
    if (words.isEmpty()) return;
    browser_->moveCursor(QTextCursor::Start);
    if (!browser_->find(words.front())) return;
    // find() scrolls only as far as needed, which leaves the word on the last line; a third
    // down the page shows what leads up to it.
    QScrollBar* bar = browser_->verticalScrollBar();
    bar->setValue(bar->value() + browser_->cursorRect().top() - browser_->viewport()->height() / 3);
}

} // namespace nv
