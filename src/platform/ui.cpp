#include "platform/ui.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/encoding.h"

namespace qotool::platform {

int DefaultButton(unsigned type) {
    static const int first[] = {kIdOk, kIdOk, kIdAbort, kIdYes, kIdYes, kIdRetry, kIdCancel};
    static const int second[] = {kIdOk, kIdCancel, kIdRetry, kIdNo, kIdNo, kIdCancel, kIdRetry};
    static const int third[] = {kIdOk, kIdCancel, kIdIgnore, kIdCancel, kIdNo, kIdCancel, kIdRetry};
    unsigned set = type & 0x0F;
    if (set > 6) set = 0;
    switch ((type >> 8) & 0x0F) {
    case 1: return second[set];
    case 2: return third[set];
    default: return first[set];
    }
}

namespace {

class HeadlessUi final : public UiInterface {
public:
    int MessageBox(const char* text, const char* caption, unsigned type) override {
        Sink(caption, text);
        if (const char* forced = getenv("QO_MSGBOX_ANSWER")) {
            int answer = atoi(forced);
            if (answer > 0) return answer;
        }
        return DefaultButton(type);
    }
    // An automatic OK would loop the statement editor forever.
    int EditText(CString& text, const char* title) override {
        Sink(title, text.c_str());
        return kIdCancel;
    }
    void Sink(const char* caption, const char* text) override {
        const char* mode = getenv("QO_UI");
        if (mode && strcmp(mode, "silent") == 0) return;
        std::string line = "[";
        line += caption ? caption : "";
        line += "] ";
        line += text ? text : "";
        line += "\n";
        if (EnvironmentIsUtf8()) line = GbkToUtf8(line, true);
        fwrite(line.data(), 1, line.size(), stderr);
    }
};

HeadlessUi g_headless;
UiInterface* g_ui = nullptr;

}  // namespace

UiInterface& Ui() { return g_ui ? *g_ui : g_headless; }
void SetUi(UiInterface* ui) { g_ui = ui; }

}  // namespace qotool::platform
