// Declarations of native functions: the text that says how a script's
// arguments become a native call. Grammar:
//
//   [@] [ '=' | '%' ret '=' ] { '%' code [digits] }
//
// '@' marks a function that removes its own arguments (no effect on
// x86-64); '=' alone or no return part means no return value; every
// parameter code takes one argument. Digits follow only the string codes
// (s, v, r: a buffer length, at most kMaxNativeBuffer bytes; a longer one
// ends the list like any text that is no parameter code). Text that does not continue as a parameter
// code ends the list; such a declaration is incomplete, which the call
// reports once it has read the arguments.
#ifndef QOTOOL_BUILTINS_NATIVE_DECL_H
#define QOTOOL_BUILTINS_NATIVE_DECL_H

#include <string_view>
#include <vector>

namespace qotool::builtins {

// The largest buffer a string parameter may ask for: 64 MB.
constexpr int kMaxNativeBuffer = 64 << 20;

struct NativeParam {
    char code = 0;
    int length = 0;  // s (v, r) with a buffer length, else 0
};

struct NativeDecl {
    bool exact = false;     // a leading '@'
    char result = 0;        // return code; 0 for none
    std::vector<NativeParam> params;
    bool complete = true;   // the parameter codes make up the rest of the text
};

NativeDecl ParseNativeDecl(std::string_view text);

// The value type a call of this declaration gives during a syntax check:
// 'Z' without any '=', 'S' when the character before the first '=' is s
// or S, otherwise 'N'.
char SyntaxCheckType(std::string_view text);

// A declaration as stored in a function value's extended type: every '%'
// becomes '$'; and back.
void DollarsForPercents(char* text, size_t length);
void PercentsForDollars(char* text, size_t length);

}  // namespace qotool::builtins

#endif
