// The help pages as built: reachable, linked soundly, complete, and with examples that do
// what their pages say.
#include "engine/host.h"
#include "engine/runtime.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

const fs::path kHelp = HELP_DIR;
const fs::path kDocs = DOCS_DIR;

std::string readFile(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

std::vector<fs::path> files(const fs::path& dir, const std::string& ext, bool recursive) {
    std::vector<fs::path> out;
    if (recursive) {
        for (const auto& e : fs::recursive_directory_iterator(dir))
            if (e.is_regular_file() && e.path().extension() == ext) out.push_back(e.path());
    } else {
        for (const auto& e : fs::directory_iterator(dir))
            if (e.is_regular_file() && e.path().extension() == ext) out.push_back(e.path());
    }
    std::sort(out.begin(), out.end());
    return out;
}

// The values of every href and src attribute of a page.
std::vector<std::string> links(const std::string& html) {
    std::vector<std::string> out;
    static const std::regex attr(R"re((?:href|src)="([^"]*)")re");
    for (std::sregex_iterator i(html.begin(), html.end(), attr), end; i != end; ++i)
        out.push_back((*i)[1]);
    return out;
}

bool hasId(const std::string& html, const std::string& id) {
    return html.find("id=\"" + id + "\"") != std::string::npos;
}

TEST(HelpPages, ContentsReachEveryPage) {
    const std::string index = readFile(kHelp / "index.html");
    const std::string reference = readFile(kHelp / "reference.html");
    ASSERT_FALSE(index.empty());
    ASSERT_FALSE(reference.empty());
    for (const fs::path& md : files(kDocs, ".md", false)) {
        const std::string page = md.stem().string() + ".html";
        if (page == "index.html") continue;
        EXPECT_TRUE(fs::is_regular_file(kHelp / page)) << page;
        EXPECT_NE(index.find("href=\"" + page + "\""), std::string::npos)
            << "the contents do not list " << page;
    }
    for (const fs::path& md : files(kDocs / "reference", ".md", false)) {
        const std::string page = "reference/" + md.stem().string() + ".html";
        EXPECT_TRUE(fs::is_regular_file(kHelp / page)) << page;
        EXPECT_NE(reference.find("href=\"" + page + "\""), std::string::npos)
            << "the list of commands and functions does not link " << page;
    }
    // What the contents link must exist (checked for every page below, named here too so
    // that a broken contents page is told apart).
    for (const std::string& l : links(index)) {
        if (l.find(':') == std::string::npos && l[0] != '#') {
            EXPECT_TRUE(fs::exists(kHelp / l.substr(0, l.find('#')))) << l;
        }
    }
}

TEST(HelpPages, EveryLinkResolves) {
    std::vector<std::string> broken;
    const auto pages = files(kHelp, ".html", true);
    ASSERT_GT(pages.size(), 50u);
    for (const fs::path& page : pages) {
        const std::string html = readFile(page);
        EXPECT_NE(html.find("style.css"), std::string::npos) << page;
        for (const std::string& l : links(html)) {
            if (l.empty()) {
                broken.push_back(page.string() + ": empty link");
                continue;
            }
            if (std::regex_search(l, std::regex("^[a-z]+:"))) continue; // https:, mailto:
            const size_t hash = l.find('#');
            const std::string file = l.substr(0, hash);
            const fs::path target = file.empty() ? page : page.parent_path() / file;
            if (!fs::exists(target)) {
                broken.push_back(page.string() + ": " + l);
                continue;
            }
            if (hash != std::string::npos && !hasId(readFile(target), l.substr(hash + 1)))
                broken.push_back(page.string() + ": " + l + " (no such anchor)");
        }
    }
    EXPECT_TRUE(broken.empty()) << [&] {
        std::string s;
        for (const auto& b : broken)
            s += b + "\n";
        return s;
    }();
}

struct QuietHost : nv::ScriptHost {
    void processEvents() override {}
    int logLineCount() const override { return 0; }
    void clearLog() override {}
    void appendLog(std::string_view) override {}
};

TEST(HelpPages, EveryCommandFunctionAndStatementHasItsPage) {
    QuietHost host;
    nv::Runtime runtime(host);
    std::set<std::string> names;
    for (const auto& row : runtime.commands()) {
        std::string k(row.keyword);
        if (!k.empty() && k.back() == '(') k.pop_back();
        names.insert(k);
    }
    for (const auto& row : runtime.functions())
        names.insert(std::string(row.name));
    EXPECT_GT(names.size(), 70u);
    for (const char* statement :
         {"for", "if", "while", "repeat", "procedure", "break", "exit", "end", "include"})
        names.insert(statement);
    for (const std::string& n : names)
        EXPECT_TRUE(fs::is_regular_file(kHelp / "reference" / (n + ".html")))
            << "no help page for " << n;
}

std::string normaliseTimes(std::string text) {
    return std::regex_replace(text, std::regex("^\\d\\d:\\d\\d:\\d\\d", std::regex::multiline),
                              "HH:MM:SS");
}

// Each ```nvs block followed directly by a ```log block is run through norvane-run in a
// folder of its own, which holds the example racks; com1 and com2 are two pseudo-terminals
// joined like a null-modem cable. Time stamps are compared as HH:MM:SS.
TEST(HelpPages, ExamplesGiveTheLogTheyShow) {
    static const std::regex example("```nvs\\n([\\s\\S]*?)```\\n\\n```log\\n([\\s\\S]*?)```");
    const fs::path work = fs::temp_directory_path() / ("norvane-help-" + std::to_string(getpid()));
    int count = 0;
    std::vector<fs::path> sources = files(kDocs, ".md", true);
    for (const fs::path& md : sources) {
        const std::string text = readFile(md);
        int n = 0;
        for (std::sregex_iterator i(text.begin(), text.end(), example), end; i != end; ++i) {
            const fs::path dir = work / (md.stem().string() + "-" + std::to_string(++n));
            fs::remove_all(dir);
            fs::create_directories(dir);
            if (fs::is_directory(RACK_DIR))
                for (const auto& e : fs::directory_iterator(RACK_DIR))
                    if (e.path().extension() == ".res")
                        fs::copy_file(e.path(), dir / e.path().filename());
            std::ofstream(dir / "ex.nvs", std::ios::binary) << (*i)[1].str();
            const std::string cmd =
                "cd '" + dir.string() +
                "' && socat pty,raw,echo=0,link=a pty,raw,echo=0,link=b & s=$!; "
                "for t in $(seq 100); do [ -e '" +
                dir.string() + "/a' ] && [ -e '" + dir.string() +
                "/b' ] && break; sleep 0.05; done; cd '" + dir.string() +
                "' && NORVANE_PORTS=\"com1=$PWD/a;com2=$PWD/b\" QT_QPA_PLATFORM=offscreen "
                "timeout 60 '" NORVANE_RUN "' ex.nvs > out.txt 2>&1 < /dev/null; "
                "kill $s; wait $s 2>/dev/null; true";
            ASSERT_EQ(std::system(cmd.c_str()), 0);
            EXPECT_EQ(normaliseTimes(readFile(dir / "out.txt")), normaliseTimes((*i)[2].str()))
                << "example " << n << " of " << md;
            ++count;
        }
    }
    EXPECT_GT(count, 50);
    fs::remove_all(work);
}

} // namespace
