// The C table of qotool/debug_view.h adapted to the debugger's view and the
// browser's view.
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

#include "diag/browser.h"
#include "diag/debug_settings.h"
#include "diag/debug_view.h"
#include "engine/debugger_seam.h"
#include "platform/keys.h"
#include "qotool/debug_view.h"

struct QoBrowser {
    qotool::diag::BrowserSession* session;
    std::string cell;
};

namespace qotool::diag {

namespace {

class CallbackView final : public DebugView, public BrowserView {
public:
    QoDebugCallbacks table{};

    void Open(const DebugSnapshot& s) override {
        if (!table.open) return;
        Converted c(s);
        table.open(table.context, &c.snapshot);
    }
    void Close() override {
        if (table.close) table.close(table.context);
    }
    DebugCommand Wait(const DebugSnapshot& s, int waitMs) override {
        DebugCommand command;
        if (!table.wait) return command;
        Converted c(s);
        int number = 0;
        const char* text = nullptr;
        const int kind = table.wait(table.context, &c.snapshot, waitMs, &number, &text);
        command.kind = kind >= 0 && kind <= QO_DEBUG_VIEW_HOST ? (DebugCommandKind)kind : DebugCommandKind::kStep;
        command.number = number;
        if (text) command.text = text;
        return command;
    }
    int Browse(BrowserSession& session) override {
        if (!table.browse) return 1;
        QoBrowser browser{&session, std::string()};
        return table.browse(table.context, &browser);
    }

private:
    struct Converted {
        explicit Converted(const DebugSnapshot& s) {
            for (const DebugLevelRow& r : s.rows)
                rows.push_back({r.depth.c_str(), r.label.c_str(), r.type.c_str(), r.assigned.c_str(), r.value.c_str(),
                                r.position.c_str()});
            QoDebugSnapshot& o = snapshot;
            o.title = s.title.c_str();
            o.event = s.event.c_str();
            o.stop = s.stop;
            o.level = s.level;
            o.debugger_level = s.debuggerLevel;
            o.line = s.line;
            o.sentence = s.sentence.c_str();
            o.rows = rows.data();
            o.row_count = (int)rows.size();
            o.current_row = s.currentRow;
            o.variables = s.variables.c_str();
            o.source = s.source.c_str();
            o.source_read_only = s.sourceReadOnly;
            o.selection_start = (unsigned)s.selectionStart;
            o.selection_end = (unsigned)s.selectionEnd;
            o.selected_level = s.selectedLevel;
            for (int i = 0; i < 3; ++i) {
                o.watch[i] = s.settings.watch[i].c_str();
                o.watch_result[i] = s.watchResult[i].c_str();
            }
            o.eval_expression = s.evalExpression.c_str();
            o.eval_result = s.evalResult.c_str();
            o.answer_caption = s.answerCaption.c_str();
            o.answer = s.answer.c_str();
            o.fast = s.fast;
            o.terminate = s.terminate;
            o.until = s.until;
            o.pace = s.pace;
            o.debug_level = (int)s.settings.level;
            o.entry = s.settings.entry;
            o.exit = s.settings.exit;
            o.lower = s.settings.lower;
            o.live = s.settings.live;
            o.wide = s.settings.wide;
            o.condition = s.settings.condition.c_str();
            o.interval = s.settings.interval.c_str();
            o.file = s.file.c_str();
            o.column = s.column;
            o.listing = s.listing.c_str();
            o.listing_offset = s.listingOffset;
            o.answer_detail = s.answerDetail.c_str();
        }
        std::vector<QoDebugRow> rows;
        QoDebugSnapshot snapshot{};
    };
};

std::mutex g_tableMutex;
CallbackView* g_callbackView = nullptr;

}  // namespace

}  // namespace qotool::diag

using namespace qotool::diag;

extern "C" QO_API int ruqo_SetDebugCallbacks(const QoDebugCallbacks* callbacks) {
    try {
        std::lock_guard<std::mutex> lock(g_tableMutex);
        if (!callbacks || callbacks->size < sizeof(unsigned) + sizeof(void*)) {
            if (InstalledDebugView() == g_callbackView) SetDebugView(nullptr);
            SetBrowserView(nullptr);
            return 0;
        }
        if (!g_callbackView) g_callbackView = new CallbackView();
        QoDebugCallbacks table{};
        memcpy(&table, callbacks, callbacks->size < sizeof table ? callbacks->size : sizeof table);
        g_callbackView->table = table;
        SetDebugView(table.wait ? g_callbackView : nullptr);
        SetBrowserView(table.browse ? g_callbackView : nullptr);
        return 1;
    } catch (...) {
        return 0;
    }
}

extern "C" QO_API const char* ruqo_BrowserTitle(QoBrowser* browser) {
    return browser && browser->session ? browser->session->Title().c_str() : "";
}

extern "C" QO_API const char* ruqo_BrowserNodeName(int node) {
    return node >= 0 && node <= 3 ? BrowserNodeName((BrowserNode)node) : "";
}

extern "C" QO_API int ruqo_BrowserRowCount(QoBrowser* browser, int node) {
    if (!browser || !browser->session || node < 0 || node > 3) return 0;
    try {
        return (int)browser->session->Rows((BrowserNode)node).size();
    } catch (...) {
        return 0;
    }
}

extern "C" QO_API const char* ruqo_BrowserCell(QoBrowser* browser, int node, int row, int column) {
    if (!browser || !browser->session || node < 0 || node > 3) return "";
    try {
        const std::vector<BrowserRow> rows = browser->session->Rows((BrowserNode)node);
        if (row < 0 || row >= (int)rows.size()) return "";
        const BrowserRow& r = rows[(size_t)row];
        browser->cell = column == 0 ? r.name : column == 1 ? r.type : column == 2 ? r.value : std::string();
        return browser->cell.c_str();
    } catch (...) {
        return "";
    }
}

extern "C" QO_API int ruqo_BrowserClick(QoBrowser* browser, int node, int row, int column) {
    if (!browser || !browser->session || node < 0 || node > 3) return 0;
    try {
        return browser->session->Click((BrowserNode)node, row, column);
    } catch (...) {
        return 0;
    }
}

extern "C" QO_API void ruqo_SetDebugSettingsFile(const char* path) { SetDebugSettingsPath(path); }

extern "C" QO_API void ruqo_SetKeyStateProvider(int (*provider)(int virtual_key)) {
    qotool::platform::SetKeyStateProvider(provider);
    g_pauseKeyWatch = provider != nullptr;
}

extern "C" QO_API void ruqo_InterruptRun(int request) {
    // 1 asked to end, 2 ending (the hook's), 3 asked to pause.
    if (request == 1 && (!g_interruptRequest || g_interruptRequest == 3)) g_interruptRequest = 1;
    if (request == 2 && !g_interruptRequest && InstalledDebugView()) g_interruptRequest = 3;
    if (!request && (g_interruptRequest == 1 || g_interruptRequest == 3)) g_interruptRequest = 0;
}
