#include "baseqt/displaytext.h"

namespace nv {

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
