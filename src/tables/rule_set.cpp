// Parsing rule cells once per definition and matching arguments against them.
#include "tables/rule_set.h"

#include <cstring>
#include <string>

#include "platform/number_text.h"
#include "qotool/qotool.h"

namespace qotool::tables {

namespace {

const CString& EmptyText() {
    static const CString empty;
    return empty;
}

// What hangs on the array: the parse, shared with the lookups that use it
// (a condition may redefine the table while a lookup still reads its rules).
struct RulesHolder : engine::VarArray::Attachment {
    std::shared_ptr<const RuleSet> rules;
};

bool HasNonBlank(const char* from, const char* to) {
    for (; from < to; ++from)
        if ((unsigned char)*from > 32) return true;
    return false;
}

}  // namespace

const CString& CellText(const engine::VarArray& array, int row, int column) {
    const QoLVarDefine* cell = array.CellIfCreated(row, column);
    return cell ? cell->m_strDef : EmptyText();
}

bool ReadShape(const engine::VarArray& array, TableShape* shape) {
    shape->rows = array.Rows();
    shape->columns = array.Columns();
    if (shape->columns < 1) return false;
    const QoLVarDefine* count = array.CellIfCreated(0, shape->columns - 1);
    shape->inputs = count ? (int)platform::ParseDouble(count->m_strDef.c_str()) : 0;
    if (shape->columns < 2 && shape->rows < 3) return false;
    return shape->inputs >= 1 && shape->inputs < shape->columns;
}

RuleSet::RuleSet(engine::VarArray& array, const TableShape& shape)
    : ruleCount_(shape.rows > 2 ? shape.rows - 2 : 0),
      rows_(shape.rows),
      columns_(shape.columns),
      inputs_(shape.inputs) {
    const size_t perRule = (size_t)inputs_ + 1;
    cells_.resize((size_t)ruleCount_ * (size_t)inputs_);
    sources_.reserve((size_t)ruleCount_ * perRule);
    held_.reserve((size_t)ruleCount_ * perRule);
    for (int rule = 0; rule < ruleCount_; ++rule) {
        for (int k = 0; k <= inputs_; ++k) {
            // Inputs, then the condition in the last column.
            const int column = k < inputs_ ? k : columns_ - 1;
            const QoLVarDefine* cell = array.CellIfCreated(rule + 2, column);
            held_.push_back(cell ? cell->m_strDef : EmptyText());
            sources_.push_back({cell, held_.back().c_str()});
            if (k < inputs_) ParseCell(held_.back(), &cells_[(size_t)rule * (size_t)inputs_ + (size_t)k]);
        }
    }
}

void RuleSet::ParseCell(const CString& text, InputCell* cell) {
    const char* c = text.c_str();
    if (!*c || *c == '#') {
        cell->kind = InputCell::kWild;
        return;
    }
    if (*c == '*') {
        cell->kind = InputCell::kStar;
        return;
    }
    if (*c == '\'' || *c == '"') {
        // Quoted strings: after each one (and the blanks the reader steps
        // over) a '|' leads to the next.
        cell->kind = InputCell::kText;
        cell->first = (uint32_t)texts_.size();
        std::string copy(text.c_str(), (size_t)text.GetLength());
        char* p = copy.data();
        for (;;) {
            CString piece;
            if (ruqo_GetStringData(p, piece) < 0) {
                cell->quoteError = true;
                break;
            }
            texts_.push_back(piece);
            ++cell->count;
            if (*p != '|') break;
            ++p;
        }
        return;
    }
    // Numbers and ranges a~b, ~b, a~ separated by '|'.
    cell->kind = InputCell::kNumber;
    cell->first = (uint32_t)numbers_.size();
    const char* p = c;
    const char* end = c + text.GetLength();
    while (p <= end) {
        const char* bar = static_cast<const char*>(std::memchr(p, '|', (size_t)(end - p)));
        const char* stop = bar ? bar : end;
        const char* tilde = static_cast<const char*>(std::memchr(p, '~', (size_t)(stop - p)));
        NumberRange range{};
        if (tilde) {
            range.hasLo = HasNonBlank(p, tilde);
            range.hasHi = HasNonBlank(tilde + 1, stop);
            if (range.hasLo) range.lo = platform::ParseDouble(std::string(p, tilde).c_str());
            if (range.hasHi) range.hi = platform::ParseDouble(std::string(tilde + 1, stop).c_str());
        } else {
            range.lo = range.hi = platform::ParseDouble(std::string(p, stop).c_str());
            range.hasLo = range.hasHi = true;
        }
        numbers_.push_back(range);
        ++cell->count;
        if (!bar) break;
        p = bar + 1;
    }
}

std::shared_ptr<const RuleSet> RulesOf(engine::VarArray& array, const TableShape& shape, bool fresh) {
    auto* holder = dynamic_cast<RulesHolder*>(array.attachment.get());
    if (!fresh && holder && holder->rules && holder->rules->SameShape(shape)) return holder->rules;
    auto rules = std::make_shared<const RuleSet>(array, shape);
    if (!holder) {
        auto fresh = std::make_unique<RulesHolder>();
        holder = fresh.get();
        array.attachment = std::move(fresh);
    }
    holder->rules = rules;
    return rules;
}

}  // namespace qotool::tables
