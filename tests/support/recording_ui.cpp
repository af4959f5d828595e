#include "support/recording_ui.h"

namespace qotool::test {

namespace {

// The first answer of a queue (the caller holds the lock), else `none`.
template <typename T>
T Pop(std::deque<T>& answers, T none) {
    if (answers.empty()) return none;
    T answer = std::move(answers.front());
    answers.pop_front();
    return answer;
}

}  // namespace

RecordingUi::RecordingUi() : previous_(platform::InstalledUi()) { platform::SetUi(this); }

RecordingUi::~RecordingUi() { platform::SetUi(previous_); }

void RecordingUi::Add(Event event) {
    std::lock_guard<std::mutex> lock(mutex_);
    events_.push_back(std::move(event));
}

std::vector<RecordingUi::Event> RecordingUi::Events() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return events_;
}

std::vector<RecordingUi::Event> RecordingUi::Of(Kind kind) const {
    std::vector<Event> out;
    for (const Event& event : Events())
        if (event.kind == kind) out.push_back(event);
    return out;
}

void RecordingUi::Clear() {
    std::lock_guard<std::mutex> lock(mutex_);
    events_.clear();
}

int RecordingUi::MessageBox(const char* text, const char* caption, unsigned type) {
    Event event{Kind::kBox, caption ? caption : "", text ? text : ""};
    event.type = type;
    Add(event);
    std::lock_guard<std::mutex> lock(mutex_);
    return Pop(boxAnswers_, platform::DefaultButton(type));
}

void RecordingUi::Sink(const char* caption, const char* text) {
    Add(Event{Kind::kSink, caption ? caption : "", text ? text : ""});
}

int RecordingUi::EditText(CString& text, const char* title) {
    const CString initial = text;
    return EditDialog(platform::MakeEditDialogView(title, initial), text);
}

int RecordingUi::EditDialog(const platform::EditDialogView& view, CString& text) {
    Event event{Kind::kEdit, view.title ? view.title : "", view.text ? view.text : ""};
    event.edit = view;
    event.edit.title = nullptr;
    event.edit.text = nullptr;
    Add(event);
    std::lock_guard<std::mutex> lock(mutex_);
    const auto answer = Pop(editAnswers_, {platform::kIdCancel, ""});
    if (answer.first == platform::kIdOk) text = CString(std::string_view(answer.second));
    return answer.first;
}

void RecordingUi::PromptShow(const platform::PromptView& view) {
    Event event{Kind::kPromptShow, view.title ? view.title : "", view.text ? view.text : ""};
    event.prompt = view;
    event.prompt.title = nullptr;
    event.prompt.text = nullptr;
    Add(event);
}

void RecordingUi::PromptHide() { Add(Event{Kind::kPromptHide, "", ""}); }

void RecordingUi::PromptDestroy() { Add(Event{Kind::kPromptDestroy, "", ""}); }

int RecordingUi::PromptWait(int timeoutMs) {
    Event event{Kind::kPromptWait, "", ""};
    event.timeout = timeoutMs;
    Add(event);
    std::lock_guard<std::mutex> lock(mutex_);
    return Pop(waitAnswers_, 0);
}

int RecordingUi::DiagnosisDialog(platform::DiagnosisDialogModel& dialog) {
    std::unique_lock<std::mutex> lock(mutex_);
    const std::vector<std::pair<int, bool>> presses = Pop(diagnosisAnswers_, {});
    lock.unlock();
    int result = -1;
    for (const auto& [control, checked] : presses)
        if ((result = dialog.Press(control, checked)) >= 0) break;
    if (result < 0) result = dialog.Press(platform::DiagnosisDialogModel::kLeave, false);
    Event event{Kind::kDiagnosis, dialog.Caption(), dialog.CheckLabel()};
    event.timeout = result;
    Add(event);
    return result;
}

void RecordingUi::OpenTextFile(const char* path) { Add(Event{Kind::kOpenFile, "", path ? path : ""}); }

}  // namespace qotool::test
