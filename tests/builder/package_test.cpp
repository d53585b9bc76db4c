// The package format on its own: building a package into a program image and restoring it,
// with a small image holding one slot and rack files whose validity the test decides.
#include "base/cipher.h"
#include "builder/package.h"
#include "tests/support/tempdir.h"

#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace fs = std::filesystem;
using namespace nv;

namespace {

using nvtest::put;
using nvtest::TempDir;

std::string contentOf(const fs::path& p) {
    std::ifstream f(p, std::ios::binary);
    if (!f) return "<missing>";
    return {std::istreambuf_iterator<char>(f), {}};
}

// A program image as shipped: code before and after the slot.
std::string shippedImage() {
    return "\x7f"
           "ELF code..." +
           package::startMarker() + std::string(package::kBodyBytes, 'V') + "CommThread_free" +
           "...more code";
}

// The package in an image: from the body to the first "[embe]" included.
std::string packageIn(const std::string& image) {
    const size_t body = image.find(package::startMarker()) + package::kMarkerBytes;
    const size_t end = image.find("[embe]", body);
    return end == std::string::npos ? std::string() : image.substr(body, end + 6 - body);
}

// Builds in `dir` (the current folder for relative rack names) with racks whose content is
// "bad" counted as invalid.
struct Build {
    std::vector<std::string> log;
    package::BuildResult result;
    uint32_t state = 0;

    Build(const TempDir& dir, std::vector<std::string> lines, std::string image = shippedImage()) {
        const fs::path here = fs::current_path();
        fs::current_path(dir.path);
        package::BuildInput in;
        in.programImage = std::move(image);
        in.lines = std::move(lines);
        in.terminalResPath = dir / "terminal.res";
        in.log = [this](const std::string& l) { log.push_back(l); };
        in.rackIsValid = [](const std::string& p) { return contentOf(p) != "bad"; };
        result = package::build(std::move(in), state);
        fs::current_path(here);
    }
    // The log after "Adding racks".
    std::vector<std::string> rackLog() const {
        auto it = std::find(log.begin(), log.end(), "Adding terminal.res (required)");
        return {it + 1, log.end()};
    }
};

class PackageBuild : public ::testing::Test {
  protected:
    TempDir dir;
    void SetUp() override {
        put(dir / "terminal.res", "TERMINAL");
        put(dir / "a.res", "RACK A");
        put(dir / "b.res", "RACK B");
        put(dir / "bad.res", "bad");
        fs::create_directory(dir / "sub");
        put(dir.path / "sub" / "a.res", "RACK A IN SUB");
    }
};

} // namespace

TEST(Package, OpenrackFileNameIsTheFirstArgumentWithoutItsOuterCharacters) {
    const std::pair<std::string, std::string> cases[] = {
        {R"(openrack("panel.res"))", "panel.res"},
        {R"(openrack( "my panel.res" ,2))", "my panel.res"},
        {R"(openrack("a,b.res"))", "a,b.res"},   // a comma inside quotes
        {R"(openrack("a(1).res"))", "a(1).res"}, // parentheses inside quotes
        {R"(openrack(name))", "am"},             // a variable: its text loses two characters
        {R"(openrack((x), "y"))", "x"},          // nested parentheses at depth 1
        {R"(openrack)", ""},                     // no "("
        {R"(openrack(""))", ""},
    };
    for (const auto& [line, name] : cases)
        EXPECT_EQ(package::openrackFileName(line), name) << line;
}

TEST(Package, MarkerIsComposedAndThePhraseGivesTheKey) {
    EXPECT_EQ(package::startMarker(), "CommThread_init");
    EXPECT_EQ(package::kSlotBytes, 262174u);
}

