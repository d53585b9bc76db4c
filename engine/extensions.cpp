// Functions and commands added to the language for bench work: parameters from the command
// line and the environment, a sleep that costs no processor time, bit operations on 32-bit
// unsigned values and the CRC-16 variants instrument protocols use. Every name is new, so no
// script that ran before changes; a bad argument is reported as the language's other
// functions report theirs ("NAME: unexpected argument.", `error` 1).
#include <array>
#include <cmath>
#include <cstdint>
#include <cstdlib>

#include "engine/builtins.h"
#include "engine/interpreter.h"
#include "engine/runtime.h"
#include "engine/text.h"
#include "engine/value.h"

namespace nv {

namespace {

// A 32-bit unsigned operand: a whole number from 0 to 4294967295, written as any number
// (`255`, `255.0`, `2.55E2`) or in hexadecimal after `$`, `x`, `X`, `0x` or `0X` (up to
// `$FFFFFFFF`: these are bit patterns). Negative, fractional, larger or non-numeric values
// are refused rather than wrapped, since a wrapped mask would hide the mistake.
bool parseUnsigned32(std::string_view text, uint32_t& out) {
    const std::string_view t = trimView(text);
    size_t digits = 0;
    if (!t.empty() && (t[0] == '$' || t[0] == 'x' || t[0] == 'X'))
        digits = 1;
    else if (t.size() > 1 && t[0] == '0' && (t[1] == 'x' || t[1] == 'X'))
        digits = 2;
    if (digits) {
        if (digits == t.size()) return false;
        uint64_t n = 0;
        for (size_t i = digits; i < t.size(); ++i) {
            const char c = t[i];
            int d;
            if (c >= '0' && c <= '9')
                d = c - '0';
            else if (c >= 'a' && c <= 'f')
                d = c - 'a' + 10;
            else if (c >= 'A' && c <= 'F')
                d = c - 'A' + 10;
            else
                return false;
            n = n * 16 + static_cast<uint64_t>(d);
            if (n > 0xFFFFFFFFull) return false;
        }
        out = static_cast<uint32_t>(n);
        return true;
    }
    double v;
    if (t.empty() || !isNumber(t, &v)) return false;
    if (!(v >= 0 && v <= 4294967295.0) || v != std::floor(v)) return false;
    out = static_cast<uint32_t>(v);
    return true;
}

std::string unexpected(std::string_view name) {
    return std::string(name) + ": unexpected argument.";
}

// The two operands of a bit function, or its error reported.
bool twoOperands(FnCall& c, std::string_view name, uint32_t& a, uint32_t& b) {
    if (parseUnsigned32(c.args[0], a) && parseUnsigned32(c.args[1], b)) return true;
    c.ex.raiseScriptError(unexpected(name));
    return false;
}

FnResult bitResult(uint32_t v) {
    return numberResult(true, formatInt(int64_t{v}));
}

FnResult fnBand(FnCall& c) {
    uint32_t a, b;
    if (!twoOperands(c, "band", a, b)) return numberResult(c.argsOk, "");
    return bitResult(a & b);
}
FnResult fnBor(FnCall& c) {
    uint32_t a, b;
    if (!twoOperands(c, "bor", a, b)) return numberResult(c.argsOk, "");
    return bitResult(a | b);
}
FnResult fnBxor(FnCall& c) {
    uint32_t a, b;
    if (!twoOperands(c, "bxor", a, b)) return numberResult(c.argsOk, "");
    return bitResult(a ^ b);
}
// A shift by 32 places or more moves every bit out: the result is 0 (not the processor's
// shift by the count modulo 32).
FnResult fnShl(FnCall& c) {
    uint32_t a, n;
    if (!twoOperands(c, "shl", a, n)) return numberResult(c.argsOk, "");
    return bitResult(n >= 32 ? 0 : a << n);
}
FnResult fnShr(FnCall& c) {
    uint32_t a, n;
    if (!twoOperands(c, "shr", a, n)) return numberResult(c.argsOk, "");
    return bitResult(n >= 32 ? 0 : a >> n);
}

// The bit functions on integers: the handlers' steps where parseUnsigned32 reads both texts
// as the integers themselves (0 to 4294967295); anything else goes to the handler.
bool unsignedPair(const int64_t* a, uint32_t& x, uint32_t& y) {
    constexpr int64_t kMost = 0xFFFFFFFFll;
    if (a[0] < 0 || a[0] > kMost || a[1] < 0 || a[1] > kMost) return false;
    x = static_cast<uint32_t>(a[0]);
    y = static_cast<uint32_t>(a[1]);
    return true;
}
bool intBand(const int64_t* a, int64_t& r) {
    uint32_t x, y;
    if (!unsignedPair(a, x, y)) return false;
    r = x & y;
    return true;
}
bool intBor(const int64_t* a, int64_t& r) {
    uint32_t x, y;
    if (!unsignedPair(a, x, y)) return false;
    r = x | y;
    return true;
}
bool intBxor(const int64_t* a, int64_t& r) {
    uint32_t x, y;
    if (!unsignedPair(a, x, y)) return false;
    r = x ^ y;
    return true;
}
bool intShl(const int64_t* a, int64_t& r) {
    uint32_t x, n;
    if (!unsignedPair(a, x, n)) return false;
    r = n >= 32 ? 0 : uint32_t(x << n);
    return true;
}
bool intShr(const int64_t* a, int64_t& r) {
    uint32_t x, n;
    if (!unsignedPair(a, x, n)) return false;
    r = n >= 32 ? 0 : x >> n;
    return true;
}

// The CRC-16 variants by their usual names: polynomial, start value and bit order. None of
// them inverts the result.
struct Crc16Kind {
    std::string_view name;
    uint16_t poly; // as written most significant bit first; reflected kinds use it reversed
    uint16_t init;
    bool reflected;
};
constexpr Crc16Kind kCrc16Kinds[] = {
    {"modbus", 0x8005, 0xFFFF, true},
    {"xmodem", 0x1021, 0x0000, false},
    {"ccitt-false", 0x1021, 0xFFFF, false},
};

uint16_t reverse16(uint16_t v) {
    uint16_t r = 0;
    for (int i = 0; i < 16; ++i)
        if (v & (1u << i)) r |= static_cast<uint16_t>(1u << (15 - i));
    return r;
}

// One table per kind (256 steps of eight bits each), built on first use: a byte a step, as
// checksums over received blocks of kilobytes need.
uint16_t crc16(std::string_view bytes, const Crc16Kind& k) {
    using Table = std::array<uint16_t, 256>;
    static const auto tables = [] {
        std::array<Table, std::size(kCrc16Kinds)> all{};
        for (size_t t = 0; t < all.size(); ++t) {
            const Crc16Kind& kind = kCrc16Kinds[t];
            const uint16_t poly = kind.reflected ? reverse16(kind.poly) : kind.poly;
            for (unsigned b = 0; b < 256; ++b) {
                uint16_t crc = static_cast<uint16_t>(kind.reflected ? b : b << 8);
                for (int i = 0; i < 8; ++i)
                    crc =
                        kind.reflected
                            ? static_cast<uint16_t>((crc & 1) ? (crc >> 1) ^ poly : crc >> 1)
                            : static_cast<uint16_t>((crc & 0x8000) ? (crc << 1) ^ poly : crc << 1);
                all[t][b] = crc;
            }
        }
        return all;
    }();
    const Table& table = tables[static_cast<size_t>(&k - kCrc16Kinds)];
    uint16_t crc = k.init;
    for (const char ch : bytes) {
        const auto b = static_cast<unsigned char>(ch);
        crc = k.reflected ? static_cast<uint16_t>((crc >> 8) ^ table[(crc ^ b) & 0xFF])
                          : static_cast<uint16_t>((crc << 8) ^ table[((crc >> 8) ^ b) & 0xFF]);
    }
    return crc;
}

// crc16(TEXT, KIND): the text's bytes as they stand (zero bytes too); the kind in any case.
// The empty text gives the kind's start value, as the checksum of no bytes is.
// Written on views, so that a block handed over by an inner call (`crc16(mid(x, 1, 4096),
// "xmodem")`) is read where it lies.
void valCrc16(const FnArgs& c, FnValue& r) {
    const std::string kind = lowerAscii(trimView(c.args[1]));
    for (const Crc16Kind& k : kCrc16Kinds) {
        if (k.name == kind) {
            r.setInteger(true, crc16(c.args[0], k));
            return;
        }
    }
    const bool argsOk = c.argsOk;
    c.ex.raiseScriptError(unexpected("crc16"));
    r.setNumber(argsOk, "");
}

// getarg(N): 0 the script's name, 1... the arguments after it; empty past the end.
FnResult fnGetarg(FnCall& c) {
    int32_t n;
    if (!parseInteger(c.args[0], n) || n < 0) {
        c.ex.raiseScriptError(unexpected("getarg"));
        return textResult(c.argsOk, "");
    }
    const auto& args = c.ex.runtime().scriptArguments;
    return textResult(true, size_t(n) < args.size() ? std::string_view(args[size_t(n)]) : "");
}

// getenv(NAME): the variable's value; empty when it is not set (a name holding a zero byte
// can never be set).
FnResult fnGetenv(FnCall& c) {
    const std::string& name = c.args[0];
    const char* v = name.find('\0') == std::string::npos ? std::getenv(name.c_str()) : nullptr;
    return textResult(true, v ? v : "");
}

// sleep(MS): the run waits with the window alive; Stop ends the wait at once. A negative or
// non-numeric time is refused, 0 only lets pending events through.
bool cmdSleep(CommandCall& c) {
    int32_t ms;
    if (!parseInteger(c.args[0], ms) || ms < 0) {
        c.ex.raiseScriptError(unexpected("sleep"));
        return true;
    }
    c.ex.waitUntil(ms, [] { return false; });
    return true;
}

} // namespace

void installExtensions(Runtime& rt) {
    const struct {
        std::string_view name;
        int argc;
        FnResult (*fn)(FnCall&);
    } functions[] = {
        {"getarg", 1, fnGetarg}, {"getenv", 1, fnGetenv}, {"band", 2, fnBand}, {"bor", 2, fnBor},
        {"bxor", 2, fnBxor},     {"shl", 2, fnShl},       {"shr", 2, fnShr},
    };
    for (const auto& f : functions)
        rt.setFunction(f.name, f.argc, f.fn);
    rt.setValueFunction("crc16", 2, valCrc16);
    rt.setIntegerFunction("band", 2, intBand);
    rt.setIntegerFunction("bor", 2, intBor);
    rt.setIntegerFunction("bxor", 2, intBxor);
    rt.setIntegerFunction("shl", 2, intShl);
    rt.setIntegerFunction("shr", 2, intShr);
    rt.addCommand({.keyword = "sleep(", .argCounts = {1}, .handler = cmdSleep});
}

} // namespace nv
