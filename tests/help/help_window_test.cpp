// The help window: links between pages with back and forward, links that leave the help,
// pages that are missing, and the search over every page (on a few pages written here, and
// on the index built with the real pages).
#include "shell/helpwindow.h"

#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QListWidget>
#include <QRegularExpression>
#include <QScrollBar>
#include <QTemporaryDir>
#include <QTest>
#include <QTextBlock>
#include <QTextBrowser>
#include <gtest/gtest.h>
#include <set>

namespace {

void write(const QString& path, const QString& text) {
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(text.toUtf8());
}

class HelpWindowTest : public ::testing::Test {
  protected:
    QTemporaryDir dir;
    std::vector<QUrl> external;
    std::unique_ptr<nv::HelpWindow> w;

    void SetUp() override {
        QString filler;
        for (int i = 0; i < 80; ++i)
            filler += QStringLiteral("<p>Counts a variable, pass %1.</p>").arg(i);
        write(dir.filePath("index.html"),
              "<html><head><title>Contents</title></head><body><h1>Contents</h1>"
              "<p><a href=\"reference/send.html\">Sending</a></p>"
              "<p><a href=\"reference/for.html#next\">Loops</a></p>"
              "<p><a href=\"https://example.com/maker\">Maker</a></p>"
              "<p><a href=\"mailto:bench@example.com\">Mail</a></p>"
              "<p><a href=\"reference/gone.html\">Gone</a></p></body></html>");
        write(dir.filePath("reference/send.html"),
              "<html><head><title>send</title></head><body><h1 id=\"send\">send</h1>"
              "<p>Writes bytes to a port, such as a zanzibar probe.</p>"
              "<p><a href=\"../index.html\">Contents</a></p></body></html>");
        write(dir.filePath("reference/for.html"),
              "<html><head><title>for</title></head><body><h1 id=\"for\">for</h1>" + filler +
                  "<h2 id=\"next\">next</h2><p>Ends the loop.</p></body></html>");
        write(dir.filePath("search-index.tsv"),
              "index.html\tContents\tContents Writing Loops Maker Mail Gone\n"
              "reference/send.html\tsend\tsend Writes bytes to a port, such as a zanzibar "
              "probe. Contents\n"
              "reference/for.html\tfor\tfor Counts a variable, pass 1. next Ends the loop "
              "that sends nothing.\n");
    }

    nv::HelpWindow& make(const QString& helpDir) {
        w = std::make_unique<nv::HelpWindow>(helpDir);
        w->openExternal = [this](const QUrl& u) { external.push_back(u); };
        w->resize(700, 400);
        w->show();
        EXPECT_TRUE(QTest::qWaitForWindowExposed(w.get()));
        w->activateWindow();
        EXPECT_TRUE(QTest::qWaitForWindowActive(w.get(), 2000));
        return *w;
    }

    QUrl page(const QString& rel) const { return QUrl::fromLocalFile(dir.filePath(rel)); }
    QString shownFile() const { return w->browser()->source().toLocalFile(); }

