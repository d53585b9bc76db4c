// helpgen: turns the Markdown pages of docs/ into the help pages the program opens
// (Help/html beside the executables).
//
//   helpgen CMARK_GFM DOCS_DIR STYLE_CSS OUT_DIR
//
// Every docs/*.md becomes OUT_DIR/NAME.html and every docs/reference/*.md becomes
// OUT_DIR/reference/NAME.html; docs/images/ is copied whole. Links to .md pages become links
// to .html pages, headings get ids (lower case, blanks as '-', punctuation dropped) so that
// "page.html#heading" links resolve, and each page is wrapped in one frame with the style
// sheet and a line of navigation. The contents page (index.md) and the reference list
// (reference.md) end with every page of their folder that they do not link to themselves,
// so a new page is never unreachable.
//
// OUT_DIR/search-index.tsv holds the text of every page for the help window's search, one
// page a line: the page's file (relative to OUT_DIR), a tab, its title, a tab, its text with
// the tags dropped and every run of blanks, tabs and line ends made one blank. The search
// runs over the text the reader sees, so a word found is a word on the page.
//
// Runs at build time only, on one thread. Any failure (cmark-gfm missing, a file that
// cannot be read or written) ends it with a message and status 1, which fails the build.
#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <map>
#include <set>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

struct Page {
    fs::path source;   // docs/... .md
    std::string name;  // "language" or "reference/send": the page without its extension
    std::string title; // the text of its first h1
    std::string body;  // the HTML cmark-gfm made, links and ids already mended
};

std::string readFile(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    if (!in) throw std::runtime_error("cannot read " + p.string());
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

void writeFile(const fs::path& p, const std::string& text) {
    fs::create_directories(p.parent_path());
    std::ofstream out(p, std::ios::binary | std::ios::trunc);
    out << text;
    if (!out) throw std::runtime_error("cannot write " + p.string());
}

std::string shellQuote(const std::string& s) {
    std::string q = "'";
    for (char c : s)
        q += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return q + "'";
}

// Raw HTML stays (docs size pictures with <img>); tables are the reason for cmark-gfm.
std::string markdownToHtml(const std::string& cmark, const fs::path& md) {
    const std::string cmd = shellQuote(cmark) +
                            " --unsafe --extension table --extension strikethrough "
                            "--extension autolink --to html " +
                            shellQuote(md.string());
    FILE* pipe = popen(cmd.c_str(), "r");
    if (!pipe) throw std::runtime_error("cannot start " + cmark);
    std::string html;
    char buf[65536];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, pipe)) > 0)
        html.append(buf, n);
    if (pclose(pipe) != 0) throw std::runtime_error(cmark + " failed on " + md.string());
    return html;
}

std::string stripTags(const std::string& html) {
    std::string text;
    bool inTag = false;
    for (char c : html) {
        if (c == '<')
            inTag = true;
        else if (c == '>')
            inTag = false;
        else if (!inTag)
            text += c;
    }
    const std::pair<const char*, const char*> entities[] = {
        {"&amp;", "&"}, {"&lt;", "<"}, {"&gt;", ">"}, {"&quot;", "\""}, {"&#39;", "'"}};
    for (auto [from, to] : entities)
        for (size_t p; (p = text.find(from)) != std::string::npos;)
            text.replace(p, std::string(from).size(), to);
    return text;
}

// The id a heading gets, as the usual Markdown hosts make it, so that links written for
// them work here too.
std::string slug(const std::string& headingText) {
    std::string s;
    for (unsigned char c : headingText) {
        if (std::isalnum(c) || c == '_' || c == '-')
            s += static_cast<char>(std::tolower(c));
        else if (c == ' ')
            s += '-';
    }
    return s;
}

// Gives every <hN> an id, unique within the page.
std::string addHeadingIds(const std::string& html) {
    std::string out;
    std::map<std::string, int> used;
    size_t at = 0;
    while (true) {
        size_t open = html.find("<h", at);
        while (open != std::string::npos && !(open + 3 < html.size() && html[open + 2] >= '1' &&
                                              html[open + 2] <= '6' && html[open + 3] == '>'))
            open = html.find("<h", open + 1);
        if (open == std::string::npos) break;
        const std::string close = std::string("</h") + html[open + 2] + ">";
        const size_t end = html.find(close, open);
        if (end == std::string::npos) break;
        std::string id = slug(stripTags(html.substr(open + 4, end - open - 4)));
        if (int n = used[id]++) id += "-" + std::to_string(n);
        out += html.substr(at, open + 3 - at) + " id=\"" + id + "\"";
        at = open + 3;
    }
    return out + html.substr(at);
}

// href="x.md" and href="x.md#part" point at the generated pages.
std::string mendLinks(const std::string& html) {
    std::string out;
    size_t at = 0;
    const std::string key = "href=\"";
    for (size_t p; (p = html.find(key, at)) != std::string::npos;) {
        const size_t start = p + key.size();
        const size_t end = html.find('"', start);
        if (end == std::string::npos) break;
        std::string target = html.substr(start, end - start);
        const bool external = target.find(':') != std::string::npos;
        const size_t hash = target.find('#');
        std::string path = target.substr(0, hash);
        if (!external && path.size() > 3 && path.compare(path.size() - 3, 3, ".md") == 0)
            target = path.substr(0, path.size() - 3) + ".html" +
                     (hash == std::string::npos ? "" : target.substr(hash));
        out += html.substr(at, start - at) + target;
        at = end;
    }
    return out + html.substr(at);
}

