// The variable browser: one interpreter's value and identity, its variables
// level by level, its arrays and the system variables, as rows of a list
// beside a tree ("CQoLanguage" with "变量", "数组", "系统变量"). Clicking a
// cell shows its content, lists an array's elements, or moves the browser
// to another interpreter (ending the dialog with kBrowseAnother, after
// which CQoLanguage::Browser opens it again on the new target).
//
// The view (BrowserView) shows the session and ends with a code; without a
// view the browser closes at once.
#ifndef QOTOOL_DIAG_BROWSER_H
#define QOTOOL_DIAG_BROWSER_H

#include <string>
#include <vector>

class CQoLanguage;

namespace qotool::diag {

constexpr int kBrowseAnother = 654321;

enum class BrowserNode : int { kInterpreter = 0, kVariables = 1, kArrays = 2, kSystem = 3 };
// "CQoLanguage", "变量", "数组", "系统变量"
const char* BrowserNodeName(BrowserNode node);
extern const char kBrowserCaption[];    // "QOL变量查看器"
extern const char kArrayDialogTitle[];  // "数组有内容元素显示"
extern const char kCellCaption[];       // "单元格内容"

struct BrowserRow {
    std::string name, type, value;
    int arrayIndex = -1;  // the array of an array row
};

// The rows of a tree item for the interpreter.
std::vector<BrowserRow> BrowserRows(CQoLanguage* qo, BrowserNode node);
// The element listing of array arrayIndex of the interpreter.
std::string ArrayListing(CQoLanguage* qo, int arrayIndex);

// An open browser: the interpreter and title it shows.
class BrowserSession {
public:
    BrowserSession(CQoLanguage* qo, std::string title) : qo_(qo), title_(std::move(title)) {}
    CQoLanguage* Interpreter() const { return qo_; }
    const std::string& Title() const { return title_; }
    std::vector<BrowserRow> Rows(BrowserNode node) const { return BrowserRows(qo_, node); }
    // A click on a cell (column 0 name, 1 type, 2 value): returns
    // kBrowseAnother when the dialog must end to reopen on a new target
    // (already stored here), else 0 after showing what the cell shows.
    int Click(BrowserNode node, int row, int column);

private:
    CQoLanguage* qo_;
    std::string title_;
};

class BrowserView {
public:
    virtual ~BrowserView() = default;
    // Shows the session modally; returns the code the dialog ended with.
    virtual int Browse(BrowserSession& session) = 0;
};

// Installs the view (not owned); null removes it. Returns the previous one.
BrowserView* SetBrowserView(BrowserView* view);

// True while a browser is open.
bool BrowserIsOpen();

}  // namespace qotool::diag

#endif
