// Turning script bytes into text a person reads, and back. Script files, the editor's text,
// log lines and variable values are byte strings; whatever a person sees is decoded as UTF-8
// when the bytes are valid UTF-8 and as Latin-1 otherwise, so that no byte is ever dropped
// or replaced on the way to the screen. The editor keeps the encoding a file was read in, so
// that a file opened and saved unchanged is the same byte for byte.
//
// This is the one place that decodes bytes for display: the log pane, the watch window,
// terminal traces, dialogs and rack texts all call it. Pure functions, callable from any
// thread. Errors: none; every byte string is accepted.
#pragma once

#include <QString>
#include <string>
#include <string_view>

#include "base/utf8.h"

namespace nv {

enum class TextEncoding { Utf8, Latin1 };

inline TextEncoding detectEncoding(std::string_view bytes) {
    return isValidUtf8(bytes) ? TextEncoding::Utf8 : TextEncoding::Latin1;
}

// Bytes as a person should see them.
QString displayText(std::string_view bytes);
QString decodeText(std::string_view bytes, TextEncoding enc);

// Text back to bytes. Latin-1 cannot hold every character: `lossless` (when given) is set to
// false when a character had to be replaced.
std::string encodeText(const QString& text, TextEncoding enc, bool* lossless = nullptr);

} // namespace nv
