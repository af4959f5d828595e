// Built-ins that talk to a person: value checks with a box on mismatch, an
// editor for a variable, message boxes, the prompt window and the message
// log; and the two dialog services behind them, ruqo_EditText and
// PromptText (declared for hosts in qotool/ui_callbacks.h).
//
// Wiring into the two-letter dispatch (key: names in bucket order -> handler;
// names compared without regard to case):
//
//   ch  chr (strings), Check                      -> Check
//   ed  EditData                                  -> EditData
//   me  MessageBox, MessageLog, then the prefix
//       test "Mem" (native calls)                 -> MessageBox, MessageLog
//   pr  PromptText                                -> PromptText
//
// The interpreter control built-ins are listed in control.h.
#ifndef QOTOOL_BUILTINS_INTERACTION_H
#define QOTOOL_BUILTINS_INTERACTION_H

class CQoLanguage;

namespace qotool::builtins {

// Check(item [, expected [, title]]): empty when the item's type and text
// equal the expected ones (default N "1"); else the report, which is also
// shown in a box titled title (default "值检测").
void Check(CQoLanguage* qo, char*& cursor, const char* word);
// EditData(variable [, prompt]): 1 when the person confirmed an edit of the
// variable's value, else 0.
void EditData(CQoLanguage* qo, char*& cursor, const char* word);
// MessageBox(text [, title [, style]]): the button pressed.
void MessageBox(CQoLanguage* qo, char*& cursor, const char* word);
// MessageLog([pointer], [level], [text1], [text2], [text3]): the log's answer.
void MessageLog(CQoLanguage* qo, char*& cursor, const char* word);
// PromptText(text [, timeout [, x [, y]]]): shows or hides the prompt (Z).
void PromptText(CQoLanguage* qo, char*& cursor, const char* word);

// The prompt window as the library keeps it.
struct PromptState {
    bool exists = false;   // created and not destroyed
    bool visible = false;  // on screen
    int x = 0, y = 0, width = 0, height = 0;
};
PromptState CurrentPromptState();

}  // namespace qotool::builtins

#endif