    // A real click on the link whose text is `text`.
    void clickLink(const QString& text) {
        QTextBrowser* b = w->browser();
        const QTextCursor found = b->document()->find(text);
        ASSERT_FALSE(found.isNull()) << text.toStdString();
        QTextCursor c(b->document());
        c.setPosition(found.selectionStart() + 1);
        const QPoint at = b->cursorRect(c).center();
        QTest::mouseClick(b->viewport(), Qt::LeftButton, Qt::NoModifier, at);
    }
};

TEST_F(HelpWindowTest, LinksMoveAndBackAndForwardReturn) {
    make(dir.path());
    EXPECT_EQ(shownFile(), dir.filePath("index.html"));
    auto* back = w->findChild<QWidget*>("BackButton");
    auto* forward = w->findChild<QWidget*>("ForwardButton");
    EXPECT_FALSE(back->isEnabled());

    clickLink("Sending");
    EXPECT_EQ(shownFile(), dir.filePath("reference/send.html"));
    EXPECT_EQ(w->windowTitle(), "send");
    ASSERT_TRUE(back->isEnabled());
    // A link relative to the page in a folder leads back up.
    clickLink("Contents");
    EXPECT_EQ(shownFile(), dir.filePath("index.html"));

    // Each step moves one page, whether by key (in the page or in the search box) or button.
    QTest::keyClick(w->browser(), Qt::Key_Left, Qt::AltModifier);
    EXPECT_EQ(shownFile(), dir.filePath("reference/send.html"));
    EXPECT_TRUE(forward->isEnabled());
    QTest::mouseClick(back, Qt::LeftButton);
    EXPECT_EQ(shownFile(), dir.filePath("index.html"));
    EXPECT_FALSE(back->isEnabled());
    w->searchBox()->setFocus();
    QTest::keyClick(w->searchBox(), Qt::Key_Right, Qt::AltModifier);
    EXPECT_EQ(shownFile(), dir.filePath("reference/send.html"));
    QTest::mouseClick(forward, Qt::LeftButton);
    EXPECT_EQ(shownFile(), dir.filePath("index.html"));
    EXPECT_FALSE(forward->isEnabled());
    EXPECT_TRUE(external.empty());
}

TEST_F(HelpWindowTest, ALinkWithAnAnchorScrollsToIt) {
    make(dir.path());
    ASSERT_EQ(w->browser()->verticalScrollBar()->value(), 0);
    clickLink("Loops");
    EXPECT_EQ(w->browser()->source(), QUrl(page("reference/for.html").toString() + "#next"));
    const QTextBlock next = w->browser()->document()->find("Ends the loop").block();
    // The heading is in sight, the top of the page is not.
    EXPECT_GT(w->browser()->verticalScrollBar()->value(), 0);
    const QRect seen = w->browser()->viewport()->rect();
    EXPECT_TRUE(seen.contains(w->browser()->cursorRect(QTextCursor(next)).center()));
}

TEST_F(HelpWindowTest, LinksOutOfTheHelpGoToTheDesktop) {
    make(dir.path());
    clickLink("Maker");
    clickLink("Mail");
    ASSERT_EQ(external.size(), 2u);
    EXPECT_EQ(external[0], QUrl("https://example.com/maker"));
    EXPECT_EQ(external[1], QUrl("mailto:bench@example.com"));
    EXPECT_EQ(shownFile(), dir.filePath("index.html"));
}

TEST_F(HelpWindowTest, MissingPagesAreSaidWithTheirPlace) {
    make(dir.path());
    clickLink("Gone");
    QString text = w->browser()->toPlainText();
    EXPECT_TRUE(text.contains("This help page is missing")) << text.toStdString();
    EXPECT_TRUE(text.contains(QDir::toNativeSeparators(dir.filePath("reference/gone.html"))));
    clickLink("Contents");
    EXPECT_EQ(shownFile(), dir.filePath("index.html"));

    const QString nowhere = dir.filePath("no-such-folder");
    make(nowhere);
    text = w->browser()->toPlainText();
    EXPECT_TRUE(text.contains("The help pages are not installed")) << text.toStdString();
    EXPECT_TRUE(text.contains(QDir::toNativeSeparators(nowhere))) << text.toStdString();
    // The search says the same rather than finding nothing.
    QTest::keyClicks(w->searchBox(), "send");
    ASSERT_EQ(w->hitList()->count(), 1);
    EXPECT_TRUE(w->hitList()->item(0)->text().startsWith("The search index cannot be read:"));
    EXPECT_TRUE(w->hitList()->item(0)->text().contains(nowhere + "/search-index.tsv"))
        << w->hitList()->item(0)->text().toStdString();
}

TEST_F(HelpWindowTest, SearchListsPagesByWordsInTheirBodies) {
    make(dir.path());
    const struct {
        const char* query;
        std::vector<const char*> titles; // in the order listed
    } cases[] = {
        {"zanzibar", {"send"}},       // only in the body of one page
        {"ZANZIBAR probe", {"send"}}, // letter case ignored, every word needed
        {"zanzibar loop", {}},        // no page has both
        {"send", {"send", "for"}},    // the page named so first, then the mention
        {"   ", {}},                  // no words: no list
    };
    for (const auto& c : cases) {
        w->searchBox()->setText(c.query);
        std::vector<std::string> got;
        for (int i = 0; i < w->hitList()->count(); ++i)
            if (w->hitList()->item(i)->flags() & Qt::ItemIsEnabled)
                got.push_back(w->hitList()->item(i)->text().section('\n', 0, 0).toStdString());
        EXPECT_EQ(got, std::vector<std::string>(c.titles.begin(), c.titles.end())) << c.query;
        EXPECT_EQ(w->hitList()->isVisible(), QString(c.query).trimmed().size() > 0) << c.query;
    }
    // A title comes with the text around the word.
    w->searchBox()->setText("zanzibar");
    EXPECT_TRUE(w->hitList()->item(0)->text().contains("such as a zanzibar probe"));

    // Enter opens the first page found, with the word marked; Ctrl+F in the page goes back
    // to the search box.
    w->searchBox()->clear();
    w->browser()->setFocus();
    QTest::keyClick(w->browser(), Qt::Key_F, Qt::ControlModifier);
    ASSERT_TRUE(w->searchBox()->hasFocus());
    QTest::keyClicks(w->searchBox(), "zanzibar");
    QTest::keyClick(w->searchBox(), Qt::Key_Return);
    EXPECT_EQ(shownFile(), dir.filePath("reference/send.html"));
    EXPECT_EQ(w->browser()->textCursor().selectedText(), "zanzibar");
}

// Every built page can be found by a word of its body that its title does not hold.
TEST(HelpSearchIndex, FindsEveryBuiltPageByAWordOfItsBody) {
    const QString help = QStringLiteral(HELP_DIR);
    nv::HelpIndex index;
    QString error;
    ASSERT_TRUE(index.load(help + "/search-index.tsv", error)) << error.toStdString();
    QFile f(help + "/search-index.tsv");
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    std::set<QString> listed;
    int checked = 0;
    for (const QString& line : QString::fromUtf8(f.readAll()).split('\n', Qt::SkipEmptyParts)) {
        const QStringList cols = line.split('\t');
        ASSERT_EQ(cols.size(), 3) << line.toStdString();
        listed.insert(cols[0]);
        EXPECT_TRUE(QFileInfo(help + "/" + cols[0]).isFile()) << cols[0].toStdString();
        // The longest word of the body, less the title: a word found only by reading it.
        QString word;
        for (const QString& wd :
             cols[2].split(QRegularExpression("[^A-Za-z]+"), Qt::SkipEmptyParts))
            if (wd.size() > word.size() && !cols[1].contains(wd, Qt::CaseInsensitive)) word = wd;
        if (word.isEmpty()) continue;
        bool found = false;
        for (const nv::HelpHit& h : index.search(word))
            found = found || h.page == cols[0];
        EXPECT_TRUE(found) << cols[0].toStdString() << " by " << word.toStdString();
        ++checked;
    }
    EXPECT_GT(checked, 50);
    // Every page made is in the index.
    for (const QString& sub : {QString(), QStringLiteral("reference/")})
        for (const QString& page : QDir(help + "/" + sub).entryList({"*.html"}, QDir::Files))
            EXPECT_TRUE(listed.count(sub + page)) << (sub + page).toStdString();
}

} // namespace
