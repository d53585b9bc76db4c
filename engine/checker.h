// Diagnostics: the lines of a script that will do nothing, or not what they look like, found
// before it runs. The checker prepares the program as a run does (include expansion and the
// `begin`/`end` frame) and reads each line with the interpreter's own classification, its
// command and function tables and the evaluator's character classes, so what it reports is
// what the run will do. It runs nothing: no command, no function, no include argument that
// holds a call.
//
// Kinds of finding (docs/norvane-run.md lists them with examples):
//   block      block validation refuses the script (nothing would run)
//   line       none of the statement, block keyword, command, procedure call or assignment
//              forms (a misspelled command, `if(` without its blank, `Next`): does nothing
//   args       a command line whose name or argument count fits none of the command's forms
//   prefix     taken as a command because it begins with a command word (`setportx = 1`)
//   function   a call of a function that does not exist with that many arguments
//   condition  a condition that cannot be evaluated, or that compares nothing
//   indirect   `(name)`: the group's value is read again as a name
//   quoted     parentheses inside a quoted text, which are still evaluated
//   unbalanced quotes or parentheses that do not pair up on the line
//   break      `break` outside any loop, or before a nested loop of its own loop's kind
//   include    an include that was not checked or cannot be read
//
// Threading: the user-interface thread (it uses the Runtime's tables). Errors: none thrown
// for any script text; every problem is a finding.
#pragma once

#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

namespace nv {

class Runtime;

struct Finding {
    std::string file; // the included file as named; empty: the script itself
    int line = 0;     // 1-based in that file
    std::string_view kind;
    std::string text;
};

struct CheckOptions {
    // Included files are deciphered and checked only with their own password given here;
    // without it they are reported as not checked.
    bool havePassword = false;
    std::string password;
};

// Findings in line order, the script's own lines first.
std::vector<Finding> checkScript(Runtime& rt, const std::vector<std::string>& editorLines,
                                 const CheckOptions& options = {});

// "FILE:LINE: kind: text", with `scriptName` for the script's own lines.
std::string formatFinding(const Finding& f, std::string_view scriptName);

// The explanations, shared with a strict run that ends on such a line.
// Program line `index` matches none of the language's forms. `procedures`: the lower-cased
// names of every procedure definition line however written, when known (else looked up).
std::string noFormTrap(const Runtime& rt, const std::vector<std::string>& program, int index,
                       const std::unordered_set<std::string>* procedures = nullptr);
// A command line (trimmed) whose name or argument count fits none of the command's forms.
std::string commandFormTrap(std::string_view keyword, const std::vector<int>& counts,
                            std::string_view line);
// A statement's condition (from its parenthesis on) that could not be evaluated, or that was
// reduced without a comparison.
std::string conditionTrap(std::string_view condition, bool evaluated);

} // namespace nv
