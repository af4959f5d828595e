// Built-ins that talk to a person (Check, EditData, MessageBox, MessageLog,
// PromptText) and the dialog services ruqo_EditText and PromptText. The
// texts, cuts, geometry and time-outs are decided here; the UI interface
// only shows them.
#include "builtins/args.h"
#include "builtins/interaction.h"

#include <mutex>

#include "engine/debugger_seam.h"
#include "engine/run_context.h"
#include "engine/scanner.h"
#include "engine/var_store.h"
#include "platform/number_text.h"
#include "platform/ui.h"
#include "qotool/qolanguage.h"
#include "qotool/qotool.h"
#include "qotool/ui_callbacks.h"

namespace qotool::builtins {

namespace {

using engine::SkipBlanks;
using platform::Ui;

// A value text of the Check report: at most 200 bytes, a longer one cut
// and marked with "::::".
CString ReportCut(const CString& text) {
    if (text.GetLength() <= 200) return text;
    CString cut = text.Left(200);
    cut += "::::";
    return cut;
}

// ---- the prompt window ----

std::recursive_mutex g_promptMutex;
PromptState g_prompt;

int LineCount(const char* text) {
    int lines = 1;
    for (const char* p = text; *p; ++p)
        if (*p == '\n') ++lines;
    return lines > 20 ? 20 : lines;
}

void ShowPrompt(const char* text, int timeout, int x, int y) {
    platform::UiInterface& ui = Ui();
    std::unique_lock<std::recursive_mutex> lock(g_promptMutex);
    if (!text || !*text) {
        if (!g_prompt.exists) return;
        if (timeout == -1) {
            g_prompt.exists = false;
            g_prompt.visible = false;
            ui.PromptDestroy();
        } else {
            g_prompt.visible = false;
            ui.PromptHide();
        }
        return;
    }
    platform::PromptView view;
    view.title = platform::kPromptCaption;
    view.text = text;
    view.x = x;
    view.y = y;
    view.width = 400;
    view.height = LineCount(text) * 13 + 100;
    view.created = !g_prompt.exists;
    g_prompt.exists = true;
    g_prompt.visible = true;
    g_prompt.x = view.x;
    g_prompt.y = view.y;
    g_prompt.width = view.width;
    g_prompt.height = view.height;
    ui.PromptShow(view);
    if (timeout <= 0) return;
    lock.unlock();
    const int closed = ui.PromptWait(timeout);
    lock.lock();
    if (closed == 1) {
        // The person closed the window: the next prompt creates it again.
        g_prompt.exists = false;
        g_prompt.visible = false;
    } else if (g_prompt.exists) {
        g_prompt.visible = false;
        ui.PromptHide();
    }
}

}  // namespace

PromptState CurrentPromptState() {
    std::lock_guard<std::recursive_mutex> lock(g_promptMutex);
    return g_prompt;
}

// ---- handlers ----

void Check(CQoLanguage* qo, char*& cursor, const char*) {
    QoLRunContext* run = qo->m_pRun;
    const bool checking = qo->m_bSyntaxCheck != 0;
    char* itemStart = cursor;
    engine::SkipExpression(cursor, 0);
    const CString itemSource(itemStart, (int)(cursor - itemStart));
    char itemType = 'Z';
    CString itemText;
    if (!checking) {
        char* p = itemStart;
        {
            engine::CatchScope catcher(run);
            try {
                qo->DoSentence(p, "),", 0, 0);
            } catch (const engine::QolUnwind&) {
                // The item's error is what gets compared.
            }
        }
        itemType = qo->m_cType;
        itemText = qo->GetValueString();
    }
    char expectedType = 'N';
    CString expectedText = "1";
    CString expectedSource = "1";
    CString title = "值检测";
    if (*cursor == ',') {
        ++cursor;
        char* start = cursor;
        qo->DoSentence(cursor, "),", 0, 0);
        expectedSource = CString(start, (int)(cursor - start));
        expectedType = qo->m_cType;
        expectedText = qo->GetValueString();
        if (*cursor == ',') {
            ++cursor;
            qo->DoSentence(cursor, ")", 0, 0);
            title = qo->GetValueString();
        }
    }
    qo->m_strValue.Empty();
    if (!checking && (itemType != expectedType || itemText != expectedText)) {
        CString report;
        report.Format("被检查项：%s\r\n  值：%c型【%s】\r\n不合要求：%s\r\n  值：%c型【%s】", itemSource.c_str(),
                      itemType, ReportCut(itemText).c_str(), expectedSource.c_str(), expectedType,
                      ReportCut(expectedText).c_str());
        qo->m_strValue = report;
        platform::ShowMessageBox(report.c_str(), title.c_str(),
                                 platform::kMbOk | platform::kMbTaskModal | platform::kMbTopmost);
        diag::Trace(run, cursor, "C不符");
    }
    if (*cursor == ')') qo->FunctionBracketTrace(cursor, ')');
    qo->m_cType = 'S';
}

void EditData(CQoLanguage* qo, char*& cursor, const char*) {
    const bool checking = qo->m_bSyntaxCheck != 0;
    SkipBlanks(cursor);
    char name[engine::kWordBufferSize];
    const int length = engine::ScanWordChars(cursor, name);
    if (length == 0) {
        qo->ReportError("EditData函数无编辑变量", cursor);
        return;
    }
    cursor += length;
    CString message;
    const QoLVarDefine* record = engine::DoVariable(qo, name, 0, 'B');
    if (!record) {
        if (!checking) {
            message.Format("EditData函数编辑的变量 '%s' 未定义", name);
            qo->ReportError(message.c_str(), cursor);
            return;
        }
        qo->m_cType = '?';
        engine::RecordUndefinedName(qo, name);
    }
    const char type = qo->m_cType;
    if (type != 'N' && type != 'S' && type != '?') {
        message.Format("EditData函数编辑的变量 '%s' 不是字符型或数值型", name);
        qo->ReportError(message.c_str(), cursor);
        return;
    }
    const CString value = type == '?' ? CString() : qo->GetValueString();
    SkipBlanks(cursor);
    CString prompt;
    if (*cursor == ',') {
        ++cursor;
        qo->DoSentence(cursor, ")", 'S', 0);
        prompt = qo->m_strValue;
    } else {
        prompt.Format("编辑变量 %s 的值（%c型）：", name, type);
    }
    SetNumber(qo, 0);
    if (checking) return;
    CString edited = value;
    if (ruqo_EditText(edited, prompt.c_str()) != 1) return;
    if (type == 'N') {
        qo->m_cType = 'N';
        qo->m_dValue = platform::ParseDouble(edited.c_str());
    } else {
        qo->m_cType = 'S';
        qo->m_strValue = edited;
    }
    engine::DoVariable(qo, name, type, 'B');
    SetNumber(qo, 1);
}

void MessageBox(CQoLanguage* qo, char*& cursor, const char*) {
    const bool checking = qo->m_bSyntaxCheck != 0;
    qo->DoSentence(cursor, "),", 0, 0);
    CString text;
    if (qo->m_cType == 'X') {
        text = "内容无法显示，因为出错：\r\n\r\n";
        text += qo->m_strError;
    } else {
        text = qo->GetValueString();
    }
    CString title;
    unsigned style = 0;
    if (*cursor == ',') {
        ++cursor;
        qo->DoSentence(cursor, "),", 0, 0);
        title = qo->GetValueString();
        if (*cursor == ',') {
            ++cursor;
            qo->DoSentence(cursor, ")", 'N', 0);
            if (qo->m_cType == 'N') style = (unsigned)(uint32_t)platform::TruncToInt64(qo->m_dValue);
        }
    }
    if (checking) {
        qo->m_cType = '?';
        return;
    }
    if (text.GetLength() > 2048) {
        CString cut;
        cut.Format("%s......<总长%d>", text.Left(2000).c_str(), text.GetLength());
        text = cut;
    }
    if (title.GetLength() > 256) title = title.Left(256);
    SetNumber(qo, platform::ShowMessageBox(text.c_str(), title.c_str(),
                                           style | platform::kMbTaskModal | platform::kMbTopmost));
}

void MessageLog(CQoLanguage* qo, char*& cursor, const char*) {
    uintptr_t pointer = (uintptr_t)qo->m_pPlatform;
    int32_t level = 8;
    CString text1, text2, text3;
    qo->ReadPara('N', cursor, "%p%4%s%s%s", &pointer, &level, &text1, &text2, &text3, nullptr);
    // A check writes nothing.
    if (qo->m_bSyntaxCheck) {
        qo->m_cType = '?';
        return;
    }
    SetNumber(qo, ruqo_MessageLog((intptr_t)pointer, level, text1.c_str(), text2.c_str(), text3.c_str()));
}

void PromptText(CQoLanguage* qo, char*& cursor, const char*) {
    CString text;
    int32_t timeout = 0, x = 0, y = 0;
    qo->ReadPara('Z', cursor, "%s%4%4%4", &text, &timeout, &x, &y, nullptr);
    if (!qo->m_bSyntaxCheck) ::PromptText(text.c_str(), timeout, x, y);
    qo->m_cType = 'Z';
}

}  // namespace qotool::builtins

// ---- the exported dialog services ----

QO_API int ruqo_EditText(CString& text, const char* title) {
    try {
        const CString initial = text;
        CString edited = initial;
        const qotool::platform::EditDialogView view = qotool::platform::MakeEditDialogView(title, initial);
        if (qotool::platform::Ui().EditDialog(view, edited) != qotool::platform::kIdOk) return 2;
        text = edited;
        return 1;
    } catch (...) {
        return 2;
    }
}

extern "C" QO_API void PromptText(const char* text, int timeout, int x, int y) {
    try {
        qotool::builtins::ShowPrompt(text, timeout, x, y);
    } catch (...) {
    }
}
