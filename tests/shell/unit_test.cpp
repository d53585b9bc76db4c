// The window's parts that need no window: settings file reading and writing, the recent
// list, the byte/text boundary, the script colouring, hints and web addresses.
#include "baseqt/displaytext.h"
#include "engine/host.h"
#include "engine/runtime.h"
#include "shell/platform.h"
#include "shell/recentlist.h"
#include "shell/scriptlexer.h"
#include "shell/settings.h"
#include "shell/startup.h"
#include "tests/support/nonroot.h"
#include "tests/support/tempdir.h"
#include "wiring/subsystems.h"
#include <sys/stat.h>
#include <unistd.h>

#include <QApplication>
#include <QFontDatabase>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <algorithm>
#include <gtest/gtest.h>
#include <set>

using namespace nv;

namespace {

IniFile ini(std::string_view text) {
    IniFile f;
    f.parse(text);
    return f;
}

} // namespace

// ---- bytes and text ----

TEST(ByteText, EncodingIsUtf8OnlyWhenValid) {
    struct Case {
        std::string bytes;
        bool utf8;
    } cases[] = {
        {"plain ascii", true},
        {"caf\xC3\xA9", true},
        {"\xF0\x9F\x98\x80", true},
        {"caf\xE9", false},      // Latin-1 e-acute
        {"\xC0\xAF", false},     // overlong "/"
        {"\xED\xA0\x80", false}, // surrogate
        {"\xE2\x82", false},     // cut short
        {std::string("a\0b", 3), true},
    };
    for (const Case& c : cases)
        EXPECT_EQ(isValidUtf8(c.bytes), c.utf8) << c.bytes;
}

TEST(ByteText, EveryByteSurvivesTheRoundTrip) {
    std::string all;
    for (int i = 0; i < 256; ++i)
        all += static_cast<char>(i);
    ASSERT_EQ(detectEncoding(all), TextEncoding::Latin1);
    EXPECT_EQ(encodeText(decodeText(all, TextEncoding::Latin1), TextEncoding::Latin1), all);
    const std::string utf8 = "x\xE2\x82\xAC" + std::string(1, '\0') + "y";
    EXPECT_EQ(encodeText(displayText(utf8), TextEncoding::Utf8), utf8);

    bool lossless = true;
    encodeText(QStringLiteral("\u20AC"), TextEncoding::Latin1, &lossless);
    EXPECT_FALSE(lossless);
}

// ---- settings file ----

TEST(IniFile, KeepsForeignKeysAndComparesNamesWithoutCase) {
    IniFile f = ini("; note\n[Ports]\ncom1=/dev/ttyUSB0\n\n[MAIN]\nX = 12\n");
    EXPECT_EQ(f.value("main", "x").value_or("?"), "12");
    EXPECT_EQ(f.value("ports", "COM1").value_or("?"), "/dev/ttyUSB0");
    f.setValue("main", "y", "7");
    f.setValue("menu bar", "style", "docked");
    f.remove("main", "x");
    const IniFile g = ini(f.serialize());
    EXPECT_EQ(g.value("ports", "com1").value_or("?"), "/dev/ttyUSB0");
    EXPECT_EQ(g.value("main", "y").value_or("?"), "7");
    EXPECT_FALSE(g.value("main", "x"));
    EXPECT_EQ(g.value("Menu Bar", "STYLE").value_or("?"), "docked");
    EXPECT_NE(f.serialize().find("; note"), std::string::npos);
}

TEST(WindowSettings, MissingFileGivesTheDefaults) {
    WindowSettings s;
    EXPECT_TRUE(readWindowSettings(IniFile{}, s));
    EXPECT_EQ(std::tie(s.x, s.y, s.width, s.height, s.logHeight), std::tuple(0, 0, 544, 374, 160));
    EXPECT_EQ(std::tie(s.recentBar.row, s.recentBar.pos), std::tuple(1, 153));
    EXPECT_FALSE(s.menuBar.floating);
}