// A log block that follows an example is captioned, so that script and log are told apart.
std::string captionLogs(std::string html) {
    const std::string block = "<pre><code class=\"language-log\">";
    const std::string captioned =
        "<p class=\"log-caption\">The log shows:</p>\n<pre class=\"log\"><code "
        "class=\"language-log\">";
    for (size_t p = 0; (p = html.find(block, p)) != std::string::npos; p += captioned.size())
        html.replace(p, block.size(), captioned);
    return html;
}

std::string titleOf(const std::string& html, const std::string& fallback) {
    const size_t open = html.find("<h1");
    if (open == std::string::npos) return fallback;
    const size_t gt = html.find('>', open);
    const size_t end = html.find("</h1>", gt);
    return stripTags(html.substr(gt + 1, end - gt - 1));
}

std::string escapeHtml(const std::string& s) {
    std::string out;
    for (char c : s) {
        if (c == '&')
            out += "&amp;";
        else if (c == '<')
            out += "&lt;";
        else if (c == '>')
            out += "&gt;";
        else
            out += c;
    }
    return out;
}

// The text of a page as one line of blanks and words (tabs and line ends would break the
// index's lines and columns).
std::string flatText(const std::string& text) {
    std::string out;
    for (char c : text) {
        const bool blank = c == ' ' || c == '\t' || c == '\n' || c == '\r';
        if (!blank)
            out += c;
        else if (!out.empty() && out.back() != ' ')
            out += ' ';
    }
    while (!out.empty() && out.back() == ' ')
        out.pop_back();
    return out;
}

// The list of pages of a folder that `page` does not link to yet.
std::string missingLinks(const Page& page, const std::vector<Page>& pages,
                         const std::string& folder, const std::string& heading) {
    std::string items;
    for (const Page& p : pages) {
        if (&p == &page) continue;
        const bool inFolder = folder.empty() ? p.name.find('/') == std::string::npos
                                             : p.name.rfind(folder + "/", 0) == 0;
        if (!inFolder) continue;
        // Both listing pages stand at the top, so a page's link is its name.
        if (page.body.find("href=\"" + p.name + ".html") != std::string::npos) continue;
        items += "<li><a href=\"" + p.name + ".html\">" + escapeHtml(p.title) + "</a></li>\n";
    }
    if (items.empty()) return {};
    return "<h2 id=\"" + slug(heading) + "\">" + heading + "</h2>\n<ul>\n" + items + "</ul>\n";
}

std::string frame(const Page& page) {
    const std::string up = page.name.find('/') == std::string::npos ? "" : "../";
    return "<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n"
           "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">\n"
           "<title>" +
           escapeHtml(page.title) + " - Norvane Help</title>\n<link rel=\"stylesheet\" href=\"" +
           up + "style.css\">\n</head>\n<body>\n<nav><a href=\"" + up +
           "index.html\">Contents</a> <a href=\"" + up +
           "getting-started.html\">Getting started</a> <a href=\"" + up +
           "language.html\">Script language</a> <a href=\"" + up +
           "reference.html\">Commands and functions</a></nav>\n<main>\n" + page.body +
           "</main>\n</body>\n</html>\n";
}

std::vector<fs::path> markdownFiles(const fs::path& dir) {
    std::vector<fs::path> files;
    if (!fs::is_directory(dir)) return files;
    for (const auto& e : fs::directory_iterator(dir))
        if (e.is_regular_file() && e.path().extension() == ".md") files.push_back(e.path());
    std::sort(files.begin(), files.end());
    return files;
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 5) {
        std::cerr << "usage: helpgen CMARK_GFM DOCS_DIR STYLE_CSS OUT_DIR\n";
        return 2;
    }
    try {
        const std::string cmark = argv[1];
        const fs::path docs = argv[2], css = argv[3], out = argv[4];

        std::vector<Page> pages;
        for (const auto& [dir, prefix] :
             {std::pair<fs::path, std::string>{docs, ""}, {docs / "reference", "reference/"}})
            for (const fs::path& md : markdownFiles(dir)) {
                Page p;
                p.source = md;
                p.name = prefix + md.stem().string();
                p.body = captionLogs(mendLinks(addHeadingIds(markdownToHtml(cmark, md))));
                p.title = titleOf(p.body, md.stem().string());
                pages.push_back(std::move(p));
            }

        // Pages of a removed source must not linger in the build folder.
        fs::remove_all(out);
        for (Page& p : pages) {
            if (p.name == "index") p.body += missingLinks(p, pages, "", "More pages");
            if (p.name == "reference")
                p.body += missingLinks(p, pages, "reference", "Other entries");
            writeFile(out / (p.name + ".html"), frame(p));
        }
        std::string index;
        for (const Page& p : pages)
            index +=
                p.name + ".html\t" + flatText(p.title) + "\t" + flatText(stripTags(p.body)) + "\n";
        writeFile(out / "search-index.tsv", index);
        writeFile(out / "style.css", readFile(css));
        if (fs::is_directory(docs / "images"))
            fs::copy(docs / "images", out / "images", fs::copy_options::recursive);
    } catch (const std::exception& e) {
        std::cerr << "helpgen: " << e.what() << "\n";
        return 1;
    }
    return 0;
}
