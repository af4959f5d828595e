#include "lsp_server.h"

#include <poll.h>
#include <signal.h>
#include <strings.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <map>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

#include "analysis/lexer.h"
#include "analysis/source_text.h"
#include "builtins/catalog.h"
#include "check_command.h"
#include "platform/encoding.h"

extern const char kBuiltinReference[];
extern const unsigned long kBuiltinReference_size;

namespace qol {

namespace {

using nlohmann::json;
namespace analysis = qotool::analysis;
using Clock = std::chrono::steady_clock;

// A message larger than this is refused (read and dropped).
constexpr size_t kMaxMessage = (size_t)64 << 20;
// JSON nested deeper than this is refused: copying or walking it recurses.
constexpr int kMaxNesting = 100;

// JSON-RPC error codes.
constexpr int kParseError = -32700;
constexpr int kInvalidRequest = -32600;
constexpr int kMethodNotFound = -32601;
constexpr int kInvalidParams = -32602;
constexpr int kServerNotInitialized = -32002;

void Log(const std::string& text) {
    const std::string line = u8"qol --lsp: " + text + u8"\n";
    ssize_t ignored = write(STDERR_FILENO, line.data(), line.size());
    (void)ignored;
}

// The deepest nesting of arrays and objects in a JSON text (strings skipped).
int NestingOf(std::string_view body) {
    int depth = 0, deepest = 0;
    bool inString = false;
    for (size_t i = 0; i < body.size(); ++i) {
        const char c = body[i];
        if (inString) {
            if (c == '\\') ++i;
            else if (c == '"') inString = false;
        } else if (c == '"') {
            inString = true;
        } else if (c == '[' || c == '{') {
            deepest = std::max(deepest, ++depth);
        } else if (c == ']' || c == '}') {
            --depth;
        }
    }
    return deepest;
}

// ---- the built-in reference ----

// The entry of a word in docs/builtins.md: from its "### `word" heading up
// to the next heading; empty when none.
std::string ReferenceEntry(std::string_view word) {
    const std::string_view reference(kBuiltinReference, kBuiltinReference_size);
    const std::string_view wanted = word.size() > 5 && strncasecmp(word.data(), "Dll::", 5) == 0 ? "Dll::" : word;
    for (size_t at = reference.find("\n### `"); at != std::string_view::npos; at = reference.find("\n### `", at + 1)) {
        const size_t nameStart = at + 6;
        const size_t nameEnd = reference.find_first_of("`(", nameStart);
        if (nameEnd == std::string_view::npos) break;
        const std::string_view name = reference.substr(nameStart, nameEnd - nameStart);
        if (name.size() != wanted.size() || strncasecmp(name.data(), wanted.data(), name.size()) != 0) continue;
        size_t end = reference.find("\n#", at + 1);
        if (end == std::string_view::npos) end = reference.size();
        std::string entry(reference.substr(at + 1, end - at - 1));
        while (!entry.empty() && (entry.back() == '\n' || entry.back() == '\r')) entry.pop_back();
        return entry;
    }
    return std::string();
}

// ---- documents ----

struct Document {
    std::string uri;
    long version = 0;
    std::string utf8;
    analysis::SourceText source = analysis::SourceText::FromGbk(std::string());
    analysis::Result result;
    bool analyzed = false;        // result belongs to the current text
    bool published = true;        // its diagnostics went out
    Clock::time_point publishAt;  // when they are due
};

// The UTF-8 byte offset of a UTF-16 position in a UTF-8 text (clamped).
size_t Utf8Offset(const std::string& text, long line, long character) {
    size_t i = 0;
    for (long l = 0; l < line; ++l) {
        const size_t lf = text.find('\n', i);
        if (lf == std::string::npos) return text.size();
        i = lf + 1;
    }
    for (long units = 0; i < text.size() && text[i] != '\n' && units < character;) {
        const unsigned char c = (unsigned char)text[i];
        const size_t n = c < 0x80 ? 1 : c >= 0xF0 ? 4 : c >= 0xE0 ? 3 : c >= 0xC0 ? 2 : 1;
        units += n == 4 ? 2 : 1;
        i += n;
    }
    return std::min(i, text.size());
}

class Server {
public:
    Server(int in, int out) : in_(in), out_(out) {}