TEST(WindowSettings, FirstMalformedIntegerEndsTheReading) {
    // Reading order: main x y width height log_height, debug y x, rack y x, terminal x y,
    // recent, bars. Whatever follows the bad value keeps the window's built-in value.
    const std::string tail = "[recent]\nMRU1=/a.nvs\n[toolbar]\nstyle=floating\n";
    struct Case {
        std::string text;
        int x, width, watchY, watchX, terminalY;
        size_t recent;
    } cases[] = {
        {"[main]\nx=5\nwidth=6x\n" + tail, 5, 544, 0, 0, 0, 0},
        {"[main]\nx=\n" + tail, 242, 544, 0, 0, 0, 0},
        {"[main]\nx=-5\nwidth=$20\n[debug]\ny=3\nx=abc\n" + tail, -5, 32, 3, 0, 0, 0},
        {"[terminal]\nx=1\ny=99999999999\n" + tail, 0, 544, 0, 0, 0, 0},
        {"[main]\nx= 7 \n[terminal]\ny=4\n" + tail, 7, 544, 0, 0, 4, 1},
    };
    for (const Case& c : cases) {
        WindowSettings s;
        const bool complete = readWindowSettings(ini(c.text), s);
        EXPECT_EQ(complete, c.recent == 1) << c.text;
        EXPECT_EQ(s.x, c.x) << c.text;
        EXPECT_EQ(s.width, c.width) << c.text;
        EXPECT_EQ(s.watchY, c.watchY) << c.text;
        EXPECT_EQ(s.watchX, c.watchX) << c.text;
        EXPECT_EQ(s.terminalY, c.terminalY) << c.text;
        EXPECT_EQ(s.recent.size(), c.recent) << c.text;
        EXPECT_EQ(s.toolBar.floating, c.recent == 1) << c.text;
    }
}

TEST(WindowSettings, OnlyTheExactWordFloats) {
    for (auto [style, floating] : {std::pair("floating", true), std::pair("Floating", false),
                                   std::pair("docked", false), std::pair("", false)}) {
        WindowSettings s;
        readWindowSettings(ini(std::string("[recent bar]\nstyle=") + style + "\nrow=2\n"), s);
        EXPECT_EQ(s.recentBar.floating, floating) << style;
        EXPECT_EQ(s.recentBar.row, 2);
    }
}

TEST(WindowSettings, WrittenKeysReadBack) {
    WindowSettings s;
    s.x = -3;
    s.logHeight = 99;
    s.watchX = 11;
    s.rackY = 12;
    s.terminalX = 13;
    s.recent = {QStringLiteral("/a/one.nvs"), QStringLiteral("/b/two.nvs")};
    s.menuBar = {true, 0, 0, 300, 400};
    s.recentBar = {false, 4, 77};
    IniFile f = ini("[recent]\nMRU1=x\nMRU2=y\nMRU3=z\nMRU4=w\n");
    writeWindowSettings(f, s);
    EXPECT_FALSE(f.value("recent", "MRU3")) << "keys past the list are removed";
    EXPECT_EQ(f.value("menu bar", "x").value_or("?"), "300");
    EXPECT_FALSE(f.value("menu bar", "row")) << "a floating bar writes its place, not its row";

    WindowSettings r;
    ASSERT_TRUE(readWindowSettings(ini(f.serialize()), r));
    EXPECT_EQ(std::tie(r.x, r.logHeight, r.watchX, r.rackY, r.terminalX),
              std::tie(s.x, s.logHeight, s.watchX, s.rackY, s.terminalX));
    EXPECT_EQ(r.recent, s.recent);
    EXPECT_TRUE(r.menuBar.floating);
    EXPECT_EQ(std::tie(r.recentBar.row, r.recentBar.pos), std::tuple(4, 77));
}

