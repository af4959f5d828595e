#include "fuzz_targets.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "analysis/analysis.h"
#include "engine/run_context.h"
#include "engine/step_budget.h"
#include "qotool/qolanguage.h"
#include "qotool/qotool.h"
#include "qotool/textcut.h"
#include "qotool/textutil.h"
#include "services_sandbox.h"

namespace qotool::fuzz {

namespace {

// Texts after the selector byte, split at zero bytes: the first wanted-1
// pieces, then the rest; missing ones are "".
struct Fields {
    std::vector<std::string> items;
    Fields(const uint8_t* data, size_t size, size_t wanted) {
        size_t start = 0;
        for (size_t i = 0; i < size && items.size() + 1 < wanted; ++i) {
            if (data[i] != 0) continue;
            items.emplace_back((const char*)data + start, i - start);
            start = i + 1;
        }
        items.emplace_back((const char*)data + start, size - start);
        while (items.size() < wanted) items.emplace_back();
    }
    const char* operator[](size_t i) const { return items[i].c_str(); }
    char* Writable(size_t i) { return &items[i][0]; }
};

void Check(bool holds) {
    if (!holds) abort();
}

void RunScript(const uint8_t* data, size_t size) {
    std::string text((const char*)data, size);  // a fresh, zero-terminated copy
    // The static analysis reads every script first; it bounds its findings.
    Check(analysis::Analyze(text).findings.size() <= analysis::kMaxFindings + 1);
    CQoLanguage qo;
    CQoLanguage* done = qo.DoQol(text.c_str(), nullptr);
    engine::SetStepBudgetForTest(-1);  // the check below must not run out
    Check(done == &qo);
    if (getenv("QOTOOL_FUZZ_SHOW")) {  // the replay's --show
        CString value = qo.GetValueString();
        fprintf(stderr, "%c:%.*s\n", qo.m_cType, value.GetLength() < 300 ? value.GetLength() : 300, value.c_str());
    }
    // Whatever the script did, the interpreter is idle and answers.
    Check(qo.m_pRun->level == 0 && qo.m_pRun->catchDepth == 0);
    qo.DoQol("1+1", nullptr);
    Check(qo.m_cType == 'N' && qo.m_dValue == 2);
}

void RunMatch(const uint8_t* data, size_t size) {
    Fields f(data, size, 2);
    ruqo_StrMatch("x /", "x", 0);  // every feature back on: earlier inputs may have changed them
    ruqo_StrMatch("", "x", 0);     // and no index recorded
    const int end = ruqo_StrMatch(f[0], f[1], 1);
    Check(end >= -1 && end <= (int)strlen(f[1]));
    ruqo_StrMatch("", "x", 0);
}

void RunArrayMatch(const uint8_t* data, size_t size) {
    Fields f(data, size, 6);
    ruqo_StrMatch("x /", "x", 0);
    char* rows[5];
    for (int i = 0; i < 5; ++i) rows[i] = f.Writable((size_t)i + 1);
    const char* marks = ruqo_ArrayMatch(f[0], rows, 5, size % 3);
    Check(marks && strlen(marks) <= 5);
}

void RunCutters(const uint8_t* data, size_t size) {
    Fields f(data, size, 4);
    CString cut = ruqo_MatchCut(f[0], f[1], f[2], f[3]);
    CString set = ruqo_MatchSet(f[0], f[1], f[2], f[3]);
    CString removed = ruqo_MatchSet(f[0], f[1], f[2], nullptr);
    CString section = ruqo_SectionCut(f[0], (int)(size % 7) - 1, f[1], f[2]);
    const int at = ruqo_FindNoCase(f[0], f[1]);
    Check(at >= -1 && at < (int)strlen(f[0]) + 1);
    CString replaced = ruqo_ReplaceNoText(f[0], f[1], f[2]);
}

void RunBreakSql(const uint8_t* data, size_t size) {
    Fields f(data, size, 2);
    for (const char* keywords : {f[1], (const char*)nullptr}) {
        CString buffer;
        int count = -1;
        const char** pairs = ruqo_BreakSql(f[0], count, buffer, keywords);
        if (!pairs) continue;
        const char* begin = buffer.c_str();
        const char* end = begin + buffer.GetLength();
        for (int i = 0; i < 2 * count; ++i) Check(pairs[i] >= begin && pairs[i] < end);
    }
}

void RunNumbersAndProperties(const uint8_t* data, size_t size) {
    Fields f(data, size, 3);
    double value = 0;
    memcpy(&value, f.items[0].data(), f.items[0].size() < sizeof value ? f.items[0].size() : sizeof value);
    CString number = ruqo_NumberToString(value, f[1], f[2]);
    CString property(f[0]);
    CString read = ruqo_CombPropertyStr(property, f[1], nullptr);
    ruqo_CombPropertyStr(property, f[1], f[2]);
    ruqo_CombPropertyVal(property, f[2], 1e308);
    ruqo_CombPropertyVal(property, f[1], value);
}

void RunScanner(const uint8_t* data, size_t size) {
    std::string text((const char*)data, size);
    char* start = &text[0];
    char* end = start + strlen(start);
    char* p = ruqo_SkipSentence(start, (char)(size & 1));
    Check(p >= start && p <= end);
    p = start;
    for (int i = 0; i < 64 && *p; ++i) {  // sentence after sentence, as the executor's loops do
        char* next = ruqo_SkipSentence(p, 0);
        Check(next >= p && next <= end);
        p = next == p ? p + 1 : next;
    }
    for (char* q = start; q < end; ++q) {
        if (*q != '\'' && *q != '"') continue;
        char* after = SkipString(q + 1, *q);
        Check(after >= q && after <= end);
        char* cursor = q;
        CString literal;
        ruqo_GetStringData(cursor, literal);
        Check(cursor >= q && cursor <= end);
        ruqo_MakeQolString(literal, '"');
        break;
    }
}

}  // namespace

void InitFuzzing() {
    setenv("QO_UI", "silent", 1);
    engine::SetStepBudgetForTest(-1);
    if (const char* folder = getenv("QOTOOL_FUZZ_SERVICES")) EnterServicesSandbox(folder);
}

void RunFuzzInput(const uint8_t* data, size_t size) {
    if (size == 0) return;
    const int target = (data[0] + 2) % kTargetCount;  // '0' (48) is target 0, '9' target 9
    ++data;
    --size;
    // The text functions run QOL too (the property functions evaluate their
    // text), so every target runs under the step budget.
    engine::SetStepBudgetForTest(kStepBudget);
    BeginServicesInput();
    switch (target) {
    case 0:
    case 1:
    case 2:
    case 3: RunScript(data, size); break;
    case 4: RunMatch(data, size); break;
    case 5: RunArrayMatch(data, size); break;
    case 6: RunCutters(data, size); break;
    case 7: RunBreakSql(data, size); break;
    case 8: RunNumbersAndProperties(data, size); break;
    default: RunScanner(data, size); break;
    }
    engine::SetStepBudgetForTest(-1);
    EndServicesInput();
}

}  // namespace qotool::fuzz