    int Run() {
        for (;;) {
            std::string body;
            while (NextMessage(body)) {
                Handle(body);
                if (exited_) return shutdown_ ? 0 : 1;
                PublishDue();
            }
            PublishDue();
            const int timeout = MillisToNextPublish();
            pollfd fd{in_, POLLIN, 0};
            const int ready = poll(&fd, 1, timeout);
            if (ready < 0 && errno == EINTR) continue;
            if (ready == 0) continue;  // a publication is due
            char chunk[65536];
            const ssize_t n = read(in_, chunk, sizeof chunk);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) {
                if (buffer_.size() > start_) Log(u8"the input ended inside a message; stopping");
                return shutdown_ ? 0 : 1;
            }
            buffer_.append(chunk, (size_t)n);
        }
    }

private:
    // ---- framing ----

    // Takes one whole message off the buffer. Malformed headers and
    // oversized messages are refused and dropped.
    bool NextMessage(std::string& body) {
        for (;;) {
            if (skip_ > 0) {  // the rest of a refused message
                const size_t n = std::min(skip_, buffer_.size() - start_);
                start_ += n;
                skip_ -= n;
                if (skip_ > 0) {
                    Compact();
                    return false;
                }
            }
            const std::string_view rest = std::string_view(buffer_).substr(start_);
            const size_t headerEnd = rest.find("\r\n\r\n");
            if (headerEnd == std::string_view::npos) {
                if (rest.size() > 8192) {  // no header is that long
                    Log(u8"refused: a header without its end; input dropped");
                    start_ = buffer_.size();
                }
                Compact();
                return false;
            }
            long long length = -1;
            for (size_t at = 0; at < headerEnd;) {
                size_t eol = rest.find("\r\n", at);
                if (eol > headerEnd) eol = headerEnd;
                const std::string_view line = rest.substr(at, eol - at);
                if (line.size() > 15 && strncasecmp(line.data(), "Content-Length:", 15) == 0) {
                    const std::string value(line.substr(15));
                    char* end = nullptr;
                    const long long v = std::strtoll(value.c_str(), &end, 10);
                    if (end != value.c_str() && v >= 0) length = v;
                }
                at = eol + 2;
            }
            const size_t bodyStart = start_ + headerEnd + 4;
            if (length < 0) {
                Log(u8"refused: a message without Content-Length");
                start_ = bodyStart;
                continue;
            }
            if ((size_t)length > kMaxMessage) {
                Log(u8"refused: a message of " + std::to_string(length) + u8" bytes");
                start_ = bodyStart;
                skip_ = (size_t)length;
                continue;
            }
            if (buffer_.size() - bodyStart < (size_t)length) {
                Compact();
                return false;
            }
            body.assign(buffer_, bodyStart, (size_t)length);
            start_ = bodyStart + (size_t)length;
            Compact();
            return true;
        }
    }

    void Compact() {
        if (start_ == buffer_.size()) {
            buffer_.clear();
            start_ = 0;
        } else if (start_ > (1u << 20) && start_ > buffer_.size() / 2) {
            buffer_.erase(0, start_);
            start_ = 0;
        }
    }

    void Send(const json& message) {
        const std::string body = message.dump(-1, ' ', false, json::error_handler_t::replace);
        const std::string data = "Content-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body;
        for (size_t done = 0; done < data.size();) {
            const ssize_t n = write(out_, data.data() + done, data.size() - done);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) {  // the client is gone
                exited_ = true;
                return;
            }
            done += (size_t)n;
        }
    }

    void Reply(const json& id, json result) { Send(json{{"jsonrpc", "2.0"}, {"id", id}, {"result", std::move(result)}}); }
    void Fail(const json& id, int code, const std::string& message) {
        Send(json{{"jsonrpc", "2.0"}, {"id", id}, {"error", {{"code", code}, {"message", message}}}});
    }