// The real folder checks, as a user without root's rights (root keeps no settings beside a
// program and may write a read-only folder, so as root the check runs as "nobody"): a program
// folder the user owns and may write keeps the settings; a read-only one sends the writes to
// the user's configuration folder and still gives its own file as the defaults.
TEST(SettingsLocation, ReadOnlyProgramFolderMovesToTheUserConfig) {
    nvtest::TempDir d;
    ASSERT_EQ(chmod(d.path.c_str(), 0777), 0); // the user of the check makes its folders here
    const QString top = QString::fromStdString(d.path.string());
    const QString program = top + "/program", readOnly = top + "/readonly";
    const QString config = top + "/config", user = config + "/norvane/norvane.ini";
    const QByteArray before = qgetenv("XDG_CONFIG_HOME");
    qputenv("XDG_CONFIG_HOME", config.toUtf8());
    ShellPlatform& real = ShellPlatform::system();
    auto writes = [&](const QString& dir) {
        return settingsLocation(dir, real).writePath.toStdString();
    };
    if (geteuid() == 0) {
        ASSERT_TRUE(QDir().mkdir(top + "/root"));
        EXPECT_EQ(writes(top + "/root"), user.toStdString())
            << "root keeps no settings beside a program";
    }
    EXPECT_TRUE(nvtest::asNonRoot([&] {
        // Made by the user of the check, so that they are that user's own.
        EXPECT_TRUE(QDir().mkdir(program) && QDir().mkdir(readOnly) && QDir().mkdir(config));
        EXPECT_EQ(chmod(QFile::encodeName(readOnly).constData(), 0555), 0);
        EXPECT_EQ(writes(program), (program + "/norvane.ini").toStdString());
        EXPECT_EQ(writes(readOnly), user.toStdString());
        SettingsLocation loc = settingsLocation(readOnly, real);
        EXPECT_EQ(loc.readPath.toStdString(), (readOnly + "/norvane.ini").toStdString())
            << "defaults from beside the program";
        QString error;
        EXPECT_TRUE(saveIni(ini("[main]\nx=1\n"), loc.writePath, real, error))
            << error.toStdString();
        loc = settingsLocation(readOnly, real);
        EXPECT_EQ(loc.readPath.toStdString(), user.toStdString());
        EXPECT_EQ(loadIni(loc.readPath, real).value("main", "x").value_or("?"), "1");
        return !::testing::Test::HasFailure();
    }));
    qputenv("XDG_CONFIG_HOME", before);
}

// ---- recent list ----

TEST(RecentList, FiveMostRecentFirst) {
    RecentList r;
    for (const char* p : {"/s/a.nvs", "/s/b.nvs", "/s/c.nvs", "/s/d.nvs", "/s/e.nvs"})
        r.add(p);
    r.add("/s/./c.nvs"); // already there: to the front
    EXPECT_EQ(r.paths().front(), "/s/c.nvs");
    EXPECT_EQ(r.paths().size(), 5u);
    r.add("/s/f.nvs"); // a sixth: the oldest goes
    EXPECT_EQ(r.paths(),
              (std::vector<QString>{"/s/f.nvs", "/s/c.nvs", "/s/e.nvs", "/s/d.nvs", "/s/b.nvs"}));
    r.add("/s/F.nvs"); // Linux file names differ by case
    EXPECT_EQ(r.paths()[1], "/s/f.nvs");
    EXPECT_EQ(RecentList::label(2, "/x/my.test.nvs"), "&3 my.test");
}

// ---- colouring ----

namespace {
// One letter per byte: d(efault) c(omment) n(umber) k(eyword) s(tring) y (symbol).
std::string styled(std::string_view text, bool& inBrace) {
    std::vector<uint8_t> styles;
    classifyBytes(text, inBrace, styles);
    std::string out;
    for (uint8_t s : styles)
        out += "dcnksy"[s];
    return out;
}
} // namespace

TEST(Colouring, SyntaxClasses) {
    struct Case {
        const char* text;
        const char* styles;
    } cases[] = {
        {"for (i = 1", "kkkdyddydn"},
        {"x = 0x1F # c", "ddydnnnndccc"},
        {"send(\"a#{\")", "kkkkysssssy"},
        {"com1 9600baud 1.5", "ddddddddddddddnnn"},
        {"For endif2 writelog", "dddddddddddkkkkkkkk"},
        {"a {b} c", "ddcccdd"},
        {"a|b<>c", "dydyyd"},
    };
    for (const Case& c : cases) {
        bool inBrace = false;
        EXPECT_EQ(styled(c.text, inBrace), c.styles) << c.text;
        EXPECT_FALSE(inBrace) << c.text;
    }
}

TEST(Colouring, BraceCommentCarriesOverLines) {
    bool inBrace = false;
    EXPECT_EQ(styled("x { open", inBrace), "ddcccccc");
    EXPECT_TRUE(inBrace);
    EXPECT_EQ(styled("for still", inBrace), "ccccccccc");
    EXPECT_EQ(styled("end} if", inBrace), "ccccdkk");
    EXPECT_FALSE(inBrace);
}

