// The "Array::" calls: the methods, then the one name table they are
// dispatched from. Errors go through the interpreter's error report, which
// unwinds to the nearest catcher (handlers run inside DoSentence, which
// always has one); a handler returns right after reporting all the same.
#include "tables/array_calls.h"

#include <strings.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "builtins/args.h"
#include "engine/run_context.h"
#include "engine/scanner.h"
#include "engine/table_hook.h"
#include "engine/var_store.h"
#include "engine/var_tables.h"
#include "platform/number_text.h"
#include "qotool/qolanguage.h"
#include "qotool/qotool.h"
#include "tables/rule_set.h"

namespace qotool::tables {

namespace {

using builtins::SetNumber;
using builtins::SetString;
using engine::Dispatched;
using engine::VarArray;

constexpr char kReadOnly[] = "不能改写、新建和移去变量、数组或字段";

// One call: the interpreter, the cursor (after the call's '('), the table
// name and, for the methods on an existing array, the array and its shape.
struct Call {
    CQoLanguage* qo;
    char*& cursor;
    CString name;
    const char* method;
    VarArray* array = nullptr;
    TableShape shape;
    uint64_t version = 0;  // the array's version when Locate began
};

// Reports message at the cursor (unwinds inside a run).
void Fail(Call& c, const CString& message) { c.qo->ReportError(message.c_str(), c.cursor); }

bool ReadOnly(Call& c) {
    if (!(c.qo->m_modeFlags & 0x10)) return false;
    Fail(c, kReadOnly);
    return true;
}

// Consumes the ')' of a call that takes no arguments.
void CloseCall(Call& c) {
    engine::SkipBlanks(c.cursor);
    if (*c.cursor == ')') c.qo->FunctionBracketTrace(c.cursor, ')');
}

// The literal text of the arguments up to ')' (not evaluated); false when
// there is no ')'. The cursor passes the ')'.
bool LiteralArgument(Call& c, CString* text) {
    char* close = std::strchr(c.cursor, ')');
    if (!close) return false;
    *text = CString(c.cursor, (int)(close - c.cursor));
    text->TrimLeft();
    text->TrimRight();
    c.cursor = close;
    c.qo->FunctionBracketTrace(c.cursor, ')');
    return true;
}

// Stores a type and text in a table cell (pointer values notify their
// owners as any store does).
void SetCell(QoLVarDefine* cell, char type, const CString& text) {
    if (cell->m_cType != 'P' && type != 'P') {
        cell->m_cType = type;
        cell->m_strDef = text;
    } else {
        cell->SetValue(type, text);
    }
}

void SetNumberCell(QoLVarDefine* cell, int value) {
    char digits[16];
    const int n = std::snprintf(digits, sizeof digits, "%d", value);
    SetCell(cell, 'N', CString(digits, n));
}

// Removes the array of the current scope and declares it anew, private,
// with rows x columns cells.
VarArray* Redeclare(Call& c, int rows, int columns) {
    CString whole = c.name;
    whole += "[][]";
    engine::DoVariable(c.qo, whole.c_str(), 'r', 0);
    CString bounds;
    bounds.Format("%s[%d][%d]", c.name.c_str(), rows - 1, columns - 1);
    if (!engine::DoVariable(c.qo, bounds.c_str(), 'z', 0)) return nullptr;
    VarArray* array = engine::FindArray(c.qo, c.name.view());
    if (array) array->attachment.reset();
    return array;
}

// ---- SetDefine ----------------------------------------------------------

// End of a rule cell: the next ',' or ';' at bracket depth 0 outside
// quotes, the '}' that closes the body, or the end of the text. Two-byte
// characters are stepped over whole (their trail byte may look like '}').
char* CellEnd(char* p) {
    int depth = 0;
    while (*p) {
        const char ch = *p;
        if ((unsigned char)ch >= 0x80 && p[1]) {
            p += 2;
            continue;
        }
        if (ch == '\'' || ch == '"') {
            p = SkipString(p + 1, ch);
            continue;
        }
        if (ch == '(' || ch == '[' || ch == '{') {
            ++depth;
        } else if (ch == ')' || ch == ']') {
            if (depth > 0) --depth;
        } else if (ch == '}') {
            if (depth == 0) break;
            --depth;
        } else if ((ch == ',' || ch == ';') && depth == 0) {
            break;
        }
        ++p;
    }
    return p;
}

Dispatched SetDefine(Call& c) {
    CQoLanguage* qo = c.qo;
    // The names: blanks skipped, ',' between names, ';' after the inputs.
    std::vector<CString> names;
    int inputs = -1;
    CString current;
    char* p = c.cursor;
    for (;;) {
        const unsigned char ch = (unsigned char)*p;
        if (ch == 0 || ch == ')' || ch == ',' || ch == ';') {
            const bool closing = ch == 0 || ch == ')';
            // "(a;)" has no outputs; every other empty name is refused.
            const bool noOutputs = closing && inputs >= 0 && (int)names.size() == inputs;
            if (current.IsEmpty() && !noOutputs) {
                CString message;
                message.Format("SetDefine()要求的%s参数名不能为空", inputs >= 0 ? "输出" : "输入");
                Fail(c, message);
                return Dispatched::Value;
            }
            if (!current.IsEmpty()) names.push_back(current);
            current.Empty();
            if (closing) break;
            if (ch == ';' && inputs < 0) inputs = (int)names.size();
            ++p;
            continue;
        }
        if (ch <= 32) {
            ++p;
        } else if (ch >= 0x80 && p[1]) {
            current.Append(p, 2);
            p += 2;
        } else {
            current += (char)ch;
            ++p;
        }
    }
    c.cursor = p;
    if (*c.cursor == ')') qo->FunctionBracketTrace(c.cursor, ')');
    const int variables = (int)names.size();
    if (inputs < 0) inputs = variables;
    const int columns = variables + 1;

    VarArray* array = Redeclare(c, 3, columns);
    if (!array) return Dispatched::Value;
    for (int k = 0; k < variables; ++k) SetCell(array->Cell(0, k), 'S', names[(size_t)k]);
    SetNumberCell(array->Cell(0, variables), inputs);

    // The body: from the next '{' on.
    p = c.cursor;
    while (*p && *p != '{') p += ((unsigned char)*p >= 0x80 && p[1]) ? 2 : 1;
    if (!*p) {
        CString message;
        message.Format("%s定义缺{...}体", c.name.c_str());
        Fail(c, message);
        return Dispatched::Value;
    }
    ++p;
    engine::SkipBlanks(p);
    int row = 2;
    while (*p && *p != '}') {
        array->Grow(row + 1, columns);
        for (int k = 0; k < columns; ++k) SetCell(array->Cell(row, k), 'S', CString());
        int column = 0;
        for (;;) {
            char* end = CellEnd(p);
            SetCell(array->Cell(row, column), 'S', CString(p, (int)(end - p)));
            const char separator = *end;
            p = end;
            if (separator != ',' && separator != ';') break;  // '}' or the end: the last rule
            ++p;
            engine::SkipBlanks(p);
            if (separator == ';') {
                // Among the inputs of a table with outputs, ';' passes to the
                // first output; anywhere else it ends the rule.
                if (column < inputs && variables > inputs) {
                    column = inputs;
                    continue;
                }
                break;
            }
            if (++column >= columns) break;
        }
        ++row;
    }
    if (*p == '}') ++p;
    c.cursor = p;
    if (row == 2) {
        Fail(c, "缺少规则匹配定义");
        return Dispatched::Statement;
    }
    CString result;
    result.Format("输入变量数=%d,输出变量数=%d,列数=%d,行数=%d", inputs, variables - inputs, columns, row);
    SetString(qo, result);
    return Dispatched::Statement;
}

// ---- Locate -------------------------------------------------------------

// Thrown when an expression that Locate evaluates removed, re-created or
// reshaped the table it is looking up.
struct TableGone {};

// Finds the table again after an evaluation. Locate's parse holds the
// table's cell records, which live as long as the array keeps its version:
// any other array, or none, ends the lookup.
void FindTableAgain(Call& c) {
    c.array = engine::FindArray(c.qo, c.name.view());
    if (!c.array || c.array->Version() != c.version) throw TableGone{};
}

// One argument of Locate: its type and stored text, and the number that
// the text reads as.
struct Argument {
    char type;
    CString text;
    double number;
};

// Matches the rules against the arguments; returns the best row or -1.
int BestRule(Call& c, const std::vector<Argument>& args) {
    CQoLanguage* qo = c.qo;
    const int inputs = c.shape.inputs;
    std::shared_ptr<const RuleSet> rules = RulesOf(*c.array, c.shape);
    int best = -1;
    int bestWild = 9999999;
    for (int rule = 0; rule < rules->RuleCount(); ++rule) {
        const int row = rule + 2;
        int wild = 0;
        bool matches = true;
        for (int k = 0; k < inputs && matches; ++k) {
            if (!rules->CellCurrent(*c.array, rule, k)) rules = RulesOf(*c.array, c.shape, true);
            const InputCell& cell = rules->Cell(rule, k);
            const Argument& arg = args[(size_t)k];
            if (arg.type == 'Z') {
                matches = cell.kind == InputCell::kStar;
                continue;
            }
            if (cell.kind == InputCell::kWild || cell.kind == InputCell::kStar) {
                matches = ++wild < bestWild;
                continue;
            }
            if (qo->m_bSyntaxCheck && arg.type == '?') continue;
            const char cellType = cell.kind == InputCell::kText ? 'S' : 'N';
            if (arg.type != cellType) {
                CString message;
                message.Format("%s.Locate第%d个参数'%s'为%c型值：%s\r\n不能匹配第%d行第%d列规则定义的%c型数据：%s",
                               c.name.c_str(), k + 1, CellText(*c.array, 0, k).c_str(), arg.type, arg.text.c_str(),
                               row - 1, k + 1, cellType, rules->CellSource(rule, k).c_str());
                Fail(c, message);
                return -1;
            }
            if (cellType == 'N') {
                matches = rules->MatchNumber(cell, arg.number);
            } else {
                matches = rules->MatchText(cell, arg.text);
                if (!matches && cell.quoteError) {
                    Fail(c, c.name + ".Locate时字符串引号不匹配");
                    return -1;
                }
            }
        }
        if (!matches || wild >= bestWild) continue;
        if (!rules->CellCurrent(*c.array, rule, inputs)) rules = RulesOf(*c.array, c.shape, true);
        const CString condition = rules->Condition(rule);
        if (!condition.IsEmpty()) {
            char* text = const_cast<char*>(condition.c_str());
            {
                engine::LevelGuard guard(qo, 'E', text);
                qo->DoSentence(text, nullptr, 'N', 0);
            }
            FindTableAgain(c);
            if (qo->m_cType == 'N' && qo->m_dValue == 0) continue;
        }
        best = row;
        bestWild = wild;
        if (wild == 0) break;
    }
    return best;
}

Dispatched Locate(Call& c) {
    CQoLanguage* qo = c.qo;
    if (ReadOnly(c)) return Dispatched::Value;
    const int inputs = c.shape.inputs;
    const int variables = c.shape.Variables();
    const engine::ScopeMark mark = engine::MarkScopeEnd(qo);
    int best = -1;
    bool failed = false;
    {
        engine::CatchScope catcher(qo->m_pRun);
        try {
            c.array->Grow(2, c.shape.columns);  // row 1 receives the values
            c.version = c.array->Version();
            std::vector<Argument> args((size_t)inputs);
            for (int k = 0; k < inputs; ++k) {
                engine::SkipBlanks(c.cursor);
                if (*c.cursor == ')' || !*c.cursor)
                    qo->m_cType = 'Z';
                else
                    qo->DoSentence(c.cursor, "),", 0, ',');
                FindTableAgain(c);
                QoLVarDefine* value = c.array->Cell(1, k);
                engine::StoreCurrentValue(qo, value);
                args[(size_t)k] = {qo->m_cType, value->m_strDef,
                                   qo->m_cType == 'N' ? platform::ParseDouble(value->m_strDef.c_str()) : 0.0};
                // The input is visible by its name to conditions and outputs.
                const CString inputName = CellText(*c.array, 0, k);
                QoLVarDefine* variable = engine::DoVariable(qo, inputName.c_str(), 'z', 0);
                if (variable) engine::StoreCurrentValue(qo, variable);
            }
            engine::SkipBlanks(c.cursor);
            if (*c.cursor != ')' && *c.cursor) {
                CString message;
                message.Format("%s.Locate输入变量个数超出定义个数%d)", c.name.c_str(), inputs);
                Fail(c, message);
            }
            if (*c.cursor == ')') qo->FunctionBracketTrace(c.cursor, ')');
            FindTableAgain(c);  // an input declared under a cell's name may have grown it
            best = BestRule(c, args);
            for (int k = inputs; k < variables; ++k) {
                if (best < 0) {
                    SetCell(c.array->Cell(1, k), 'Z', CString());
                    continue;
                }
                const CString expression = CellText(*c.array, best, k);
                char* text = const_cast<char*>(expression.c_str());
                {
                    engine::LevelGuard guard(qo, 'V', text);
                    qo->DoSentence(text, nullptr, 0, 0);
                }
                qo->m_cControl = 0;
                FindTableAgain(c);
                engine::StoreCurrentValue(qo, c.array->Cell(1, k));
            }
            SetNumberCell(c.array->Cell(1, variables), best);
        } catch (const engine::QolUnwind&) {
            failed = true;
        } catch (const std::bad_alloc&) {
            failed = true;
        } catch (const TableGone&) {
            failed = true;
        }
        if (failed) {
            if (!(qo->m_cType == 'X' && !qo->m_strError.IsEmpty())) qo->ErrorString(c.name + ".Locate 规则解析异常");
            qo->m_cType = 'X';
        }
    }
    engine::CutBackToMark(qo, mark);
    if (failed) {
        qo->Unwind("Array::规则.Locate()错误");
        return Dispatched::Value;
    }
    SetNumber(qo, best);
    return Dispatched::Value;
}

// ---- the other rule methods ----------------------------------------------

Dispatched Output(Call& c) {
    const TableShape& s = c.shape;
    if (s.columns <= s.inputs + 1) {
        Fail(c, c.name + ".Output无参数可以输出");
        return Dispatched::Value;
    }
    CString wanted;
    if (!LiteralArgument(c, &wanted)) {
        Fail(c, c.name + ".Output缺)号");
        return Dispatched::Value;
    }
    int column = s.inputs;
    if (!wanted.IsEmpty()) {
        column = -1;
        for (int k = s.Variables() - 1; k >= s.inputs && column < 0; --k)
            if (CellText(*c.array, 0, k) == wanted) column = k;
        if (column < 0) {
            CString message;
            message.Format("%s.Output参数'%s'不存在", c.name.c_str(), wanted.c_str());
            Fail(c, message);
            return Dispatched::Value;
        }
    }
    const QoLVarDefine* cell = c.array->CellIfCreated(1, column);
    if (cell)
        engine::LoadRecord(c.qo, cell);
    else
        c.qo->m_cType = 'Z';
    return Dispatched::Value;
}

// k of GetVarName and GetVarValue: the argument text read as C atoi does.
int VariableNumber(Call& c) {
    CString text;
    if (!LiteralArgument(c, &text)) {
        text = CString(c.cursor);
        c.cursor += std::strlen(c.cursor);
    }
    return (int)platform::ParseInt64(text.c_str());
}

Dispatched GetVarName(Call& c) {
    const int k = VariableNumber(c);
    if (k < 0 || k >= c.shape.Variables()) {
        Fail(c, "变量编号超界");
        return Dispatched::Value;
    }
    SetString(c.qo, CellText(*c.array, 0, k));
    return Dispatched::Value;
}

Dispatched GetVarValue(Call& c) {
    CString cell;
    cell.Format("%s[1][%d]", c.name.c_str(), VariableNumber(c));
    engine::DoVariable(c.qo, cell.c_str(), 0, 'B');
    return Dispatched::Value;
}

Dispatched GetInVarCount(Call& c) {
    CloseCall(c);
    SetNumber(c.qo, c.shape.inputs);
    return Dispatched::Value;
}

Dispatched GetVarCount(Call& c) {
    CloseCall(c);
    SetNumber(c.qo, c.shape.Variables());
    return Dispatched::Value;
}

// Cells joined by ',', with ';' before the first output.
void AppendCells(CString& out, const VarArray& array, int row, const TableShape& s) {
    for (int k = 0; k < s.Variables(); ++k) {
        if (k) out += (k == s.inputs ? ';' : ',');
        out += CellText(array, row, k);
    }
}

Dispatched GetDefine(Call& c) {
    CloseCall(c);
    const TableShape& s = c.shape;
    CString text;
    text.Format("Array::%s.SetDefine(", c.name.c_str());
    AppendCells(text, *c.array, 0, s);
    text += ")\r\n{\r\n";
    for (int row = 2; row < s.rows; ++row) {
        AppendCells(text, *c.array, row, s);
        const CString& condition = CellText(*c.array, row, s.columns - 1);
        if (!condition.IsEmpty()) {
            text += ',';
            text += condition;
        }
        text += ";\r\n";
    }
    text += "};\r\n";
    SetString(c.qo, text);
    return Dispatched::Value;
}

// ---- plain arrays ---------------------------------------------------------

Dispatched Create(Call& c) {
    CQoLanguage* qo = c.qo;
    CString text, type = "S";
    int columns = 1;
    qo->ReadPara('N', c.cursor, "%s?s%4", &text, &type, &columns, nullptr);
    if (builtins::Undetermined(qo)) return Dispatched::Value;
    if (columns < 1) columns = 1;
    const char* data = text.c_str();
    const int length = text.GetLength();
    int count = 1;
    for (int i = 0; i < length; ++i) count += data[i] == 0;
    const int rows = (count + columns - 1) / columns;
    VarArray* array = Redeclare(c, rows, columns);
    if (!array) return Dispatched::Value;
    const char letter = type.IsEmpty() ? 'S' : type[0];
    const char* piece = data;
    for (int i = 0; i < count; ++i) {
        const int n = (int)strnlen(piece, (size_t)(data + length - piece));
        SetCell(array->Cell(i / columns, i % columns), letter, CString(piece, n));
        piece += n + 1;
    }
    SetNumber(qo, count);
    return Dispatched::Value;
}

Dispatched Read(Call& c) {
    CloseCall(c);
    CString all;
    for (int row = 0; row < c.array->Rows(); ++row) {
        for (int column = 0; column < c.array->Columns(); ++column) {
            if (row || column) all += '\0';
            all += CellText(*c.array, row, column);
        }
    }
    SetString(c.qo, all);
    return Dispatched::Value;
}

Dispatched GetRowCount(Call& c) {
    CloseCall(c);
    SetNumber(c.qo, c.array->Rows());
    return Dispatched::Value;
}

Dispatched GetColCount(Call& c) {
    CloseCall(c);
    SetNumber(c.qo, c.array->Columns());
    return Dispatched::Value;
}

Dispatched Remove(Call& c) {
    CloseCall(c);
    CString whole = c.name;
    whole += "[]";
    const char type = c.qo->m_cType;
    engine::DoVariable(c.qo, whole.c_str(), 'r', 0);
    c.qo->m_cType = type;
    return Dispatched::Value;
}

Dispatched RemoveAt(Call& c) {
    int row = 0, count = 1;
    c.qo->ReadPara('N', c.cursor, "%4%4", &row, &count, nullptr);
    if (builtins::Undetermined(c.qo) || ReadOnly(c)) return Dispatched::Value;
    VarArray* array = engine::FindArray(c.qo, c.name.view());
    int removed = 0;
    if (array && row >= 0 && row < array->Rows() && count > 0) {
        removed = std::min(count, array->Rows() - row);
        array->attachment.reset();
        array->RemoveRows(row, removed);
    }
    SetNumber(c.qo, removed);
    return Dispatched::Value;
}

Dispatched InsertAt(Call& c) {
    int row = 0, count = 1;
    c.qo->ReadPara('N', c.cursor, "%4%4", &row, &count, nullptr);
    if (builtins::Undetermined(c.qo) || ReadOnly(c)) return Dispatched::Value;
    VarArray* array = engine::FindArray(c.qo, c.name.view());
    if (!array || row < 0 || count < 1) {
        SetNumber(c.qo, 0);
        return Dispatched::Value;
    }
    if (row > array->Rows()) {
        count += row - array->Rows();
        row = array->Rows();
    }
    array->attachment.reset();
    array->InsertRows(row, count);
    SetNumber(c.qo, count);
    return Dispatched::Value;
}

// ---- the name table --------------------------------------------------------

enum class Needs {
    kNothing,    // defines the array
    kArray,      // any array
    kRuleTable,  // a valid rule table
};

struct Method {
    const char* name;
    Needs needs;
    Dispatched (*run)(Call&);
};

const Method kMethods[] = {
    {"SetDefine", Needs::kNothing, SetDefine},
    {"Create", Needs::kNothing, Create},
    {"Read", Needs::kArray, Read},
    {"GetRowCount", Needs::kArray, GetRowCount},
    {"GetColCount", Needs::kArray, GetColCount},
    {"Remove", Needs::kArray, Remove},
    {"RemoveAt", Needs::kArray, RemoveAt},
    {"InsertAt", Needs::kArray, InsertAt},
    {"GetInVarCount", Needs::kRuleTable, GetInVarCount},
    {"GetVarCount", Needs::kRuleTable, GetVarCount},
    {"GetVarName", Needs::kRuleTable, GetVarName},
    {"GetVarValue", Needs::kRuleTable, GetVarValue},
    {"Locate", Needs::kRuleTable, Locate},
    {"Output", Needs::kRuleTable, Output},
    {"GetDefine", Needs::kRuleTable, GetDefine},
};

const Method* FindMethod(const char* name) {
    for (const Method& m : kMethods)
        if (strcasecmp(m.name, name) == 0) return &m;
    return nullptr;
}

Dispatched Run(Call& c, const char* word) {
    CQoLanguage* qo = c.qo;
    const Method* method = FindMethod(c.method);
    if (method && method->needs == Needs::kNothing) return method->run(c);
    c.array = engine::FindArray(qo, c.name.view());
    if (!c.array) {
        if (qo->m_bSyntaxCheck) {
            engine::RecordUndefinedName(qo, c.name.c_str());
            engine::SkipExpression(c.cursor, ')');
            if (*c.cursor == ')') qo->FunctionBracketTrace(c.cursor, ')');
            qo->m_cType = '?';
            return Dispatched::Value;
        }
        CString message;
        message.Format("不存在定义%s.%s(...)", word, c.method);
        Fail(c, message);
        return Dispatched::Value;
    }
    if (method && method->needs == Needs::kArray) return method->run(c);
    if (!ReadShape(*c.array, &c.shape)) {
        CString message;
        message.Format("不能对未经“Array::规则数组.SetDefine(){}”定义，或定义无效的数组进行 %s 规则操作", c.method);
        Fail(c, message);
        return Dispatched::Value;
    }
    if (!method) {
        CString message;
        message.Format("%s 不是合法的“Array::”规则操作功能", c.method);
        Fail(c, message);
        return Dispatched::Value;
    }
    return method->run(c);
}

}  // namespace

Dispatched ArrayCall(CQoLanguage* qo, char*& cursor, const char* word) {
    if (strncasecmp(word, "Array::", 7) != 0) return Dispatched::None;
    // The table is named by the text up to the word's last '.', the method
    // by the rest.
    const char* dot = std::strrchr(word + 7, '.');
    if (!dot || !dot[1]) return Dispatched::None;
    char* p = cursor;
    engine::SkipBlanks(p);
    if (*p != '(') return Dispatched::None;
    cursor = p;
    qo->FunctionBracketTrace(cursor, '(');
    const std::string head(word, (size_t)(dot - word));
    Call call{qo, cursor, CString(word + 7, (int)(dot - word - 7)), dot + 1, nullptr, TableShape{}};
    try {
        return Run(call, head.c_str());
    } catch (const std::bad_alloc&) {
        CString message(word);
        message += " QOL变元操作失败，可能是变元操作越界或存储体被破坏";
        qo->ReportError(message.c_str(), cursor);
        return Dispatched::Value;
    }
}

}  // namespace qotool::tables

namespace qotool::engine {

Dispatched OfferQualifiedWord(CQoLanguage* qo, char*& cursor, const char* word) {
    return tables::ArrayCall(qo, cursor, word);
}

}  // namespace qotool::engine
