// The open-file commands and functions. Their handle tests differ on purpose: fopen is
// allowed below 1, fread refuses below 1, fwrite and fseek need it above 0.
#include <exception>

#include "commands/commands.h"
#include "commands/posix.h"
#include "engine/interpreter.h"
#include "engine/runtime.h"
#include "engine/text.h"
#include "engine/value.h"

namespace nv {
namespace {

// A failed argument counts as empty, as for every function: its partial result (7 of
// `7 / 0`) must not become a count or a name.
std::string evaluated(Interpreter& ex, const std::string& text) {
    std::string v;
    if (!ex.evaluate(text, v)) v.clear();
    return v;
}

} // namespace

void FilesAndSystem::installFiles(Runtime& rt) {
    rt.addCommand({.keyword = "fcreate(",
                   .argCounts = {1},
                   .failure = "fcreate: error creating file",
                   .handler = [](CommandCall& c) {
                       if (!sys::createEmpty(c.args[0]))
                           c.ex.raiseScriptError("fcreate: error creating file");
                       return true;
                   }});

    rt.addCommand({.keyword = "fclose(", .argCounts = {0}, .handler = [this](CommandCall& c) {
                       const int h = dm_.handle;
                       dm_.handle = 0;
                       if (h > 0 && !sys::closeFd(h))
                           c.ex.raiseScriptError("fclose: error closing file");
                       return true;
                   }});

    // Without an open file fseek evaluates nothing: its arguments' side effects do not happen.
    rt.addCommand({.keyword = "fseek(",
                   .argCounts = {2},
                   .eval = ArgEval::Custom,
                   .failure = "fseek: error seeking in file",
                   .handler = [this](CommandCall& c) {
                       if (dm_.handle <= 0) {
                           c.ex.raiseScriptError("fseek: file not open");
                           return true;
                       }
                       c.evaluateArgs();
                       int32_t mode = 0, offset = 0;
                       if (!parseInteger(c.args[1], mode)) {
                           c.ex.raiseScriptError("fseek: error seeking in file");
                       } else if (mode < 0 || mode > 2) {
                           c.ex.raiseScriptError("fseek: invalid seeking mode");
                       } else if (!parseInteger(c.args[0], offset) ||
                                  sys::seekFd(dm_.handle, offset, mode) < 0) {
                           c.ex.raiseScriptError("fseek: error seeking in file");
                       }
                       return true;
                   }});

    rt.setFunction("fopen", 1, [this](FnCall& c) -> FnResult {
        if (dm_.handle >= 1) {
            c.ex.raiseScriptError("fopen: another file is open:" + formatInt(dm_.handle));
            return {false, {}};
        }
        const std::string name = evaluated(c.ex, c.argTexts[0]);
        c.ex.clearScriptError();
        // A file that cannot be opened is -1, stored and returned without a message: scripts
        // tell a failed open by the handle.
        dm_.handle = sys::openExisting(name);
        return numberResult(true, formatInt(dm_.handle));
    });

    rt.setFunction("fread", 1, [this](FnCall& c) -> FnResult {
        if (dm_.handle < 1) {
            c.ex.raiseScriptError("fread: file not open");
            return {false, {}};
        }
        const std::string countText = evaluated(c.ex, c.argTexts[0]);
        c.ex.clearScriptError();
        int32_t count = 0;
        std::string data;
        try {
            if (!parseInteger(countText, count) ||
                !sys::readFd(dm_.handle, count > 0 ? uint64_t(count) : 0, data)) {
                c.ex.raiseScriptError("fread: error reading from file");
                return textResult(true, "");
            }
        } catch (const std::exception&) { // the file held more than memory does
            c.ex.raiseScriptError("fread: error reading from file");
            return textResult(true, "");
        }
        return textResult(true, data);
    });

    rt.setFunction("fwrite", 1, [this](FnCall& c) -> FnResult {
        if (dm_.handle < 1) {
            c.ex.raiseScriptError("fwrite: file not open");
            return {false, {}};
        }
        const std::string data = evaluated(c.ex, c.argTexts[0]);
        c.ex.clearScriptError();
        uint64_t written = 0;
        if (!sys::writeFd(dm_.handle, data, written) || written < 1)
            c.ex.raiseScriptError("fwrite: error writing to file");
        return numberResult(true, formatInt(static_cast<int64_t>(written)));
    });
}

} // namespace nv
