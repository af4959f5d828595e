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

    // True while every parsed cell of array still holds the text it was
    // parsed from and the shape is unchanged.
    bool Current(const engine::VarArray& array, const TableShape& shape) const;

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
    bool MatchNumber(const InputCell& cell, double x) const;
    bool MatchText(const InputCell& cell, const CString& text) const;

private:
    void ParseCell(const CString& text, InputCell* cell);

    int ruleCount_ = 0;
    int rows_ = 0;
    int columns_ = 0;
    int inputs_ = 0;
    std::vector<InputCell> cells_;                 // rule x input
    std::vector<const QoLVarDefine*> records_;     // rule x (inputs + condition)
    std::vector<CString> held_;                    // the texts parsed, same order
    std::vector<NumberRange> numbers_;
    std::vector<CString> texts_;
};

// The parse of array's rules: the attached one while it is current, else a
// new one (attached for the next lookup).
std::shared_ptr<const RuleSet> RulesOf(engine::VarArray& array, const TableShape& shape);

}  // namespace qotool::tables

#endif
