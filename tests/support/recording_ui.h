// A UI for tests: records everything the library hands to the UI interface
// and answers from scripted queues. While it lives it is the process-wide UI;
// its destructor puts back the interface that was installed before.
#ifndef QOTOOL_TESTS_SUPPORT_RECORDING_UI_H
#define QOTOOL_TESTS_SUPPORT_RECORDING_UI_H

#include <deque>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "platform/ui.h"

namespace qotool::test {

class RecordingUi : public platform::UiInterface {
public:
    enum class Kind {
        kBox, kSink, kEdit, kPromptShow, kPromptHide, kPromptDestroy, kPromptWait, kDiagnosis, kOpenFile
    };

    // One call, with the texts (GBK) and numbers it carried.
    struct Event {
        Event(Kind k, std::string c, std::string t) : kind(k), caption(std::move(c)), text(std::move(t)) {}
        Kind kind;
        std::string caption;  // box caption, sink caption, dialog or prompt title
        std::string text;     // box text, sink text, initial edit text, prompt text
        unsigned type = 0;    // message box type
        int timeout = 0;      // prompt wait; the result of a diagnosis dialog
        platform::EditDialogView edit;  // texts cleared (they do not outlive the call)
        platform::PromptView prompt;    // texts cleared
    };

    RecordingUi();
    ~RecordingUi() override;
    RecordingUi(const RecordingUi&) = delete;
    RecordingUi& operator=(const RecordingUi&) = delete;

    // Answers, used first to last. An empty box queue answers the headless
    // way (the default button); an empty edit queue answers Cancel; an empty
    // wait queue answers 0 (time passed).
    void AnswerBox(int button) { boxAnswers_.push_back(button); }
    void AnswerEdit(int code, std::string text) { editAnswers_.emplace_back(code, std::move(text)); }
    void AnswerWait(int closed) { waitAnswers_.push_back(closed); }
    // One showing of the diagnosis dialog: the buttons pressed, each with
    // the check box state, until one ends it (after the last, "leave").
    void AnswerDiagnosis(std::vector<std::pair<int, bool>> presses) { diagnosisAnswers_.push_back(std::move(presses)); }

    std::vector<Event> Events() const;
    std::vector<Event> Of(Kind kind) const;
    size_t Count(Kind kind) const { return Of(kind).size(); }
    // The texts of the message boxes, in order.
    std::vector<std::string> BoxTexts() const { return Texts(Kind::kBox); }
    void Clear();

    int MessageBox(const char* text, const char* caption, unsigned type) override;
    void Sink(const char* caption, const char* text) override;
    int EditText(CString& text, const char* title) override;
    int EditDialog(const platform::EditDialogView& view, CString& text) override;
    void PromptShow(const platform::PromptView& view) override;
    void PromptHide() override;
    void PromptDestroy() override;
    int PromptWait(int timeoutMs) override;
    int DiagnosisDialog(platform::DiagnosisDialogModel& dialog) override;
    void OpenTextFile(const char* path) override;

private:
    std::vector<std::string> Texts(Kind kind) const {
        std::vector<std::string> out;
        for (const Event& e : Of(kind)) out.push_back(e.text);
        return out;
    }
    void Add(Event event);
    mutable std::mutex mutex_;
    std::vector<Event> events_;
    std::deque<int> boxAnswers_;
    std::deque<std::pair<int, std::string>> editAnswers_;
    std::deque<int> waitAnswers_;
    std::deque<std::vector<std::pair<int, bool>>> diagnosisAnswers_;
    platform::UiInterface* previous_;
};

}  // namespace qotool::test

#endif