    // ---- dispatch ----

    void Handle(const std::string& body) {
        if (NestingOf(body) > kMaxNesting) {
            Log(u8"refused: JSON nested deeper than " + std::to_string(kMaxNesting) + u8" levels");
            return Fail(nullptr, kInvalidRequest, u8"the message is nested too deep");
        }
        json message = json::parse(body, nullptr, false);
        if (message.is_discarded()) {
            Log(u8"refused: a message that is not JSON (or not UTF-8)");
            return Fail(nullptr, kParseError, u8"the message is not valid JSON");
        }
        if (!message.is_object() || !message.contains("method") || !message["method"].is_string()) {
            if (message.is_object() && message.contains("id") && !message.contains("method")) return;  // a response
            Log(u8"refused: a message that is not a request or notification object");
            return Fail(message.is_object() && message.contains("id") ? message["id"] : json(nullptr), kInvalidRequest,
                        u8"a request must be an object with a method");
        }
        const std::string method = message["method"].get<std::string>();
        const bool isRequest = message.contains("id");
        const json id = isRequest ? message["id"] : json(nullptr);
        static const json kNoParams = json::object();
        const json& params = message.contains("params") ? message["params"] : kNoParams;
        try {
            if (method == "exit") {
                exited_ = true;
                return;
            }
            if (isRequest && method == "initialize") return Reply(id, Initialize());
            if (!initialized_ && isRequest) return Fail(id, kServerNotInitialized, u8"initialize first");
            if (shutdown_ && isRequest) return Fail(id, kInvalidRequest, u8"the server is shut down");
            if (isRequest && method == "shutdown") {
                shutdown_ = true;
                return Reply(id, nullptr);
            }
            if (!isRequest) return Notification(method, params);
            std::optional<json> result = Request(method, params);
            if (!result) return Fail(id, kMethodNotFound, u8"no such method: " + method);
            Reply(id, std::move(*result));
        } catch (const std::exception& e) {
            Log(u8"refused " + method + u8": " + e.what());
            if (isRequest) Fail(id, kInvalidParams, std::string(u8"invalid parameters: ") + e.what());
        }
    }

    json Initialize() {
        initialized_ = true;
        return json{{"capabilities",
                     {{"textDocumentSync", {{"openClose", true}, {"change", 1}}},
                      {"hoverProvider", true},
                      {"completionProvider", {{"triggerCharacters", json::array()}}},
                      {"definitionProvider", true},
                      {"referencesProvider", true},
                      {"documentSymbolProvider", true}}},
                    {"serverInfo", {{"name", "qol"}, {"version", QOL_VERSION}}}};
    }

    void Notification(const std::string& method, const json& params) {
        if (method == "textDocument/didOpen") {
            const json& item = params.at("textDocument");
            Document& doc = documents_[item.at("uri").get<std::string>()];
            doc.uri = item.at("uri").get<std::string>();
            SetText(doc, item.at("text").get<std::string>(), item.value("version", 0L), Clock::now());
        } else if (method == "textDocument/didChange") {
            Document& doc = Find(params);
            std::string text = doc.utf8;
            for (const json& change : params.at("contentChanges")) {
                if (change.contains("range")) {  // an incremental change, though full sync was asked for
                    const json& range = change["range"];
                    const size_t from = Utf8Offset(text, range["start"]["line"], range["start"]["character"]);
                    const size_t to = std::max(from, Utf8Offset(text, range["end"]["line"], range["end"]["character"]));
                    text.replace(from, to - from, change.at("text").get<std::string>());
                } else {
                    text = change.at("text").get<std::string>();
                }
            }
            SetText(doc, std::move(text), params.at("textDocument").value("version", doc.version + 1),
                    Clock::now() + std::chrono::milliseconds(kDebounceMs));
        } else if (method == "textDocument/didClose") {
            const std::string uri = params.at("textDocument").at("uri").get<std::string>();
            if (documents_.erase(uri))
                Send(json{{"jsonrpc", "2.0"},
                          {"method", "textDocument/publishDiagnostics"},
                          {"params", {{"uri", uri}, {"diagnostics", json::array()}}}});
        }
        // Other notifications (initialized, $/cancelRequest, ...) need nothing.
    }

