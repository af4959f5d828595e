// Compiling statements: if, switch, the statements of lists and blocks,
// return, goto and labels, and where each leaves the cursor.
#include "engine/forms/compiler.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <string>
#include <strings.h>
#include <vector>

#include "engine/executor.h"
#include "engine/scanner.h"
#include "qotool/qotool.h"

namespace qotool::engine::forms {

// if (condition) statement [else statement], as StatementIf runs it: the
// parts end where the sentence skipper says, whichever part runs.
bool Compiler::If(char*& p, int level, int catches, int blocks, bool gotoOk) {
    char* q = p + 2;
    SkipBlanks(q);
    SkipOne(q);  // the '('
    const int condition = Sentence(q, ")", 'N', ')', level, catches);
    if (condition < 0) return false;
    char* thenPart = q;
    const size_t branch = f_.steps.size();
    Emit(StepKind::Branch, condition);
    // The then part first: an if nested too deep is refused before the
    // skip over the rest of the text that finds where the if ends.
    // While a part runs, the text's cursor stays after the condition.
    const int partAt = raiseAt_ == kRaiseAtError ? (int)(thenPart - base_) : raiseAt_;
    // A part the form does not cover gives up when it is taken: the
    // condition stores nothing, and no store is made before the run ends.
    // Unless it waits for the text to call a word first (the form is then
    // made again once the word is known).
    auto part = [&](char* at) {
        const Checkpoint before = Save();
        const uint8_t refused = f_.refusedWords;
        if (Raising(partAt, [&] { return Branch(at, level, catches, blocks, gotoOk); })) return true;
        gotoOk_ = false;
        if ((f_.refusedWords & ~refused) & kRefusedUnknownWord) return false;
        Restore(before);
        Emit(StepKind::GiveUp);
        return true;
    };
    if (!part(thenPart)) return false;
    char* elsePart;
    char* end = IfParts(thenPart, &elsePart);
    Touch(end + 2);
    if (!Skipped(thenPart, end)) return false;
    if (elsePart) {
        const size_t jump = f_.steps.size();
        Emit(StepKind::Jump);
        f_.steps[branch].target = (int)f_.steps.size();
        if (!part(elsePart)) return false;
        f_.steps[jump].target = (int)f_.steps.size();
    } else {
        f_.steps[branch].target = (int)f_.steps.size();
    }
    // Whichever part returned, the if puts the cursor at its end.
    for (size_t i = branch; i < f_.steps.size(); ++i)
        if (f_.steps[i].kind == StepKind::Return) f_.steps[i].cursorAt = (int)(end - base_);
    p = end;
    return true;
}

// switch (selector) { case value: ... default: ... }, as StatementSwitch runs
// it: the labels are tried in the order the scan meets them (a case's value
// is read only when the scan gets there), then the statements run from the
// label that matched, over later labels, up to a "break" that follows a
// statement, a break statement, or the end of the body.
bool Compiler::Switch(char*& p, int level, int catches, int blocks) {
    const size_t first = f_.steps.size();
    char* q = p + 6;
    SkipBlanks(q);
    SkipOne(q);  // the '('
    const int selector = Sentence(q, ")", 0, ')', level, catches);
    if (selector < 0) return false;
    SkipBlanks(q);
    Touch(q + 2);
    if (*q != '{') return false;
    char* const end = ruqo_SkipSentence(q, 0);
    Touch(end + 2);
    if (!Skipped(q, end)) return false;
    SkipOne(q);
    auto pastLabel = [&](char*& c) {
        char* colon = strchr(c, ':');
        c = colon ? colon + 1 : c + strlen(c);
        SkipBlanks(c);
        Touch(c + 2);
    };
    auto atLabel = [](const char* c) { return StartsWithNoCase(c, "case") || StartsWithNoCase(c, "default"); };
    auto atEnd = [&](const char* c) { return *c == '}' || !*c || c >= end; };

    // The scan: each label in turn, with the position its statements start at.
    Emit(StepKind::Select, selector);
    std::vector<std::pair<size_t, char*>> entries;  // (step to point at the statements, where they start)
    char* c = q;
    char* rowStart = nullptr;
    bool inRow = false;
    for (;;) {
        SkipBlanks(c);
        Touch(c + 2);
        if (atEnd(c)) break;
        if (StartsWithNoCase(c, "default")) {
            pastLabel(c);
            entries.push_back({f_.steps.size(), c});
            Emit(StepKind::Jump);
            break;  // every later label is unreachable by the scan
        }
        if (!StartsWithNoCase(c, "case")) return false;  // the text reports it
        c += 4;
        const int value = Sentence(c, ":", 'N', ':', level, catches);
        if (value < 0) return false;
        SkipBlanks(c);
        Touch(c + 2);
        // Labels in a row share the statements after the last of them,
        // found once for the whole row (the next label starts where this
        // one's colon ends, so its statements are the same).
        if (!inRow) {
            rowStart = c;
            while (StartsWithNoCase(rowStart, "case")) pastLabel(rowStart);
        }
        entries.push_back({f_.steps.size(), rowStart});
        Emit(StepKind::Case, value);
        inRow = StartsWithNoCase(c, "case");
        if (inRow) continue;  // the next label is tried at once
        // Statements of a label that did not match are passed over.
        for (;;) {
            SkipBlanks(c);
            Touch(c + 2);
            if (atEnd(c) || atLabel(c)) break;
            char* const from = c;
            c = SkipSentenceMovingOn(c);
            if (!Skipped(from, c)) return false;
        }
    }
    const size_t noMatch = f_.steps.size();
    Emit(StepKind::Jump);

    // The statements, from the first label's on; every label's start must be
    // one of the places this walk stops at.
    std::vector<size_t> toEnd{noMatch};
    std::vector<std::pair<char*, size_t>> stops;  // (position, first step there)
    c = q;
    for (;;) {
        SkipBlanks(c);
        Touch(c + 2);
        stops.push_back({c, f_.steps.size()});
        if (atEnd(c)) break;
        if (atLabel(c)) {
            pastLabel(c);
            continue;
        }
        // ExecuteStatementAt(c, ';'): a sentence of its own, closed by ';'.
        if (*c == '?' || *c == '$') return false;
        Mark(c);
        if (level + 1 > kMaxLevels) return false;
        Note(level + 1, catches + 1);
        Emit(StepKind::Reset);
        char word[96];
        if (StartsWithNoCase(c, "break") && ScanWordChars(c, word) == 5) {
            // The break statement: the sentence has no value; the switch ends.
            c += 5;
            toEnd.push_back(f_.steps.size());
            Emit(StepKind::Jump);
            SkipBlanks(c);
            if (*c == ';') SkipOne(c);
            continue;
        }
        if (*c == '{') {
            if (!Block(c, level + 1, catches + 1, blocks)) return false;
        } else if (*c != ';' && *c != 0) {
            if (!Statement(c, ")", level + 1, catches + 1, blocks)) return false;
        }
        if (*c == ';') SkipOne(c);
        SkipBlanks(c);
        Touch(c + 2);
        if (StartsWithNoCase(c, "break")) {
            // The run ends here; the walk goes on past the word for the
            // labels after it (a longer word starting so never lines up
            // with them, and the form is refused).
            toEnd.push_back(f_.steps.size());
            Emit(StepKind::Jump);
            c += 5;
            SkipBlanks(c);
            if (*c == ';') SkipOne(c);
        }
    }
    const int after = (int)f_.steps.size();
    // The walk only moves on, so its stops are in text order: each label's
    // start is looked up by halving (a body of many labels stays linear-ish).
    for (const auto& entry : entries) {
        const auto stop = std::lower_bound(stops.begin(), stops.end(), entry.second,
                                           [](const std::pair<char*, size_t>& s, const char* at) { return s.first < at; });
        if (stop == stops.end() || stop->first != entry.second) return false;
        f_.steps[entry.first].target = (int)stop->second;
    }
    for (size_t jump : toEnd) f_.steps[jump].target = after;
    for (size_t i = first; i < f_.steps.size(); ++i)
        if (f_.steps[i].kind == StepKind::Return) return false;  // a return in a switch is read as text
    Emit(StepKind::Free);
    p = end;
    return true;
}

// One part of an if, as ExecuteStatementAt runs it: its statement start,
// then a sentence of its own.
bool Compiler::Branch(char* p, int level, int catches, int blocks, bool gotoOk) {
    SkipBlanks(p);
    Touch(p + 2);
    if (*p == '?' || *p == '$') return false;
    Mark(p);
    ++level;
    ++catches;
    if (level > kMaxLevels) return false;
    Note(level, catches);
    Emit(StepKind::Reset);
    if (*p == '{') return Block(p, level, catches, blocks);
    if (*p == 0 || *p == ';') return true;
    gotoOk_ = gotoOk;
    return Statement(p, ")", level, catches, blocks);
}

// The statements of a list (terminators starting with '}'), as RunStatements
// runs them.
// When the list is the sentence itself and a statement after the first is
// refused, the statements before it make the form and the text takes over
// where the refused one starts (at the top of RunStatements' loop).
bool Compiler::List(char*& p, const char* terminators, int level, int catches, int blocks) {
    const bool root = rootList_;
    rootList_ = false;
    const bool cutOk = cutList_;
    cutList_ = false;
    bool compiled = false;
    for (;;) {
        SkipBlanks(p);
        Touch(p + 2);
        const char c = *p;
        const Checkpoint before = Save();
        auto handOver = [&]() {
            if (cutOk) {
                Restore(before);
                if (!f_.returns) return false;
                Emit(StepKind::GiveUp);
                cut_ = true;
                return true;
            }
            if (!root || !compiled) return false;
            Restore(before);
            f_.resume = (int)(p - base_);
            return true;
        };
        if (c == '?' || c == '$' || c == 0) return handOver();
        const size_t from = f_.steps.size();
        char* q = p;
        if (c == '{') {
            if (!Block(q, level, catches, blocks) || !ReturnsThroughList(from, false)) return handOver();
            p = q;
            compiled = true;
            continue;
        }
        if (c == ';') {
            ++p;
            continue;
        }
        if (c == '}') return true;
        gotoOk_ = root;
        if (!Statement(q, terminators, level, catches, blocks) || !ReturnsThroughList(from, true) ||
            !GotosThroughList(from, q))
            return handOver();
        p = q;
        compiled = true;
        if (*p == '}') return true;
        if (*p == ';') ++p;
        SkipBlanks(p);  // the next statement's start
        Touch(p + 2);
        if (*p == '?' || *p == '$') return false;
        Mark(p);
    }
}

// A { } block, as ExecuteBlock runs it: a guard, then a list sentence closed
// by '}'.
bool Compiler::Block(char*& p, int level, int catches, int blocks) {
    const bool rootBlock = rootBlock_;
    rootBlock_ = false;
    const size_t from = f_.steps.size();
    ++blocks;
    f_.blocks = std::max(f_.blocks, blocks);
    level += 2;  // the block's guard and the list sentence's
    ++catches;
    if (level > kMaxLevels) return false;
    Note(level, catches);
    Emit(StepKind::Block, -1, blocks);
    Emit(StepKind::Reset);
    ++p;
    cutList_ = rootBlock;
    if (!List(p, "}", level, catches, blocks)) return false;
    // A return that left the cursor at a '}' has the list's closer passed.
    for (size_t i = from; i < f_.steps.size(); ++i) {
        Step& step = f_.steps[i];
        if (step.kind != StepKind::Return || step.cursorAt == kAtTextEnd || base_[step.cursorAt] != '}') continue;
        char* x = const_cast<char*>(base_) + step.cursorAt;
        SkipOne(x);
        Touch(x + 2);
        step.cursorAt = (int)(x - base_);
    }
    if (cut_) return true;  // the form ends where the text's part starts
    SkipOne(p);  // the closing '}'
    Touch(p + 2);
    return true;
}

// return [value], as StatementReturn runs it: the value is a sentence of its
// own; the cursor then goes to the text's end, where every construct around
// it stops (an if puts it back at the if's end).
bool Compiler::Return(char*& p, int level, int catches) {
    p += 6;
    if ((p[0] == '%' && p[1] == '[') || (p[0] == ':' && p[1] == ':')) return false;
    SkipBlanks(p);
    Touch(p + 2);
    int node = -1;
    if (*p != ';' && *p) {
        node = Sentence(p, ")", 0, 0, level, catches);
        if (node < 0) return false;
    }
    f_.steps.push_back({StepKind::Return, node, (int)(p - base_)});
    f_.returns = true;
    return true;
}

// What a list does with the cursor a return in its statement `from` on left
// behind, as RunStatements goes on with a return pending: after a statement
// (not a block) it passes one ';' and takes the next statement start; then it
// passes further ';' and stops. A block there would be entered: refused.
bool Compiler::ReturnsThroughList(size_t from, bool statement) {
    for (size_t i = from; i < f_.steps.size(); ++i) {
        Step& step = f_.steps[i];
        if (step.kind != StepKind::Return) continue;
        if (step.cursorAt == kAtTextEnd) {
            if (statement) step.markAt = kAtTextEnd;
            continue;
        }
        char* x = const_cast<char*>(base_) + step.cursorAt;
        Touch(x + 2);
        if (statement && *x != '}') {
            if (*x == ';') ++x;
            SkipBlanks(x);
            Touch(x + 2);
            if (*x == '?' || *x == '$') return false;
            step.markAt = (int)(x - base_);
        }
        for (;;) {
            SkipBlanks(x);
            Touch(x + 2);
            if (*x == '?' || *x == '$' || *x == '{') return false;
            if (*x != ';') break;
            ++x;
        }
        step.cursorAt = (int)(x - base_);
    }
    return true;
}

// goto name, as StatementGoto runs it (p at the word): the name runs to a
// blank, ';' or '('. A level goto (a number), an empty name or a value in
// brackets after it is read as text. The statement is done: the operator
// loop passes nothing after it.
bool Compiler::Goto(char*& p) {
    char* at = p + 4;
    if ((at[0] == '%' && at[1] == '[') || (at[0] == ':' && at[1] == ':')) return false;
    char* q = at;
    while (IsBlank(*q)) ++q;
    char* target = q;
    while (*q && (unsigned char)*q > 32 && *q != ';' && *q != '(') ++q;
    Touch(q + 2);
    if (q == target || target[0] == '-' || IsDigitChar(target[0]) || q - target > 200) return false;
    char* after = q;
    SkipBlanks(after);
    Touch(after + 2);
    if (*after == '(') return false;
    CString label = "#";
    label += CString(target, (int)(q - target));
    label += ':';
    f_.labels.push_back(label);
    f_.steps.push_back({StepKind::Goto, -1, (int)f_.labels.size() - 1, 0, (int)(at - base_)});
    p = q;
    return true;
}

// A label statement "#name:" met without a goto pending: passed over, with
// no value.
bool Compiler::Label(char*& p) {
    char word[96];
    const int n = ScanWordChars(p, word);
    char* q = p + n;
    Touch(q + 2);
    if (n < 2 || n >= 80 || q[0] != ':' || q[1] == ':') return false;
    for (int i = 1; i < n; ++i)
        if (!IsAsciiLetter(word[i]) && !IsDigitChar(word[i])) return false;
    Emit(StepKind::Reset);
    p = q + 1;
    return true;
}

// Where the list leaves the cursor and the statement start after a goto in
// its statement `from` on, which ended at end: as after any statement, one
// ';' passed and the next statement's start (at a '}' the list ends there).
// The text's list then searches the label from there.
bool Compiler::GotosThroughList(size_t from, char* end) {
    for (size_t i = from; i < f_.steps.size(); ++i) {
        Step& step = f_.steps[i];
        if (step.kind != StepKind::Goto) continue;
        char* x = end;
        Touch(x + 2);
        if (*x == '}') {
            step.cursorAt = (int)(x - base_);
            continue;
        }
        if (*x == ';') ++x;
        SkipBlanks(x);
        Touch(x + 2);
        if (*x == '?' || *x == '$') return false;
        step.cursorAt = step.markAt = (int)(x - base_);
    }
    return true;
}

}  // namespace qotool::engine::forms
