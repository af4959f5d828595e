// The diagnosis dialog "信息诊断" that a message box of the log leads to.
// Its buttons: view the previous error (a box captioned "前次出错码：" and
// the code), view the run log (the log with mode 64, which opens the file),
// enter the debugger (ends with 0x40) and leave (ends with 0x20); a ticked
// check box adds 0x80 to either result, which tells the log to keep that
// category quiet for 30 seconds.
#ifndef QOTOOL_DIAG_DIAGNOSIS_DIALOG_H
#define QOTOOL_DIAG_DIAGNOSIS_DIALOG_H

#include <string>

#include "platform/ui.h"

namespace qotool::diag {

enum : int {
    kDiagnosisDebugger = 0x40,
    kDiagnosisLeave = 0x20,
    kDiagnosisQuiet = 0x80,  // "30秒内禁止再显示此类提示" ticked
};

extern const char kDiagnosisCaption[];  // "信息诊断"

class DiagnosisDialog final : public platform::DiagnosisDialogModel {
public:
    // The previous error's text and code, shown by the first button.
    DiagnosisDialog(std::string previousError, int previousCode)
        : previousError_(std::move(previousError)), previousCode_(previousCode) {}
    const char* Caption() const override;
    const char* ButtonLabel(int control) const override;
    const char* CheckLabel() const override;
    int Press(int control, bool checked) override;

private:
    std::string previousError_;
    int previousCode_;
};

}  // namespace qotool::diag

#endif
