// qol --lsp: a language server (JSON-RPC 2.0 over standard input and
// output, Language Server Protocol 3.17) for QOL files, serving the static
// analysis (src/analysis): diagnostics, hover (the built-in reference,
// docs/builtins.md, built into the program), completion, definition,
// references and document symbols.
//
// Documents arrive as UTF-8 with full-text sync; positions are UTF-16
// columns, mapped exactly to the GBK bytes the analysis reads. Diagnostics
// go out once a document has been quiet for kDebounceMs after a change.
// Bad input (malformed headers or JSON, JSON that is not an object, unknown
// methods, positions past the end) gets an error response or a refusal
// logged on standard error; the server never stops on it. It ends at
// "exit" or when its input ends.
#ifndef QOTOOL_TOOLS_QOL_LSP_SERVER_H
#define QOTOOL_TOOLS_QOL_LSP_SERVER_H

namespace qol {

constexpr int kDebounceMs = 200;

// Serves on the two descriptors until "exit" or the end of the input.
// Returns the exit status: 0 after shutdown and exit, else 1.
int RunLanguageServer(int in, int out);

}  // namespace qol

#endif
