#include "diag/diagnosis_dialog.h"

#include <cstdio>

#include "qotool/qotool.h"

namespace qotool::diag {

const char kDiagnosisCaption[] = "信息诊断";

namespace {
const char* const kButtonLabels[] = {
    "&E 查看前次错误",  // view the previous error
    "&W 查看运行日志",  // view the run log
    "&D 进入调试程序",  // enter the debugger
    "&G 退出信息诊断",  // leave message diagnosis
};
const char kCheckLabel[] = "30秒内禁止" "再显示此类提示";
const char kPreviousErrorCaption[] = "前次出错码：";
constexpr int kModeOpenLog = 64;
}  // namespace

const char* DiagnosisDialog::Caption() const { return kDiagnosisCaption; }

const char* DiagnosisDialog::ButtonLabel(int control) const {
    return control >= 0 && control < kControlCount ? kButtonLabels[control] : "";
}

const char* DiagnosisDialog::CheckLabel() const { return kCheckLabel; }

int DiagnosisDialog::Press(int control, bool checked) {
    const int quiet = checked ? kDiagnosisQuiet : 0;
    switch (control) {
        case kViewError: {
            char caption[64];
            snprintf(caption, sizeof caption, "%s%d", kPreviousErrorCaption, previousCode_);
            platform::ShowMessageBox(previousError_.c_str(), caption, platform::kMbOk);
            return -1;
        }
        case kViewLog:
            ruqo_MessageLog(0, kModeOpenLog, "", "", "");
            return -1;
        case kDebugger:
            return kDiagnosisDebugger | quiet;
        case kLeave:
            return kDiagnosisLeave | quiet;
        default:
            return -1;
    }
}

}  // namespace qotool::diag
