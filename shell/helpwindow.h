// The help window: the help pages (Help/html beside the program) in a browser of the
// program's own, so that help works offline and on a machine with no web browser. It has the
// contents, back and forward (buttons and Alt+Left / Alt+Right), links between pages, and a
// search box over every page. Links that leave the help (http, https, mailto, or a file that
// is not a page) are handed to `openExternal`, the desktop's opener.
//
// The search reads Help/html/search-index.tsv, written with the pages when they are made:
// one page a line, "page<TAB>title<TAB>text". A page matches when every word of the query
// is in its title or text (letter case ignored); pages with the words in their titles come
// first.
//
// Threading: user-interface thread only. Error policy: nothing fails silently. Missing
// pages, a missing page behind a link and a missing search index are said in the window
// itself, naming the file it looked for.
#pragma once

#include <QString>
#include <QUrl>
#include <QWidget>
#include <functional>
#include <vector>

class QLineEdit;
class QListWidget;
class QTextBrowser;
class QToolButton;

namespace nv {

struct HelpHit {
    QString page;    // relative to the help folder: "reference/send.html"
    QString title;   // the page's title
    QString snippet; // the text around the first word found
};

class HelpIndex {
  public:
    // Reads an index file; false with `error` set when it cannot be read.
    bool load(const QString& file, QString& error);
    // The pages holding every word of `query`, best first.
    std::vector<HelpHit> search(const QString& query) const;
    bool empty() const { return entries_.empty(); }

  private:
    struct Entry {
        QString page, title, text, lowerTitle, lowerText;
    };
    std::vector<Entry> entries_;
};

class HelpWindow : public QWidget {
    Q_OBJECT
  public:
    // `helpDir` is the folder that should hold index.html.
    explicit HelpWindow(const QString& helpDir, QWidget* parent = nullptr);

    // Shows a page: a file under the help folder, with or without a #fragment.
    void showPage(const QUrl& url);
    void showContents();
    // Shows the window with the search box focused and its text selected.
    void showSearch();
    // Lists the pages that match `query` (an empty query hides the list).
    void search(const QString& query);
    // Opens the first page the search found; false when it found none.
    bool openFirstHit();

    bool pagesFound() const;
    QString helpDir() const { return helpDir_; }
    QTextBrowser* browser() const { return browser_; }
    QLineEdit* searchBox() const { return searchBox_; }
    QListWidget* hitList() const { return hits_; }

    // Where links that leave the help go; the desktop's opener unless replaced.
    std::function<void(const QUrl&)> openExternal;

  private:
    void follow(const QUrl& link);
    void openHit(int row);
    void showMessage(const QString& title, const QString& text);

    QString helpDir_;
    HelpIndex index_;
    QString indexError_;
    QTextBrowser* browser_ = nullptr;
    QLineEdit* searchBox_ = nullptr;
    QListWidget* hits_ = nullptr;
    QToolButton* back_ = nullptr;
    QToolButton* forward_ = nullptr;
    std::vector<HelpHit> found_;
};

} // namespace nv
