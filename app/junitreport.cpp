#include "app/junitreport.h"

#include <cstdio>

#include "base/files.h"

namespace nv {

std::string xmlText(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        const auto c = static_cast<unsigned char>(text[i]);
        switch (c) {
        case '&':
            out += "&amp;";
            continue;
        case '<':
            out += "&lt;";
            continue;
        case '>':
            out += "&gt;";
            continue;
        case '"':
            out += "&quot;";
            continue;
        case '\'':
            out += "&apos;";
            continue;
        case '\r':
            // Kept as a reference: a literal one would be read back as a line feed.
            out += "&#13;";
            continue;
        default:
            break;
        }
        if (c < 0x20 && c != '\t' && c != '\n') {
            // U+2400 + c, the control picture: E2 90 80+c.
            out += '\xE2';
            out += '\x90';
            out += static_cast<char>(0x80 + c);
        } else if (c == 0xEF && i + 2 < text.size() && text[i + 1] == '\xBF' &&
                   (text[i + 2] == '\xBE' || text[i + 2] == '\xBF')) {
            out += "\xEF\xBF\xBD"; // U+FFFE and U+FFFF are no XML characters
            i += 2;
        } else {
            out += static_cast<char>(c);
        }
    }
    return out;
}

namespace {

std::string seconds(double s) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%.3f", s < 0 ? 0.0 : s);
    return buf;
}

std::string localTimestamp(std::time_t t) {
    std::tm tm{};
    localtime_r(&t, &tm);
    char buf[32];
    std::strftime(buf, sizeof buf, "%Y-%m-%dT%H:%M:%S", &tm);
    return buf;
}

// "benches/psu check.nvs" -> "psu check": the name a reporter groups the case under.
std::string stem(const std::string& script) {
    std::string name = script.substr(script.rfind('/') + 1);
    if (const size_t dot = name.rfind('.'); dot != std::string::npos && dot > 0) name.erase(dot);
    return name.empty() ? script : name;
}

} // namespace

std::string junitXml(const JunitRun& run) {
    const std::string failures = run.status != 0 ? "1" : "0";
    const std::string time = seconds(run.seconds);
    const std::string group = xmlText(stem(run.script));
    std::string x = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";
    x += "<testsuites name=\"norvane-run\" tests=\"1\" failures=\"" + failures +
         "\" errors=\"0\" time=\"" + time + "\">\n";
    x += "  <testsuite name=\"" + group + "\" tests=\"1\" failures=\"" + failures +
         "\" errors=\"0\" skipped=\"0\" time=\"" + time + "\" timestamp=\"" +
         localTimestamp(run.start) + "\" hostname=\"" + xmlText(run.hostname) + "\">\n";
    x += "    <testcase classname=\"" + group + "\" name=\"" +
         xmlText(run.script.substr(run.script.rfind('/') + 1)) + "\" time=\"" + time + "\">\n";
    if (run.status != 0) {
        x += "      <failure type=\"" + xmlText(run.type) + "\" message=\"" + xmlText(run.failure) +
             "\">" + xmlText(run.failure);
        if (run.type != "status") x += "\nexit status " + std::to_string(run.status);
        x += "</failure>\n";
    }
    x += "      <system-out>" + xmlText(run.log) + "</system-out>\n";
    x += "    </testcase>\n  </testsuite>\n</testsuites>\n";
    return x;
}

bool writeJunitReport(const std::string& path, const JunitRun& run, std::string& error) {
    return safeSave(path, junitXml(run), error);
}

} // namespace nv
