// Facts about one program line that cannot change during a run: its trimmed text, which
// statement it is, which command rows its beginning matches, and the parts of an assignment
// or a `for (` header. Computed the first time a line is executed, so that a loop body pays
// for trimming, compacting and keyword tests once instead of on every pass. Private to the
// interpreter.
#pragma once

#include <string>
#include <vector>

#include "engine/interpreter.h"

namespace nv {

enum class LineKind { Comment, For, If, While, Repeat, Break, Exit, ProcCall, ProcDef, Other };

struct Interpreter::LineInfo {
    std::string trimmed;
    LineKind kind = LineKind::Other;
    // ProcCall: index of the definition line. ProcDef: index of its `procend`, or -1.
    int target = -1;
    // Other: the command rows whose keyword the line begins with, in table order.
    std::vector<int> commandRows;
    // Other: the assignment it falls back to.
    std::string assignName, valueText, valueCompact;
    // For: whether the header has the form `for(name, start, end, step)`, its variable and
    // the compact forms of its three bound expressions.
    bool forValid = false;
    std::string forVar;
    std::string forArgs[3];
};

} // namespace nv