TEST_F(PackageBuild, PacksScriptTerminalAndEachRackOnceAndRestoresThem) {
    const std::vector<std::string> lines = {
        "# openrack(\"b.res\") in a comment is not packed",
        "  openrack(\"a.res\")  ",
        "x = 1 openrack(\"b.res\")",
        "openrack(\"sub/a.res\")", // same file name: packed once, the first one
        "openrack(\"b.res\", 1)",
        "openrack(\"a.res\")",
    };
    Build b(dir, lines);
    ASSERT_TRUE(b.result.ok) << b.result.error;
    EXPECT_EQ(b.log, (std::vector<std::string>{"Building", "Adding header", "Adding script",
                                               "Adding racks", "Adding terminal.res (required)",
                                               "Found rack a.res", "Found rack b.res", "Done"}));

    const std::string image = b.result.image;
    const std::string shipped = shippedImage();
    ASSERT_EQ(image.size(), shipped.size());
    const std::string pkg = packageIn(image);
    std::string plain;
    for (const auto& l : lines)
        plain += l + "\r\n";
    uint32_t s = 0;
    const std::string expected = "[names]Norvane[namee][versions]1.5[versione][scripts]" +
                                 cryptText(plain, keyFromText(package::passPhrase()), s) +
                                 "[scripte]" + "[racks terminal.res" + std::string(31, ' ') +
                                 "TERMINAL[racke]" + "[racks a.res" + std::string(38, ' ') +
                                 "RACK A[racke]" + "[racks b.res" + std::string(38, ' ') +
                                 "RACK B[racke][embe]";
    EXPECT_EQ(pkg, expected);
    EXPECT_EQ(b.state, s) << "the build advances the shared generator";
    // Everything outside the package is as shipped.
    const size_t body = image.find(package::startMarker()) + package::kMarkerBytes;
    EXPECT_EQ(image.substr(0, body), shipped.substr(0, body));
    EXPECT_EQ(image.substr(body + pkg.size()), shipped.substr(body + pkg.size()));

    TempDir out;
    uint32_t state = 0;
    const std::string slot = image.substr(body - package::kMarkerBytes, package::kSlotBytes);
    const package::Restored r = package::restore(slot, out.path.string(), state);
    EXPECT_TRUE(r.present);
    EXPECT_TRUE(r.racksWritten);
    EXPECT_EQ(r.script, plain);
    EXPECT_EQ(state, s);
    EXPECT_EQ(contentOf(out / "terminal.res"), "TERMINAL");
    EXPECT_EQ(contentOf(out / "a.res"), "RACK A");
    EXPECT_EQ(contentOf(out / "b.res"), "RACK B");
}

TEST_F(PackageBuild, FailuresLogTheirReasonAndGiveNoImage) {
    struct Case {
        std::vector<std::string> lines;
        std::vector<std::string> rackLog;
        std::string error;
        std::string note = {}; // the line after the error, naming an unquoted argument
    };
    const Case cases[] = {
        {{"writelog(1)"}, {}, "Sorry, no racks found !"},
        // A missing file ends the scan at once: b.res is never looked at.
        {{"openrack(\"a.res\")", "openrack(\"gone.res\")", "openrack(\"b.res\")"},
         {"Found rack a.res"},
         "Rack file not found gone.res"},
        // An argument that is no quoted name: the design's line with its name cut at both
        // ends, then a line that names the script line and says what the builder follows.
        {{"openrack(name)"},
         {},
         "Rack file not found am",
         "Line 1: openrack(name) does not name its rack in quotes; the builder packs only a rack "
         "named so, as openrack(\"psu.res\"), from the folder it builds in"},
        {{"here = \"racks/\"", "  openrack(here & \"psu.res\")"},
         {},
         "Rack file not found ere & \"psu.res",
         "Line 2: openrack(here & \"psu.res\") does not name its rack in quotes; the builder "
         "packs only a rack named so, as openrack(\"psu.res\"), from the folder it builds in"},
        // An invalid rack is left out and the build goes on: with nothing else, no racks.
        {{"openrack(\"bad.res\")", "openrack(\"bad.res\")"},
         {"Found rack bad.res", "Rack file not valid bad.res", "Found rack bad.res",
          "Rack file not valid bad.res"},
         "Sorry, no racks found !"},
        // A folder is no rack file.
        {{"openrack(\"sub\")"},
         {"Found rack sub", "Rack file not valid sub"},
         "Sorry, no racks found !"},
        // 44 characters do not fit the entry's name field.
        {{"openrack(\"" + std::string(44, 'n') + "\")"},
         {},
         "Rack file name longer than 43 characters " + std::string(44, 'n')},
    };
    put(dir / std::string(44, 'n'), "RACK");
    for (const Case& c : cases) {
        Build b(dir, c.lines);
        EXPECT_FALSE(b.result.ok);
        EXPECT_TRUE(b.result.image.empty());
        std::vector<std::string> want = c.rackLog;
        want.push_back("Error building:");
        want.push_back(c.error);
        if (!c.note.empty()) want.push_back(c.note);
        EXPECT_EQ(b.rackLog(), want) << c.lines[0];
    }
    // With a valid rack beside it, the invalid one is only left out.
    Build mixed(dir, {"openrack(\"bad.res\")", "openrack(\"a.res\")"});
    EXPECT_TRUE(mixed.result.ok);
    EXPECT_EQ(packageIn(mixed.result.image).find("bad"), std::string::npos);
}

