#include "shell/bytetext.h"

namespace nv {

bool isValidUtf8(std::string_view s) {
    const auto* p = reinterpret_cast<const unsigned char*>(s.data());
    const size_t n = s.size();
    size_t i = 0;
    while (i < n) {
        const unsigned char c = p[i];
        if (c < 0x80) {
            ++i;
            continue;
        }
        int len;
        uint32_t cp;
        if (c >= 0xC2 && c <= 0xDF) {
            len = 2;
            cp = c & 0x1F;
        } else if (c >= 0xE0 && c <= 0xEF) {
            len = 3;
            cp = c & 0x0F;
        } else if (c >= 0xF0 && c <= 0xF4) {
            len = 4;
            cp = c & 0x07;
        } else {
            return false;
        }
        if (i + len > n) return false;
        for (int k = 1; k < len; ++k) {
            const unsigned char cc = p[i + k];
            if ((cc & 0xC0) != 0x80) return false;
            cp = (cp << 6) | (cc & 0x3F);
        }
        // Overlong forms, surrogates and code points beyond Unicode are not UTF-8.
        if ((len == 3 && cp < 0x800) || (len == 4 && cp < 0x10000) || cp > 0x10FFFF ||
            (cp >= 0xD800 && cp <= 0xDFFF))
            return false;
        i += len;
    }
    return true;
}

QString decodeText(std::string_view bytes, TextEncoding enc) {
    const auto size = static_cast<qsizetype>(bytes.size());
    return enc == TextEncoding::Utf8 ? QString::fromUtf8(bytes.data(), size)
                                     : QString::fromLatin1(bytes.data(), size);
}

QString displayText(std::string_view bytes) {
    return decodeText(bytes, detectEncoding(bytes));
}

std::string encodeText(const QString& text, TextEncoding enc, bool* lossless) {
    if (lossless) *lossless = true;
    if (enc == TextEncoding::Utf8) {
        const QByteArray b = text.toUtf8();
        return std::string(b.constData(), static_cast<size_t>(b.size()));
    }
    std::string out;
    out.reserve(static_cast<size_t>(text.size()));
    for (QChar ch : text) {
        if (ch.unicode() > 0xFF) {
            if (lossless) *lossless = false;
            out += '?';
        } else {
            out += static_cast<char>(ch.unicode());
        }
    }
    return out;
}

} // namespace nv
