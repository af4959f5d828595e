// The one process-wide user interface. The library never draws: it hands
// texts to this interface, which shows them and answers. The headless
// default answers a message box with its default button and sends what
// would have been shown to the sink (standard error; QO_UI=silent drops it).
#ifndef QOTOOL_PLATFORM_UI_H
#define QOTOOL_PLATFORM_UI_H

#include "qotool/cstring.h"

namespace qotool::platform {

// Button results of a message box.
enum : int { kIdOk = 1, kIdCancel = 2, kIdAbort = 3, kIdRetry = 4, kIdIgnore = 5, kIdYes = 6, kIdNo = 7 };

class UiInterface {
public:
    virtual ~UiInterface() = default;
    // type: button set in the low 4 bits, default button in bits 8-11.
    virtual int MessageBox(const char* text, const char* caption, unsigned type) = 0;
    virtual void Sink(const char* caption, const char* text) = 0;
    // The statement editor: shows text for editing; returns kIdOk with the
    // edited text, or kIdCancel.
    virtual int EditText(CString& text, const char* title) = 0;
};

// The headless answer of a message box of the given type.
int DefaultButton(unsigned type);

UiInterface& Ui();
// Installs an interface (not owned); null puts the headless default back.
void SetUi(UiInterface* ui);

inline int ShowMessageBox(const char* text, const char* caption, unsigned type) {
    return Ui().MessageBox(text, caption, type);
}
inline void UiSink(const char* caption, const char* text) { Ui().Sink(caption, text); }

}  // namespace qotool::platform

#endif
