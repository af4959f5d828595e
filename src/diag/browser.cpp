#include "diag/browser.h"

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "diag/debug_panes.h"
#include "engine/debugger_seam.h"
#include "platform/ui.h"
#include "qotool/qolanguage.h"
#include "qotool/qolvardefine.h"
#include "qotool/ui_callbacks.h"

namespace qotool::diag {

const char kBrowserCaption[] = "QOL变量查看器";
const char kArrayDialogTitle[] = "数组有内容元素显示";
const char kCellCaption[] = "单元格内容";

namespace {

const char kAnotherInterpreter[] = "浏览第 %d/%d 个QOL解析器";
const char kAnotherLevel[] = "浏览第%d/%d级QOL解析器";
const char kBrowsePrefix[] = "浏览第";

std::atomic<BrowserView*> g_view{nullptr};
std::atomic<bool> g_open{false};

std::string Printf(const char* format, long long a, long long b = 0) {
    char buffer[128];
    snprintf(buffer, sizeof buffer, format, a, b);
    return buffer;
}

std::string Address(const void* p) {
    char buffer[32];
    snprintf(buffer, sizeof buffer, "&%llu", (unsigned long long)(uintptr_t)p);
    return buffer;
}

void AddRecord(std::vector<BrowserRow>& rows, const QoLVarDefine& v) {
    BrowserRow row;
    row.name = std::string(v.m_strName.view());
    row.type = std::string(1, v.m_cType);
    row.value = std::string(v.m_strDef.view());
    rows.push_back(std::move(row));
}

int LevelOfInterpreter(CQoLanguage* qo) {
    const int size = engine::EntryStackSize();
    for (int i = size - 1; i >= 0; --i)
        if (engine::RunOwner(engine::EntryStackAt(i)) == qo) return i;
    return size > 0 ? size - 1 : 0;
}

}  // namespace

const char* BrowserNodeName(BrowserNode node) {
    switch (node) {
    case BrowserNode::kInterpreter: return "CQoLanguage";
    case BrowserNode::kVariables: return "变量";
    case BrowserNode::kArrays: return "数组";
    case BrowserNode::kSystem: return "系统变量";
    }
    return "";
}

std::vector<BrowserRow> BrowserRows(CQoLanguage* qo, BrowserNode node) {
    std::vector<BrowserRow> rows;
    if (!qo || !engine::IsLiveInterpreter(qo) || !qo->m_pVars) return rows;
    const int top = qo->m_nScopeLevel < 0 ? 0 : qo->m_nScopeLevel;
    switch (node) {
    case BrowserNode::kInterpreter: {
        std::string value = FullValue(qo);
        rows.push_back({"值", std::string(1, qo->m_cType), value});
        rows.push_back({"QOL", "", Address(qo)});
        rows.push_back({"QO", "", "----"});
        rows.push_back({"pThis", "", Address(qo->m_pHostData)});
        rows.push_back({"绑定缓存", "", std::string(engine::TableBufferName(qo->m_pRun))});
        rows.push_back({"当前文件", "", std::string(engine::CurrentFile(qo->m_pRun))});
        break;
    }
    case BrowserNode::kVariables: {
        for (int k = top; k >= 0; --k) {
            const engine::ScopeRange scope = engine::VariablesOfScope(qo, k);
            for (int i = scope.end - 1; i >= scope.begin; --i) AddRecord(rows, *engine::VariableAt(qo, i));
            rows.push_back({Printf("*第%d层*", k), "", ""});
        }
        break;
    }
    case BrowserNode::kArrays: {
        for (int k = top; k >= 0; --k) {
            const engine::ScopeRange scope = engine::ArraysOfScope(qo, k);
            for (int i = scope.end - 1; i >= scope.begin; --i) {
                const engine::ArrayShape a = engine::ArrayAt(qo, i);
                BrowserRow row;
                row.name = Printf("数组 %d", i);
                row.type = std::string(a.name);
                row.value = a.columns <= 1 ? Printf("%d元素", a.rows) : Printf("%d行%d列", a.rows, a.columns);
                row.arrayIndex = i;
                rows.push_back(std::move(row));
            }
            rows.push_back({Printf("*第%d层*", k), "", ""});
        }
        break;
    }
    case BrowserNode::kSystem: {
        engine::VisitSystemVariables([&](const QoLVarDefine& v) { AddRecord(rows, v); });
        break;
    }
    }
    return rows;
}

std::string ArrayListing(CQoLanguage* qo, int arrayIndex) {
    if (!qo || arrayIndex < 0 || arrayIndex >= engine::ArrayCount(qo)) return std::string();
    const engine::ArrayShape a = engine::ArrayAt(qo, arrayIndex);
    std::string out(a.name);
    out += "数组 ";
    const bool oneDimension = a.columns <= 1;
    for (int r = 0; r < a.rows; ++r) {
        for (int c = 0; c < a.columns; ++c) {
            const QoLVarDefine* cell = engine::ArrayCell(qo, arrayIndex, r, c);
            if (!cell || cell->m_cType == 'Z') continue;
            char head[64];
            if (oneDimension)
                snprintf(head, sizeof head, "\r\n[%d]%c:", r, cell->m_cType);
            else
                snprintf(head, sizeof head, "\r\n[%d,%d]%c:", r, c, cell->m_cType);
            out += head;
            std::string_view value = cell->m_strDef.view();
            if (value.size() > 64) {
                out.append(value.substr(0, CharBoundary(value, 50)));
                out += Printf("……<长度%d>", (long long)value.size());
            } else {
                out.append(value);
            }
        }
    }
    return out;
}

int BrowserSession::Click(BrowserNode node, int row, int column) {
    const std::vector<BrowserRow> rows = Rows(node);
    if (row < 0 || row >= (int)rows.size() || column < 0 || column > 2) return 0;
    const BrowserRow& r = rows[(size_t)row];
    if (node == BrowserNode::kInterpreter && (r.name == "CQoLanguage" || r.name == "QOL")) {
        if (column == 2) {
            const std::vector<CQoLanguage*> live = engine::LiveInterpreters();
            if (live.empty()) return 0;
            size_t next = 0;
            for (size_t i = 0; i < live.size(); ++i)
                if (live[i] == qo_) next = (i + 1) % live.size();
            qo_ = live[next];
            title_ = Printf(kAnotherInterpreter, (long long)next + 1, (long long)live.size());
            return kBrowseAnother;
        }
        const int top = engine::EntryStackSize() - 1;
        int level = title_.compare(0, strlen(kBrowsePrefix), kBrowsePrefix) == 0
                        ? atoi(title_.c_str() + strlen(kBrowsePrefix)) - 1
                        : LevelOfInterpreter(qo_);
        level += column == 0 ? -1 : 1;
        const int highest = top < 0 ? 0 : top;
        if (level < 0) level = highest;
        if (level > highest) level = 0;
        CQoLanguage* owner = engine::RunOwner(engine::EntryStackAt(level));
        if (owner && engine::IsLiveInterpreter(owner)) qo_ = owner;
        title_ = Printf(kAnotherLevel, (long long)level + 1, (long long)highest + 1);
        return kBrowseAnother;
    }
    if (node == BrowserNode::kArrays && r.arrayIndex >= 0) {
        CString text(ArrayListing(qo_, r.arrayIndex).c_str());
        ruqo_EditText(text, kArrayDialogTitle);
        return 0;
    }
    const std::string& cell = column == 0 ? r.name : column == 1 ? r.type : r.value;
    platform::ShowMessageBox(cell.c_str(), kCellCaption, platform::kMbOk | platform::kMbTopmost);
    return 0;
}

BrowserView* SetBrowserView(BrowserView* view) { return g_view.exchange(view); }

bool BrowserIsOpen() { return g_open.load(); }

}  // namespace qotool::diag

int CQoLanguage::Browser(const char* title) {
    using namespace qotool::diag;
    bool expected = false;
    if (!g_open.compare_exchange_strong(expected, true)) return 0;
    BrowserSession session(this, title ? title : kBrowserCaption);
    try {
        for (;;) {
            BrowserView* view = g_view.load();
            // Headless: the dialog closes at once.
            const int code = view ? view->Browse(session) : 1;
            if (code != kBrowseAnother) break;
        }
    } catch (...) {
    }
    g_open.store(false);
    return 1;
}