    std::optional<json> Request(const std::string& method, const json& params) {
        if (method == "textDocument/hover") return Hover(params);
        if (method == "textDocument/completion") return Completion(params);
        if (method == "textDocument/definition") return Definition(params);
        if (method == "textDocument/references") return References(params);
        if (method == "textDocument/documentSymbol") return Symbols(params);
        return std::nullopt;
    }

    // ---- documents ----

    void SetText(Document& doc, std::string text, long version, Clock::time_point publishAt) {
        doc.utf8 = std::move(text);
        doc.version = version;
        doc.source = analysis::SourceText::FromUtf8(doc.utf8);
        doc.analyzed = false;
        doc.published = false;
        doc.publishAt = publishAt;
    }

    Document& Find(const json& params) {
        const std::string uri = params.at("textDocument").at("uri").get<std::string>();
        auto it = documents_.find(uri);
        if (it == documents_.end()) throw std::runtime_error("the document " + uri + " is not open");
        return it->second;
    }

    const analysis::Result& Analyzed(Document& doc) {
        if (!doc.analyzed) {
            doc.result = analysis::AnalyzeSource(doc.source, RunnerAnalysisOptions());
            doc.analyzed = true;
        }
        return doc.result;
    }

    // The GBK offset of the request's position.
    static uint32_t Offset(const Document& doc, const json& params) {
        const json& position = params.at("position");
        const long line = position.at("line").get<long>(), character = position.at("character").get<long>();
        if (line < 0 || character < 0) throw std::runtime_error("a negative position");
        return doc.source.OffsetOfUtf16((uint32_t)std::min<long>(line, UINT32_MAX),
                                        (uint32_t)std::min<long>(character, UINT32_MAX));
    }

    json Position(const Document& doc, uint32_t offset) const {
        return json{{"line", doc.source.LineOf(offset)}, {"character", doc.source.Utf16Column(offset)}};
    }
    json Range(const Document& doc, uint32_t offset, uint32_t length) const {
        const uint32_t end = std::min<uint32_t>(offset + length, (uint32_t)doc.source.Gbk().size());
        return json{{"start", Position(doc, offset)}, {"end", Position(doc, std::max(offset, end))}};
    }
    json Location(const Document& doc, uint32_t offset, uint32_t length) const {
        return json{{"uri", doc.uri}, {"range", Range(doc, offset, length)}};
    }

    void PublishDue() {
        const Clock::time_point now = Clock::now();
        for (auto& [uri, doc] : documents_) {
            if (doc.published || doc.publishAt > now) continue;
            json diagnostics = json::array();
            for (const analysis::Finding& f : Analyzed(doc).findings) {
                diagnostics.push_back({{"range", Range(doc, f.offset, f.length)},
                                       {"severity", (int)f.severity},
                                       {"code", f.code},
                                       {"source", "qol"},
                                       {"message", qotool::platform::GbkToUtf8(f.message, true)}});
            }
            doc.published = true;
            Send(json{{"jsonrpc", "2.0"},
                      {"method", "textDocument/publishDiagnostics"},
                      {"params", {{"uri", uri}, {"version", doc.version}, {"diagnostics", std::move(diagnostics)}}}});
        }
    }

    int MillisToNextPublish() const {
        std::optional<Clock::time_point> next;
        for (const auto& [uri, doc] : documents_)
            if (!doc.published && (!next || doc.publishAt < *next)) next = doc.publishAt;
        if (!next) return -1;
        const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(*next - Clock::now()).count();
        return (int)std::clamp<long long>(ms + 1, 0, 60000);
    }

    // ---- features ----

