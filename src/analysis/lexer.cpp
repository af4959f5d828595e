#include "analysis/lexer.h"

#include <array>

namespace qotool::analysis {

namespace {

// The bytes the word reader's pattern refuses, besides the blanks.
constexpr std::string_view kNotWord = "-&$|?:<!=>+*%/`~(),;{}[\\]^'\"";

constexpr std::array<bool, 256> MakeWordTable() {
    std::array<bool, 256> table{};
    for (int c = 33; c < 256; ++c) table[c] = true;
    for (char c : kNotWord) table[(unsigned char)c] = false;
    return table;
}
constexpr std::array<bool, 256> kWordTable = MakeWordTable();

bool IsDigit(unsigned char c) { return c >= '0' && c <= '9'; }

class Lexer {
public:
    explicit Lexer(std::string_view text) : text_(text) {
        // A zero byte ends the text for the interpreter.
        const size_t zero = text_.find('\0');
        if (zero != std::string_view::npos) text_ = text_.substr(0, zero);
    }

    Lexed Run() {
        for (;;) {
            SkipBlanksAndComments();
            if (at_ >= text_.size()) break;
            const unsigned char c = Byte(at_);
            if (c == '\'' || c == '"') {
                String();
            } else if (IsDigit(c) || (c == '.' && IsDigit(Byte(at_ + 1)))) {
                Number();
            } else if (kWordTable[c] || (c == '%' && Byte(at_ + 1) == '[')) {
                Word();
            } else {
                Push(TokenKind::kPunct, at_, 1, 0);
                ++at_;
            }
        }
        Push(TokenKind::kEnd, (uint32_t)text_.size(), 0, 0);
        return std::move(out_);
    }

private:
    unsigned char Byte(size_t i) const { return i < text_.size() ? (unsigned char)text_[i] : 0; }

    void Push(TokenKind kind, size_t offset, size_t length, uint8_t flags) {
        out_.tokens.push_back(Token{kind, flags, (uint32_t)offset, (uint32_t)length});
    }
    void Note(LexNote note, size_t offset) { out_.notes.push_back(LexNoteAt{note, (uint32_t)offset}); }

    void SkipBlanksAndComments() {
        for (;;) {
            while (at_ < text_.size() && Byte(at_) <= 32) ++at_;
            if (Byte(at_) != '/') return;
            if (Byte(at_ + 1) == '/') {
                const size_t end = text_.find('\n', at_);
                at_ = end == std::string_view::npos ? text_.size() : end;
            } else if (Byte(at_ + 1) == '*') {
                const size_t end = text_.find("*/", at_ + 2);
                if (end == std::string_view::npos) {
                    Note(LexNote::kOpenComment, at_);
                    at_ = text_.size();
                } else {
                    at_ = end + 2;
                }
            } else {
                return;
            }
        }
    }

    // A literal passes over a backslash and the byte after it; a line end
    // whose last non-blank byte before it is ';' leaves it open (the
    // interpreter takes a carriage return so; a line feed is taken the same
    // way here, for files with bare line feeds).
    void String() {
        const size_t start = at_;
        const unsigned char quote = Byte(at_);
        size_t i = at_ + 1;
        unsigned char lastNonBlank = 0;
        size_t lastSemicolon = 0;
        bool trail = false;  // the byte at i is the second byte of a GBK character
        for (;;) {
            if (i >= text_.size()) {
                Note(LexNote::kOpenStringAtEnd, start);
                Push(TokenKind::kString, start, i - start, kUnterminated);
                at_ = i;
                return;
            }
            const unsigned char c = Byte(i);
            if (c == '\\') {
                if (trail) Note(LexNote::kTrailBackslash, i - 1);
                trail = false;
                lastNonBlank = c;
                i += Byte(i + 1) ? 2 : 1;
                continue;
            }
            if ((c == '\r' || c == '\n') && lastNonBlank == ';') {
                // The interpreter goes on at that ';', which ends the statement.
                Note(LexNote::kOpenString, start);
                Push(TokenKind::kString, start, lastSemicolon - start, kUnterminated);
                at_ = lastSemicolon;
                return;
            }
            if (c == quote && !trail) {
                Push(TokenKind::kString, start, i + 1 - start, 0);
                at_ = i + 1;
                return;
            }
            trail = !trail && c >= 0x81 && c != 0xFF;
            if (c > 32) lastNonBlank = c;
            if (c == ';') lastSemicolon = i;
            ++i;
        }
    }

    void Number() {
        const size_t start = at_;
        if (Byte(at_) == '0' && (Byte(at_ + 1) | 0x20) == 'x') at_ += 2;
        while (at_ < text_.size()) {
            const unsigned char c = Byte(at_);
            if ((c | 0x20) == 'e' && (Byte(at_ + 1) == '+' || Byte(at_ + 1) == '-') && IsDigit(Byte(at_ + 2)) &&
                IsDigit(Byte(at_ - 1))) {
                at_ += 2;
            } else if (!kWordTable[c]) {
                break;
            } else {
                ++at_;
            }
        }
        Push(TokenKind::kNumber, start, at_ - start, 0);
    }

    void Word() {
        const size_t start = at_;
        uint8_t flags = 0;
        for (;;) {
            if (Byte(at_) == '%' && Byte(at_ + 1) == '[') {
                const size_t close = text_.find(']', at_ + 2);
                if (close == std::string_view::npos) break;
                flags |= kMacro;
                at_ = close + 1;
                continue;
            }
            if (kWordTable[Byte(at_)]) {
                while (at_ < text_.size() && kWordTable[Byte(at_)]) ++at_;
                continue;
            }
            if (Byte(at_) == ':' && Byte(at_ + 1) == ':' && kWordTable[Byte(at_ + 2)] && at_ > start) {
                at_ += 2;
                continue;
            }
            break;
        }
        if (at_ == start) ++at_;  // a lone '%' without a closed macro
        Push(at_ - start == 1 && Byte(start) == '%' ? TokenKind::kPunct : TokenKind::kWord, start, at_ - start, flags);
    }

    std::string_view text_;
    size_t at_ = 0;
    Lexed out_;
};

}  // namespace

bool IsWordByte(unsigned char c) { return kWordTable[c]; }

Lexed Lex(std::string_view text) { return Lexer(text).Run(); }

}  // namespace qotool::analysis
