// Script source preparation: include expansion, the `begin`/`end` frame, and the block
// validation that the Run command makes before a run is created.
#include <new>

#include "base/files.h"
#include "base/cipher.h"
#include "engine/lineinfo.h"
#include "engine/runcontrol.h"
#include "engine/text.h"

namespace nv {

bool Interpreter::includeFile(const std::string& line, std::string& text, std::string* named) {
    std::string name;
    std::vector<std::string> args;
    if (!splitCall(line, name, args) || name != "include" || args.size() != 2) return false;
    std::string file, password;
    // A gate (the checker) evaluates no call: an argument that holds one is refused as written.
    if (includeGate &&
        (args[0].find('(') != std::string::npos || args[1].find('(') != std::string::npos)) {
        includeGate(includeLine_, args[0], {});
        return false;
    }
    evaluate(args[0], file);
    evaluate(args[1], password);
    clearScriptError();
    if (named) *named = file;
    if (includeGate && !includeGate(includeLine_, file, password)) return false;
    // Only a regular file: a FIFO or device would hold the run (and the window) forever. A
    // name with a zero byte is refused rather than cut, and a file larger than memory fails.
    std::string content, why;
    try {
        if (readFile(file, content, why, ReadOptions{.regularOnly = true})) {
            text = cryptText(content, keyFromText(password), rt_.randomState);
            return true;
        }
    } catch (const std::bad_alloc&) { // no room for the deciphered copy
    }
    raiseScriptError("include: cannot include file.");
    return false;
}

void Interpreter::prepare(const std::vector<std::string>& editorLines) {
    program_ = editorLines;
    origins_.reset(editorLines.size());
    for (size_t i = 0; i < editorLines.size(); ++i) {
        const std::string& l = editorLines[i];
        if (!startsWith(l, "include(")) continue;
        std::string text, file;
        includeLine_ = static_cast<int>(i);
        if (!includeFile(l, text, &file)) continue;
        origins_.include(file, static_cast<int>(i), text, program_);
        // No separator: an included file without a final line break joins its last line
        // to the first program line.
        text += joinLines(program_);
        program_ = splitLines(text);
    }
    program_.insert(program_.begin(), "begin");
    program_.emplace_back("end");
    origins_.frame();

    lineInfo_.clear();
    lineInfo_.resize(program_.size());
    procedures_.clear();
    for (size_t i = 0; i < program_.size(); ++i) {
        const std::string& l = program_[i];
        if (l.size() >= 10 && equalsNoCase(std::string_view(l).substr(0, 10), "procedure "))
            procedures_.emplace(lowerAscii(l), static_cast<int>(i)); // the first one wins
    }
}

std::vector<BlockFault> blockFaults(const std::vector<std::string>& lines) {
    std::vector<BlockFault> faults;
    struct Open {
        const char* kind;
        int line; // where the block opened, so that an unterminated one can be pointed at
    };
    std::vector<Open> stack;
    int n = 0;
    for (const std::string& raw : lines) {
        ++n;
        const std::string_view t = trimView(raw);
        if (startsWith(t, "for ("))
            stack.push_back({"for", n});
        else if (startsWith(t, "if ("))
            stack.push_back({"if", n});
        else if (startsWith(t, "while ("))
            stack.push_back({"while", n});
        else if (t == "repeat")
            stack.push_back({"repeat", n});
        else if (startsWith(t, "procedure "))
            stack.push_back({"procedure", n});
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
            if (stack.empty() || std::string_view(stack.back().kind) != kind) {
                faults.push_back({n, std::string("unexpected ") + closer});
                break;
            }
            stack.pop_back();
        }
    }
    if (!stack.empty())
        faults.push_back(
            {stack.back().line, std::string("unterminated block (") + stack.back().kind + ")"});
    return faults;
}

std::string validateBlocks(const std::vector<std::string>& lines) {
    std::string message;
    // The unterminated block's line follows a line break even when it stands alone: the log
    // then shows an empty line above it, as it always has.
    for (const BlockFault& f : blockFaults(lines)) {
        if (f.text.rfind("unexpected ", 0) == 0)
            message += "Error: " + f.text + " on line " + std::to_string(f.line);
        else
            message += "\r\nError: " + f.text;
    }
    return message;
}

} // namespace nv