    // The word (by the scanner's word bytes) around offset: [start, end).
    static std::pair<uint32_t, uint32_t> WordAt(const std::string& gbk, uint32_t offset) {
        uint32_t start = offset, end = offset;
        auto word = [&](uint32_t i) {
            const unsigned char c = (unsigned char)gbk[i];
            return analysis::IsWordByte(c) || c == ':';
        };
        while (start > 0 && word(start - 1)) --start;
        while (end < gbk.size() && word(end)) ++end;
        while (start < end && gbk[start] == ':') ++start;
        while (end > start && gbk[end - 1] == ':') --end;
        return {start, end};
    }

    // The reference whose name covers offset.
    static const analysis::Reference* ReferenceAt(const analysis::Result& result, uint32_t offset) {
        auto it = std::upper_bound(result.references.begin(), result.references.end(), offset,
                                   [](uint32_t o, const analysis::Reference& r) { return o < r.offset; });
        while (it != result.references.begin()) {
            --it;
            if (offset <= it->offset + it->length) return offset >= it->offset ? &*it : nullptr;
            if (it->offset + 200 < offset) break;
        }
        return nullptr;
    }

    // Where a reference's name is defined: a function's or label's
    // definition, a variable's first assignment.
    static const analysis::Reference* DefinitionOf(const analysis::Result& result, const analysis::Reference& r) {
        for (const analysis::Reference& d : result.references)
            if (d.isDefinition && d.kind == r.kind && d.name == r.name) return &d;
        return nullptr;
    }

    json Hover(const json& params) {
        Document& doc = Find(params);
        const analysis::Result& result = Analyzed(doc);
        const uint32_t offset = Offset(doc, params);
        const std::string& gbk = doc.source.Gbk();
        const auto [start, end] = WordAt(gbk, offset);
        if (start == end) return nullptr;
        std::string text;
        const std::string word = gbk.substr(start, end - start);
        const analysis::Reference* r = ReferenceAt(result, offset);
        if (r && r->kind == analysis::SymbolKind::kFunction) {
            for (const analysis::Symbol& s : result.symbols)
                if (s.kind == analysis::SymbolKind::kFunction && s.name == r->name)
                    text = u8"```qol\n" + qotool::platform::GbkToUtf8(s.detail, true) + u8"\n```\n" + u8"defined at line " +
                           std::to_string(doc.source.LineOf(s.offset) + 1);
        }
        if (text.empty() && qotool::builtins::FindBuiltin(word)) text = ReferenceEntry(word);
        if (text.empty() && r && r->kind == analysis::SymbolKind::kVariable) {
            if (const analysis::Reference* d = DefinitionOf(result, *r))
                text = u8"variable `" + qotool::platform::GbkToUtf8(r->name, true) + u8"`, first assigned at line " +
                       std::to_string(doc.source.LineOf(d->offset) + 1);
        }
        if (text.empty()) return nullptr;
        return json{{"contents", {{"kind", "markdown"}, {"value", text}}}, {"range", Range(doc, start, end - start)}};
    }