TEST_F(PackageBuild, TerminalLayoutAndSlotMustBeThere) {
    Build noSlot(dir, {"openrack(\"a.res\")"}, "a program without a slot");
    EXPECT_EQ(noSlot.log, (std::vector<std::string>{"Building", "Error building:",
                                                    "The program file holds no package slot."}));
    // A marker too close to the end is no slot either.
    Build cut(dir, {"openrack(\"a.res\")"}, "code" + package::startMarker() + "VVVV");
    EXPECT_FALSE(cut.result.ok);

    fs::remove(dir / "terminal.res");
    Build noTerminal(dir, {"openrack(\"a.res\")"});
    EXPECT_FALSE(noTerminal.result.ok);
    EXPECT_EQ(noTerminal.result.error,
              "Rack file not valid (bad format or not in the Norvane folder) terminal.res" +
                  std::string(31, ' '));
}

TEST_F(PackageBuild, PackageOf262143BytesIsAcceptedAnd262144Refused) {
    // Measure the package with an empty comment line, then grow that line to each size.
    Build probe(dir, {"#", "openrack(\"a.res\")"});
    ASSERT_TRUE(probe.result.ok);
    const size_t base = packageIn(probe.result.image).size();
    for (const size_t size : {package::kBodyBytes - 1, package::kBodyBytes}) {
        Build b(dir, {"#" + std::string(size - base, 'x'), "openrack(\"a.res\")"});
        if (size < package::kBodyBytes) {
            ASSERT_TRUE(b.result.ok) << b.result.error;
            EXPECT_EQ(packageIn(b.result.image).size(), size);
        } else {
            EXPECT_FALSE(b.result.ok);
            EXPECT_EQ(b.result.error, "Sorry, code and racks size to big !");
        }
    }
}

TEST_F(PackageBuild, BuildingFromABuiltProgramKeepsTheLongerRemainder) {
    Build first(dir, {"# a long script " + std::string(5000, 'x'), "openrack(\"a.res\")"});
    ASSERT_TRUE(first.result.ok);
    Build second(dir, {"openrack(\"b.res\")"}, first.result.image);
    ASSERT_TRUE(second.result.ok);
    const std::string& img = second.result.image;
    const std::string newPkg = packageIn(img);
    const size_t body = img.find(package::startMarker()) + package::kMarkerBytes;
    // After the new package, the old one's bytes go on where it was longer.
    EXPECT_EQ(img.substr(body + newPkg.size()), first.result.image.substr(body + newPkg.size()));
    EXPECT_NE(img.find("RACK A[racke][embe]", body), std::string::npos);

    // Restoring reads every entry, also those after the first "[embe]".
    TempDir out;
    uint32_t state = 0;
    const auto r = package::restore(img.substr(body - 15, package::kSlotBytes), out.path, state);
    EXPECT_TRUE(r.racksWritten);
    EXPECT_EQ(r.script, "openrack(\"b.res\")\r\n");
    EXPECT_EQ(contentOf(out / "b.res"), "RACK B");
    EXPECT_EQ(contentOf(out / "a.res"), "RACK A");
}

namespace {

std::string entry(const std::string& field, const std::string& data) {
    std::string name = field;
    name.resize(package::kRackNameBytes, ' ');
    return "[racks " + name + data + "[racke]";
}

std::string slotWith(const std::string& pkg) {
    std::string body = pkg;
    body.resize(package::kBodyBytes, 'V');
    return package::startMarker() + body + "CommThread_free";
}

} // namespace

