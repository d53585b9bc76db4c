// The pure parts of the serial subsystem: the port map and name rules, the hex trace, the
// line-error texts, the receive buffer's trimming and the termios encoding of line settings.
#include <gtest/gtest.h>

#include <asm/termbits.h>

#include <cstdio>
#include <filesystem>
#include <fstream>

#include "serial/portmap.h"
#include "serial/posixserial.h"
#include "serial/terminal.h"

namespace nv::serial {
namespace {

// From the weakest: defaults, the lab's file, the user's file, NORVANE_PORTS, --port; each
// entry names where it came from.
TEST(PortMap, CommandLineBeatsEnvironmentBeatsUserBeatsLabBeatsDefaults) {
    const auto dir = std::filesystem::temp_directory_path();
    const auto user = dir / "serial_portmap_user.ini", lab = dir / "serial_portmap_lab.ini";
    std::ofstream(user) << "[terminal]\nx=5\ncom2=/dev/wrong\n[Ports]\nCOM2 = /dev/fromini\n"
                           "com40=\n; com3=/dev/comment\ncom5=/dev/user5\n";
    std::ofstream(lab) << "[ports]\ncom2=/dev/lab2\ncom6=/dev/lab6\ncom5=/dev/lab5\n";
    const PortMap map =
        PortMap::load({lab.string(),
                       user.string(),
                       "com3=/dev/env3;junk;com0x4=/x;com5=/dev/env5;com7=/dev/env7",
                       {"com7=/dev/opt7", "COM8 = /dev/opt8"}});
    std::filesystem::remove(user);
    std::filesystem::remove(lab);

    struct Case {
        int n;
        const char* path;
        std::string source;
    } cases[] = {
        {1, "/dev/ttyS0", "default"},
        {32, "/dev/ttyS31", "default"},
        {33, "/dev/ttyUSB0", "default"},
        {65, "/dev/ttyACM0", "default"},
        {96, "/dev/ttyACM31", "default"},
        {97, "", ""},
        {2, "/dev/fromini", user.string()},
        {6, "/dev/lab6", lab.string()},
        {3, "/dev/env3", "NORVANE_PORTS"},
        {5, "/dev/env5", "NORVANE_PORTS"},
        {7, "/dev/opt7", "--port"},
        {8, "/dev/opt8", "--port"},
        {40, "", user.string()} /* an empty entry removes the default */,
        {4, "/dev/ttyS3", "default"},
        {0, "", ""},
        {257, "", ""},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(map.path(c.n), c.path) << "com" << c.n;
        EXPECT_EQ(map.source(c.n), c.source) << "com" << c.n;
    }
    // What is not an entry is handed back, so that the command line can refuse it.
    PortMap other;
    EXPECT_EQ(other.apply("com1=/a;junk;com0x4=/x;com300=/y;;", ';'),
              (std::vector<std::string>{"junk", "com0x4=/x", "com300=/y"}));
}

// Keys with long numbers neither overflow nor land on a wrong port; leading zeros name the
// port they name in scripts.
TEST(PortMap, LongAndPaddedKeysMapToTheirOwnPortOrNone) {
    PortMap map;
    map.apply("com0001=/dev/one;com000000000000000000000256=/dev/last;com99999999999999999999=/x;"
              "com4294967298=/y;com257=/z;com0=/zero;com00000000000000000000=/zero2;com1000=/w",
              ';');
    EXPECT_EQ(map.path(1), "/dev/one");
    EXPECT_EQ(map.path(256), "/dev/last");
    for (int n = 2; n <= 255; ++n) {
        const std::string& p = map.path(n);
        EXPECT_TRUE(p.empty() || p.rfind("/dev/tty", 0) == 0) << "com" << n << " " << p;
    }
    EXPECT_EQ(map.path(0), "");
    EXPECT_EQ(map.path(257), "");
}

// "comN.reconnect" takes 0 or 1 and leaves the port's path alone; other suffixes and values
// are handed back like any entry that is not one.
TEST(PortMap, ReconnectIsOffUnlessAnEntrySetsIt) {
    PortMap map;
    EXPECT_EQ(map.apply("com5.reconnect=1;COM6.Reconnect = 1;com7.reconnect=yes;com8.speed=1;"
                        "com5.reconnect.x=1;com6.reconnect=0;com9.reconnect=1",
                        ';'),
              (std::vector<std::string>{"com7.reconnect=yes", "com8.speed=1",
                                        "com5.reconnect.x=1"}));
    EXPECT_TRUE(map.reconnect(5));
    EXPECT_FALSE(map.reconnect(6)); // the later entry wins
    EXPECT_FALSE(map.reconnect(7));
    EXPECT_TRUE(map.reconnect(9));
    EXPECT_FALSE(map.reconnect(1));
    EXPECT_EQ(map.path(5), "/dev/ttyS4");
}

TEST(PortMap, MissingSettingsFileIsNoError) {
    EXPECT_EQ(
        PortMap::load({"/nonexistent/lab.ini", "/nonexistent/norvane.ini", nullptr, {}}).path(5),
        "/dev/ttyS4");
}

TEST(PortNames, GeneralAndStrictRules) {
    struct Case {
        const char* name;
        std::optional<int> general, strict;
    } cases[] = {
        {"com4", 4, 4},
        {"COM4", 4, std::nullopt},
        {"\\\\.\\COM12", 12, std::nullopt},
        {"xcom7", 7, std::nullopt},
        {"com", std::nullopt, std::nullopt},
        {"com1a", std::nullopt, std::nullopt},
        {"port", std::nullopt, std::nullopt},
        {"com300", 300, 300},
        {"com-1", -1, -1},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(portNumberGeneral(c.name), c.general) << c.name;
        EXPECT_EQ(portNumberStrict(c.name), c.strict) << c.name;
    }
}

TEST(HexTrace, LineFormat) {
    EXPECT_EQ(traceLines("(R) ", "AB\r\n", 8),
              std::vector<std::string>{"(R)  41 42 0d 0a             : AB..    "});
    EXPECT_EQ(traceLines("(S) ", "HELLO WORLD\r", 8),
              (std::vector<std::string>{"(S)  48 45 4c 4c 4f 20 57 4f : HELLO WO",
                                        "(S)  52 4c 44 0d             : RLD.    "}));
    // Zero, DEL and high bytes: control bytes and DEL become ".", high bytes stay.
    EXPECT_EQ(traceLines("(R) ", std::string("\0\x7f\xff", 3), 3),
              std::vector<std::string>{std::string("(R)  00 7f ff : ..\xff", 19)});
    EXPECT_TRUE(traceLines("(R) ", "", 8).empty());
}

TEST(HexTrace, WidthBelowOneCannotLoop) {
    EXPECT_EQ(traceLines("(R) ", "ab", 0).size(), 2u);
    EXPECT_EQ(traceLines("(R) ", "ab", -5).size(), 2u);
}

TEST(LineErrors, OneExactValueNamesIt) {
    struct Case {
        uint32_t flags;
        const char* text;
    } cases[] = {
        {1, "An input buffer overflow has occurred"},
        {2, "Character-buffer overrun has occurred"},
        {4, "Parity error"},
        {8, "Framing error"},
        {16, "Break detected"},
        {256, "Output buffer was full"},
        {1024, "I/O Error"},
        {4 | 8, ""},
        {0, ""},
        {32, ""},
    };
    for (const auto& c : cases)
        EXPECT_EQ(lineErrorText(c.flags), c.text) << c.flags;
}

TEST(ReceiveBuffer, TrimsOnlyOncePastTheLimit) {
    std::string buf;
    std::string big(10000, 'a');
    big.back() = 'z';
    EXPECT_EQ(appendReceived(buf, big), 0u);
    EXPECT_EQ(buf.size(), 10000u); // one arrival into an empty buffer is kept whole
    EXPECT_EQ(appendReceived(buf, std::string(50, 'b')), 50u);
    EXPECT_EQ(buf.size(), 10000u); // the next deletes as many old bytes as it brings
    EXPECT_EQ(buf.substr(buf.size() - 51), "z" + std::string(50, 'b'));

    std::string small(8192, 'x');
    EXPECT_EQ(appendReceived(small, "yy"), 0u); // at the limit, nothing is deleted yet
    EXPECT_EQ(small.size(), 8194u);
}

TEST(Termios, EncodesEveryDataSizeParityAndStopBits) {
    // A rate with a standard speed code is set with it; BOTHER only for the others.
    struct Case {
        LineSettings s;
        uint32_t size, parity, stop, code;
    } cases[] = {
        {{9600, 8, ParityNone, StopOne}, CS8, 0, 0, B9600},
        {{19200, 7, ParityEven, StopTwo}, CS7, PARENB, CSTOPB, B19200},
        {{300, 5, ParityOdd, StopOneHalf}, CS5, PARENB | PARODD, CSTOPB, B300},
        {{250000, 6, ParityMark, StopOne}, CS6, PARENB | PARODD | CMSPAR, 0, BOTHER},
        {{110, 8, ParitySpace, StopOne}, CS8, PARENB | CMSPAR, 0, B110},
        {{14400, 8, ParityNone, StopOne}, CS8, 0, 0, BOTHER},
        {{4000000, 8, ParityNone, StopOne}, CS8, 0, 0, B4000000},
    };
    const uint32_t dirty = CS8 | PARENB | PARODD | CMSPAR | CSTOPB | CRTSCTS | HUPCL | B9600;
    for (const auto& c : cases) {
        const TermiosLine t = encodeLine(c.s, dirty);
        EXPECT_EQ(t.cflag & CSIZE, c.size);
        EXPECT_EQ(t.cflag & (PARENB | PARODD | CMSPAR), c.parity);
        EXPECT_EQ(t.cflag & CSTOPB, c.stop);
        EXPECT_EQ(t.cflag & CBAUD, c.code) << c.s.baud;
        EXPECT_EQ(t.cflag & (CREAD | CLOCAL), static_cast<uint32_t>(CREAD | CLOCAL));
        EXPECT_EQ(t.cflag & (CRTSCTS | HUPCL), 0u);
        EXPECT_EQ(t.speed, static_cast<uint32_t>(c.s.baud));
        LineSettings back = decodeLine(t.cflag, t.speed);
        if (c.s.stopBits == StopOneHalf) back.stopBits = StopOneHalf; // reads back as two
        EXPECT_EQ(back, c.s);
    }
}

TEST(Termios, RejectsWhatNoUartTakes) {
    for (const LineSettings& s :
         {LineSettings{0, 8, 0, 0}, LineSettings{-9600, 8, 0, 0}, LineSettings{9600, 9, 0, 0},
          LineSettings{9600, 4, 0, 0}, LineSettings{9600, 8, 5, 0}, LineSettings{9600, 8, 0, 3}})
        EXPECT_FALSE(settingsValid(s)) << s.baud << " " << int(s.dataBits);
    EXPECT_TRUE(settingsValid({115200, 7, ParityEven, StopTwo}));
}

TEST(Errno, OnePlaceMakesTheMessage) {
    EXPECT_EQ(deviceErrorText(ENOENT), "No such file or directory (2)");
}

} // namespace
} // namespace nv::serial