    json Completion(const json& params) {
        Document& doc = Find(params);
        // The names of the last analysis serve while a change waits for its
        // own, so that typing stays quick in long files.
        if (!doc.analyzed && doc.result.references.empty()) Analyzed(doc);
        const analysis::Result& result = doc.result;
        const uint32_t offset = Offset(doc, params);
        const std::string& gbk = doc.source.Gbk();
        uint32_t lineStart = doc.source.LineStart(doc.source.LineOf(offset));
        std::string before = gbk.substr(lineStart, offset - lineStart);
        while (!before.empty() && analysis::IsWordByte((unsigned char)before.back())) before.pop_back();
        while (!before.empty() && (unsigned char)before.back() <= 32) before.pop_back();
        const bool afterGoto = before.size() >= 4 && strcasecmp(before.c_str() + before.size() - 4, "goto") == 0;

        json items = json::array();
        std::unordered_set<std::string> seen;
        auto add = [&](const std::string& label, int kind, const std::string& detail) {
            if (!seen.insert(label).second) return;
            json item{{"label", label}, {"kind", kind}};
            if (!detail.empty()) item["detail"] = detail;
            items.push_back(std::move(item));
        };
        for (const analysis::Reference& r : result.references) {
            if (!r.isDefinition) continue;
            const std::string name = qotool::platform::GbkToUtf8(r.name, true);
            if (r.kind == analysis::SymbolKind::kLabel) add(name, 18, u8"label");
            if (afterGoto) continue;
            if (r.kind == analysis::SymbolKind::kVariable) add(name, 6, u8"variable");
            if (r.kind == analysis::SymbolKind::kTable) add(u8"Array::" + name, 18, u8"rule table");
        }
        if (!afterGoto) {
            for (const analysis::Symbol& s : result.symbols)
                if (s.kind == analysis::SymbolKind::kFunction)
                    add(qotool::platform::GbkToUtf8(s.name, true), 3, qotool::platform::GbkToUtf8(s.detail, true));
            int count = 0;
            const qotool::builtins::BuiltinEntry* entries = qotool::builtins::BuiltinCatalog(&count);
            for (int i = 0; i < count; ++i)
                add(entries[i].name, (entries[i].flags & qotool::builtins::kStatement) ? 14 : 3,
                    std::string(entries[i].name) + entries[i].arguments);
            for (const char* keyword : {"else", "do", "case", "default", "break", "continue", "return", "goto", "try",
                                        "catch", "SkipError", "private", "public", "delete", "remove", "AskExec", "NULL",
                                        "PI", "true", "false"})
                add(keyword, 14, "");
            for (const std::string& word : RunnerAnalysisOptions().functions) add(word, 3, u8"runner word");
        }
        return json{{"isIncomplete", false}, {"items", std::move(items)}};
    }

    json Definition(const json& params) {
        Document& doc = Find(params);
        const analysis::Result& result = Analyzed(doc);
        const analysis::Reference* r = ReferenceAt(result, Offset(doc, params));
        if (!r) return nullptr;
        const analysis::Reference* d = DefinitionOf(result, *r);
        if (!d) return nullptr;
        return Location(doc, d->offset, d->length);
    }

    json References(const json& params) {
        Document& doc = Find(params);
        const analysis::Result& result = Analyzed(doc);
        const analysis::Reference* r = ReferenceAt(result, Offset(doc, params));
        json locations = json::array();
        if (!r) return locations;
        const bool declarations = params.contains("context") && params["context"].value("includeDeclaration", true);
        const analysis::Reference* first = DefinitionOf(result, *r);
        for (const analysis::Reference& other : result.references)
            if (other.kind == r->kind && other.name == r->name && (declarations || &other != first))
                locations.push_back(Location(doc, other.offset, other.length));
        return locations;
    }

    json Symbols(const json& params) {
        Document& doc = Find(params);
        const analysis::Result& result = Analyzed(doc);
        json symbols = json::array();
        for (const analysis::Symbol& s : result.symbols) {
            const int kind = s.kind == analysis::SymbolKind::kFunction ? 12 : s.kind == analysis::SymbolKind::kLabel ? 20 : 18;
            const uint32_t start = s.kind == analysis::SymbolKind::kFunction ? s.offset - 1 : s.offset;
            symbols.push_back({{"name", qotool::platform::GbkToUtf8(s.name, true)},
                               {"kind", kind},
                               {"detail", qotool::platform::GbkToUtf8(s.detail, true)},
                               {"range", Range(doc, start, std::max(s.endOffset, start) - start)},
                               {"selectionRange", Range(doc, s.offset, s.length)}});
        }
        return symbols;
    }

    int in_, out_;
    std::string buffer_;
    size_t start_ = 0;  // the unread part of buffer_ begins here
    size_t skip_ = 0;   // bytes of a refused message still to drop
    bool initialized_ = false, shutdown_ = false, exited_ = false;
    std::map<std::string, Document> documents_;
};

}  // namespace

int RunLanguageServer(int in, int out) {
    signal(SIGPIPE, SIG_IGN);  // a client that goes away ends the server through write errors
    try {
        return Server(in, out).Run();
    } catch (const std::exception& e) {
        Log(std::string(u8"stopped: ") + e.what());
        return 1;
    }
}

}  // namespace qol