// The editor takes the first listed family the system has, at 10 points; before, a
// family was taken only on an exact match, which a 10-point font never gives on a 96 dpi
// screen, so the listed families were never used.
TEST(Colouring, EditorFontIsTheFirstListedFamilyInstalled) {
    const QFont f = editorFont();
    EXPECT_EQ(f.pointSize(), 10);
    for (const char* family : kEditorFamilies)
        if (QFontDatabase::hasFamily(QString::fromLatin1(family))) {
            EXPECT_EQ(f.family().toStdString(), family);
            return;
        }
    EXPECT_EQ(f.styleHint(), QFont::TypeWriter) << "no listed family: the system's fixed font";
}

TEST(Colouring, TablesAndHints) {
    EXPECT_EQ(keywordTable().size(), 101u);
    EXPECT_EQ(completionList().size(), 102u);
    EXPECT_TRUE(completionList().back().empty());
    EXPECT_EQ(hintDefinitions().size(), 63u);
    EXPECT_EQ(hintFor("waitfor"), "waitfor(serial port,text,milliseconds)");
    EXPECT_EQ(hintFor("fread"), "fread(characters number)");
    EXPECT_EQ(hintFor("openport"), "openport (serial port,baudrate,databits,parity,stopbits)");
    EXPECT_EQ(hintFor("nosuch"), "");
}

TEST(Colouring, WebAddresses) {
    const std::string text = "see https://example.org/a?b=1, or www.norvane.test. xwww.no mailto:";
    std::vector<std::string> found;
    for (const UrlSpan& u : findUrls(text))
        found.push_back(text.substr(u.start, u.length));
    EXPECT_EQ(found, (std::vector<std::string>{"https://example.org/a?b=1", "www.norvane.test"}));
}

// ---- start-up ----

TEST(StartUp, OnlyOneArgumentNamingAFileRunsIt) {
    QTemporaryDir dir;
    const QString file = dir.filePath("s.nvs");
    QFile f(file);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.close();
    EXPECT_EQ(scriptArgument({file}), file);
    EXPECT_EQ(scriptArgument({}), "");
    EXPECT_EQ(scriptArgument({file, file}), "") << "two arguments: neither runs";
    EXPECT_EQ(scriptArgument({dir.filePath("none.nvs")}), "");
    EXPECT_EQ(scriptArgument({dir.path()}), "") << "a folder is no script";
    // A slot as shipped (all "V") holds no package: the editor starts.
    Package p;
    uint32_t state = 5;
    const std::string shipped = "CommThread"
                                "_init" +
                                std::string(262144, 'V') + "CommThread_free";
    EXPECT_EQ(findPackage(shipped, state, p), PackageCheck::None);
    EXPECT_EQ(state, 5u);
}

// ---- the editor's tables against the engine's ----

namespace {

// A host that shows nothing: enough to build the runtime with every subsystem plugged in.
struct SilentHost : ScriptHost {
    void processEvents() override {}
    int logLineCount() const override { return 0; }
    void clearLog() override {}
    void appendLog(std::string_view) override {}
};

std::string_view bareName(std::string_view keyword) {
    while (!keyword.empty() && (keyword.back() == '(' || keyword.back() == ' '))
        keyword.remove_suffix(1);
    return keyword;
}

} // namespace

TEST(EditorTables, EveryCommandAndFunctionIsColouredAndEveryHintNamesOne) {
    // The subsystems make the rack window at once, as the program does.
    SilentHost host;
    Runtime rt(host);
    Subsystems subsystems(rt, nullptr);
    const auto& keywords = keywordTable();
    auto isKeyword = [&](std::string_view n) {
        return std::find(keywords.begin(), keywords.end(), n) != keywords.end();
    };
    std::set<std::string_view> runtimeNames{"include"};
    for (const auto& row : rt.commands()) {
        runtimeNames.insert(bareName(row.keyword));
        EXPECT_TRUE(isKeyword(bareName(row.keyword))) << row.keyword;
    }
    for (const auto& row : rt.functions()) {
        runtimeNames.insert(row.name);
        EXPECT_TRUE(isKeyword(row.name)) << row.name;
    }
    for (std::string_view hint : hintDefinitions()) {
        const std::string_view name = bareName(hint.substr(0, hint.find('(')));
        EXPECT_TRUE(runtimeNames.count(name)) << hint;
    }
}