TEST(PackageRestore, ShippedSlotIsNoPackage) {
    uint32_t state = 7;
    const auto r = package::restore(slotWith(""), "/nonexistent", state);
    EXPECT_FALSE(r.present);
    EXPECT_EQ(state, 7u);
}

TEST(PackageRestore, NamesAreTrimmedAndLaterEntriesWin) {
    TempDir out;
    const std::string n43(43, 'r');
    const std::string pkg = "[names]Norvane[namee][scripts][scripte]" + entry(n43, "FULL") +
                            entry("\t  padded.res", "P1") + entry("padded.res", "P2") + "[embe]" +
                            entry("late.res", "LATE");
    uint32_t state = 0;
    const auto r = package::restore(slotWith(pkg), out.path, state);
    EXPECT_TRUE(r.present);
    EXPECT_TRUE(r.racksWritten);
    EXPECT_EQ(r.script, "");
    EXPECT_EQ(contentOf(out / n43), "FULL");
    EXPECT_EQ(contentOf(out / "padded.res"), "P2");
    EXPECT_EQ(contentOf(out / "late.res"), "LATE");
}

TEST(PackageRestore, NamesThatLeaveTheFolderAreRefusedAndWriteNothing) {
    const std::string names[] = {"../escape.res",        "sub/x.res", ".",           "..",
                                 std::string("a\0b", 3), "",          "/tmp/abs.res"};
    for (const std::string& name : names) {
        TempDir parent;
        fs::create_directory(parent / "run");
        const std::string pkg =
            "[names]Norvane[namee]" + entry(name, "EVIL") + entry("good.res", "GOOD") + "[embe]";
        uint32_t state = 0;
        const auto r = package::restore(slotWith(pkg), parent / "run", state);
        EXPECT_FALSE(r.racksWritten) << name;
        // Every other entry is still tried.
        EXPECT_EQ(contentOf(parent.path / "run" / "good.res"), "GOOD");
        EXPECT_FALSE(fs::exists(parent / "escape.res"));
        EXPECT_FALSE(fs::exists("/tmp/abs.res"));
    }
}

// In a shared bench folder someone plants links at the names a built program writes: each
// is replaced by the rack, and neither the file it pointed at nor the place a dangling one
// pointed to is touched.
TEST(PackageRestore, LinksPlantedAtTheNamesAreReplacedNeverFollowed) {
    TempDir parent;
    fs::create_directory(parent / "run");
    fs::create_directory(parent / "other");
    put(parent / "other/victim.txt", "precious");
    fs::create_symlink("../other/victim.txt", parent / "run/panel.res");
    fs::create_symlink("../other/created.txt", parent / "run/terminal.res");
    const std::string pkg = "[names]Norvane[namee]" + entry("terminal.res", "TERM") +
                            entry("panel.res", "PANEL") + "[embe]";
    uint32_t state = 0;
    const auto r = package::restore(slotWith(pkg), parent / "run", state);
    EXPECT_TRUE(r.racksWritten);
    EXPECT_EQ(contentOf(parent / "other/victim.txt"), "precious");
    EXPECT_FALSE(fs::exists(parent / "other/created.txt"));
    for (const char* name : {"panel.res", "terminal.res"})
        EXPECT_FALSE(fs::is_symlink(parent.path / "run" / name)) << name;
    EXPECT_EQ(contentOf(parent / "run/panel.res"), "PANEL");
    EXPECT_EQ(contentOf(parent / "run/terminal.res"), "TERM");
}

TEST(PackageRestore, CutOffEntryAndUnwritableFolderFail) {
    TempDir out;
    uint32_t state = 0;
    // The last entry has no end tag before the end of the slot.
    std::string slot = slotWith("[names]Norvane[namee]" + entry("ok.res", "OK"));
    slot.replace(slot.size() - 100, 7, "[racks ");
    auto r = package::restore(slot, out.path, state);
    EXPECT_FALSE(r.racksWritten);
    EXPECT_EQ(contentOf(out / "ok.res"), "OK");

    r = package::restore(slotWith("[names]Norvane[namee]" + entry("x.res", "X")),
                         out / "no-such-folder", state);
    EXPECT_FALSE(r.racksWritten);
}
