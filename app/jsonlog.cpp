#include "app/jsonlog.h"

#include <QByteArray>
#include <cstdio>
#include <ctime>

#include "baseqt/displaytext.h"

namespace nv {

const char* logKindName(LogKind kind) {
    switch (kind) {
    case LogKind::Run:
        return "run";
    case LogKind::Output:
        return "output";
    case LogKind::Error:
        return "error";
    case LogKind::Fatal:
        return "fatal";
    case LogKind::Debug:
        return "debug";
    case LogKind::Message:
        break;
    }
    return "message";
}

std::string jsonString(std::string_view bytes) {
    const QByteArray utf8 = displayText(bytes).toUtf8();
    std::string out;
    out.reserve(size_t(utf8.size()) + 2);
    out += '"';
    for (const char ch : utf8) {
        const auto c = static_cast<unsigned char>(ch);
        switch (c) {
        case '"':
            out += "\\\"";
            break;
        case '\\':
            out += "\\\\";
            break;
        case '\n':
            out += "\\n";
            break;
        case '\r':
            out += "\\r";
            break;
        case '\t':
            out += "\\t";
            break;
        default:
            if (c < 0x20) {
                char esc[8];
                std::snprintf(esc, sizeof esc, "\\u%04x", c);
                out += esc;
            } else {
                out += ch;
            }
        }
    }
    out += '"';
    return out;
}

std::string isoTimeNow() {
    timespec ts{};
    clock_gettime(CLOCK_REALTIME, &ts);
    std::tm tm{};
    localtime_r(&ts.tv_sec, &tm);
    char date[32], zone[8];
    std::strftime(date, sizeof date, "%Y-%m-%dT%H:%M:%S", &tm);
    std::strftime(zone, sizeof zone, "%z", &tm); // +0100; ISO 8601 readers want +01:00
    char out[64];
    std::snprintf(out, sizeof out, "%s.%03ld%.3s:%.2s", date, ts.tv_nsec / 1000000, zone, zone + 3);
    return out;
}

std::string jsonLogLine(std::string_view time, std::string_view text, const LogInfo& info) {
    std::string out = "{\"time\":\"";
    out += time;
    out += '"';
    if (info.line > 0) out += ",\"line\":" + std::to_string(info.line);
    out += ",\"kind\":\"";
    out += logKindName(info.kind);
    out += "\",\"text\":";
    out += jsonString(text);
    out += '}';
    return out;
}

} // namespace nv
