#include "builtins/native_decl.h"

#include <cstring>

namespace qotool::builtins {

namespace {

inline bool IsStringCode(char code) { return code == 's' || code == 'v' || code == 'r'; }

}  // namespace

NativeDecl ParseNativeDecl(std::string_view text) {
    NativeDecl decl;
    size_t i = 0;
    const size_t n = text.size();
    if (i < n && text[i] == '@') {
        decl.exact = true;
        ++i;
    }
    if (i < n && text[i] == '=') {
        ++i;
    } else if (i + 2 < n && text[i] == '%' && text[i + 1] != 0 && text[i + 2] == '=') {
        decl.result = text[i + 1];
        i += 3;
    }
    while (i + 1 < n && text[i] == '%' && text[i + 1] != 0) {
        NativeParam param;
        param.code = text[i + 1];
        i += 2;
        if (IsStringCode(param.code)) {
            while (i < n && text[i] >= '0' && text[i] <= '9') {
                param.length = param.length * 10 + (text[i] - '0');
                ++i;
                if (param.length > kMaxNativeBuffer) {
                    // Too long a buffer ends the list there: the declaration
                    // is incomplete and the call refuses it.
                    decl.complete = false;
                    return decl;
                }
            }
        }
        decl.params.push_back(param);
    }
    decl.complete = i == n;
    return decl;
}

char SyntaxCheckType(std::string_view text) {
    size_t eq = text.find('=');
    if (eq == std::string_view::npos) return 'Z';
    if (eq > 0 && (text[eq - 1] == 's' || text[eq - 1] == 'S')) return 'S';
    return 'N';
}

void DollarsForPercents(char* text, size_t length) {
    for (size_t i = 0; i < length; ++i)
        if (text[i] == '%') text[i] = '$';
}

void PercentsForDollars(char* text, size_t length) {
    for (size_t i = 0; i < length; ++i)
        if (text[i] == '$') text[i] = '%';
}

}  // namespace qotool::builtins
