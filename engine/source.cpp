// Script source preparation: include expansion, the `begin`/`end` frame, and the block
// validation that the Run command makes before a run is created.
#include <cerrno>
#include <fcntl.h>
#include <new>
#include <sys/stat.h>
#include <unistd.h>

#include "builder/cipher.h"
#include "engine/lineinfo.h"
#include "engine/runcontrol.h"
#include "engine/text.h"

namespace nv {

namespace {

// The whole content of a regular file, or false. A name with a zero byte would reach the
// file named by its first part, and anything but a regular file (a FIFO, a device) could
// hold the run forever: both are refused. The open itself must not wait for a FIFO's
// writer, hence O_NONBLOCK before the type is known.
bool readWholeFile(const std::string& path, std::string& out) {
    if (path.find('\0') != std::string::npos) return false;
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) return false;
    struct stat st {};
    bool ok = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
    out.clear();
    char buf[65536];
    try {
        while (ok) {
            const ssize_t n = ::read(fd, buf, sizeof buf);
            if (n < 0 && errno == EINTR) continue;
            if (n < 0)
                ok = false;
            else if (n == 0)
                break;
            else
                out.append(buf, static_cast<size_t>(n));
        }
    } catch (const std::bad_alloc&) { // a file larger than memory cannot be included
        ok = false;
    }
    ::close(fd);
    if (!ok) std::string().swap(out);
    return ok;
}

} // namespace

bool Interpreter::includeFile(const std::string& line, std::string& text) {
    std::string name;
    std::vector<std::string> args;
    if (!splitCall(line, name, args) || name != "include" || args.size() != 2) return false;
    std::string file, password;
    evaluate(args[0], file);
    evaluate(args[1], password);
    clearScriptError();
    std::string content;
    try {
        if (readWholeFile(file, content)) {
            text = CryptText(content, KeyFromText(password), rt_.randomState);
            return true;
        }
    } catch (const std::bad_alloc&) { // no room for the deciphered copy
    }
    raiseScriptError("include: cannot include file.");
    return false;
}

void Interpreter::prepare(const std::vector<std::string>& editorLines) {
    program_ = editorLines;
    for (const std::string& l : editorLines) {
        if (!startsWith(l, "include(")) continue;
        std::string text;
        if (!includeFile(l, text)) continue;
        // No separator: an included file without a final line break joins its last line
        // to the first program line.
        text += joinLines(program_);
        program_ = splitLines(text);
    }
    program_.insert(program_.begin(), "begin");
    program_.emplace_back("end");

    lineInfo_.clear();
    lineInfo_.resize(program_.size());
    procedures_.clear();
    for (size_t i = 0; i < program_.size(); ++i) {
        const std::string& l = program_[i];
        if (l.size() >= 10 && equalsNoCase(std::string_view(l).substr(0, 10), "procedure "))
            procedures_.emplace(lowerAscii(l), static_cast<int>(i)); // the first one wins
    }
}

std::string validateBlocks(const std::vector<std::string>& lines) {
    std::string message;
    std::vector<const char*> stack;
    struct Closer {
        const char* word;
        const char* kind;
    };
    int n = 0;
    for (const std::string& raw : lines) {
        ++n;
        const std::string_view t = trimView(raw);
        if (startsWith(t, "for ("))
            stack.push_back("for");
        else if (startsWith(t, "if ("))
            stack.push_back("if");
        else if (startsWith(t, "while ("))
            stack.push_back("while");
        else if (t == "repeat")
            stack.push_back("repeat");
        else if (startsWith(t, "procedure "))
            stack.push_back("procedure");
        else {
            const char* closer = nullptr;
            const char* kind = nullptr;
            if (t == "next")
                closer = "next", kind = "for";
            else if (t == "endif")
                closer = "endif", kind = "if";
            else if (t == "wend")
                closer = "wend", kind = "while";
            else if (t.find("until (") != std::string_view::npos)
                closer = "until", kind = "repeat";
            else if (t == "procend")
                closer = "procend", kind = "procedure";
            if (!closer) continue;
            if (stack.empty() || std::string_view(stack.back()) != kind) {
                message =
                    std::string("Error: unexpected ") + closer + " on line " + std::to_string(n);
                break;
            }
            stack.pop_back();
        }
    }
    if (!stack.empty())
        message += std::string("\r\nError: unterminated block (") + stack.back() + ")";
    return message;
}

} // namespace nv
