// The rules of a rule table, parsed once from the cell texts that the table
// stores as written, and matched against Locate's arguments.
//
// Table layout (an ordinary array variable, W columns, V = W - 1 variables,
// I inputs): row 0 the variable names and, in the last column, I; row 1 the
// current values and the row found by the last Locate; rows 2.. one rule
// each, input cells, output expressions, and the condition in the last
// column.
//
// A RuleSet hangs on its array (VarArray::attachment) and holds a reference
// to every cell text it was parsed from: a script that writes a cell gives
// the cell a new buffer (a shared buffer is never written in place), so
// comparing the cells' buffers with the held ones tells exactly whether the
// parse is still the table's (Current).
#ifndef QOTOOL_TABLES_RULE_SET_H
#define QOTOOL_TABLES_RULE_SET_H

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "engine/var_tables.h"
#include "qotool/cstring.h"

namespace qotool::tables {

// The table's shape read from row 0: columns W and input count I.
struct TableShape {
    int rows = 0;
    int columns = 0;
    int inputs = 0;
    int Variables() const { return columns - 1; }
    int Outputs() const { return columns - 1 - inputs; }
};

// The shape of array; false when it is no valid rule table (W below 2 with
// fewer than 3 rows, or I not in 1..W-1).
bool ReadShape(const engine::VarArray& array, TableShape* shape);

// The text of a cell ("" for a cell never created).
const CString& CellText(const engine::VarArray& array, int row, int column);

// One input cell of a rule.
struct InputCell {
    enum Kind : uint8_t {
        kWild,    // empty or '#...': any value but a missing one
        kStar,    // '*...': any value, a missing one included
        kText,    // quoted strings separated by '|'
        kNumber,  // numbers and ranges separated by '|'
    };
    Kind kind = kWild;
    bool quoteError = false;  // the alternatives end in a quote error
    uint32_t first = 0;       // first alternative in the set's pools
    uint32_t count = 0;
};

// A numeric alternative: lo <= x <= hi, either side may be open.
struct NumberRange {
    double lo, hi;
    bool hasLo, hasHi;
};

class RuleSet {
public:
    // Parses the rule rows of array (shape already read).
    RuleSet(engine::VarArray& array, const TableShape& shape);

    // Whether the parse still stands for array (only the array the set was
    // parsed from: these read its cell records). Cell records never move
    // while their array lives, and the rows they stand in change only
    // through RemoveAt and InsertAt, which drop the parse; so a record whose
    // buffer is the one held has the text that was parsed.
    bool SameShape(const TableShape& shape) const {
        return shape.rows == rows_ && shape.columns == columns_ && shape.inputs == inputs_;
    }
    // Input cell k (or, for k = I, the condition) of a rule is unchanged.
    bool CellCurrent(const engine::VarArray& array, int rule, int k) const {
        const Source& source = sources_[(size_t)rule * (size_t)(inputs_ + 1) + (size_t)k];
        if (source.record) return source.record->m_strDef.c_str() == source.buffer;
        return !array.CellIfCreated(rule + 2, k < inputs_ ? k : columns_ - 1);
    }

    int RuleCount() const { return ruleCount_; }
    const InputCell& Cell(int rule, int input) const { return cells_[(size_t)rule * (size_t)inputs_ + (size_t)input]; }
    const CString& CellSource(int rule, int input) const {
        return held_[(size_t)rule * (size_t)(inputs_ + 1) + (size_t)input];
    }
    // The condition text of a rule ("" for none).
    const CString& Condition(int rule) const { return held_[(size_t)rule * (size_t)(inputs_ + 1) + (size_t)inputs_]; }

    // Whether a number or a text matches a parsed cell of kind kNumber or
    // kText (for kText, a miss on every alternative before a quote error is
    // reported by the caller through quoteError).
    bool MatchNumber(const InputCell& cell, double x) const {
        const NumberRange* r = numbers_.data() + cell.first;
        for (const NumberRange* end = r + cell.count; r < end; ++r)
            if ((!r->hasLo || x >= r->lo) && (!r->hasHi || x <= r->hi)) return true;
        return false;
    }
    bool MatchText(const InputCell& cell, const CString& text) const {
        for (uint32_t i = 0; i < cell.count; ++i)
            if (texts_[cell.first + i] == text) return true;
        return false;
    }

private:
    void ParseCell(const CString& text, InputCell* cell);

    int ruleCount_ = 0;
    int rows_ = 0;
    int columns_ = 0;
    int inputs_ = 0;
    std::vector<InputCell> cells_;                 // rule x input
    // Per rule, the inputs and the condition: the cell record (null for a
    // cell never created) and the text buffer it held when parsed.
    struct Source {
        const QoLVarDefine* record;
        const char* buffer;
    };
    std::vector<Source> sources_;
    std::vector<CString> held_;  // the texts parsed, same order (keeps the buffers alive)
    std::vector<NumberRange> numbers_;
    std::vector<CString> texts_;
};

// The parse of array's rules: the attached one while the shape is the
// same, else a new one (attached for the next lookup). A lookup checks each
// cell before it reads its parse (CellCurrent) and asks for a fresh parse
// (fresh = true) when one changed.
std::shared_ptr<const RuleSet> RulesOf(engine::VarArray& array, const TableShape& shape, bool fresh = false);

}  // namespace qotool::tables

#endif
