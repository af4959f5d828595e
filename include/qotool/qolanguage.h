// CQoLanguage: one QOL interpreter. A host creates as many as it likes,
// hands each QOL text (DoQol) or files (Do) to run, and reads back the
// resulting value (GetValueNumber, GetValueString, ...). All texts are GBK.
// Threads: interpreters may be created, run and destroyed on any thread, and
// several may run at once; each one is used by one thread at a time. What
// they share (system_ variables, user executors, modules) is locked.
#ifndef QOTOOL_QOLANGUAGE_H
#define QOTOOL_QOLANGUAGE_H

// C++ only: a C file that includes this header gets no declarations from it
// (C hosts use qotool/qotool.h).
#if defined(__cplusplus) && __cplusplus < 201703L
#error "this C++ header of qotool needs C++17; C and older C++ hosts use <qotool/qotool.h>"
#endif
#ifdef __cplusplus

#include <cstdint>
#include <vector>

#include "qotool/cstring.h"
#include "qotool/qo_api.h"

class QoLRunContext;
class QoLVarDefine;
namespace qotool::engine {
struct VarTables;
}

class CQoLanguage {
public:
    QO_API CQoLanguage();
    QO_API ~CQoLanguage();
    CQoLanguage(const CQoLanguage&) = delete;
    CQoLanguage& operator=(const CQoLanguage&) = delete;

    // Run entry points. DoQol returns null when this object is not a live
    // interpreter (for example one that has been destroyed).
    QO_API CQoLanguage* DoQol(const char* text, void* hostData);
    // kind "qol" runs text, "qolfile" runs the file named by text (a relative
    // name is taken from the library's directory), "clear" resets the
    // interpreter's variables and modes.
    QO_API CQoLanguage* Do(const char* kind, const char* text);
    // The debugger's entry: text "?" turns the debug switch on, "??" off,
    // "???" leaves it; these three run nothing and leave N with the
    // switch's previous state (0 or 1). Any other text runs through DoQol
    // with the switch off for the run's duration.
    QO_API CQoLanguage* DoQolAndPauseDebug(const char* text, void* hostData);
    // The variable browser on this interpreter: 0 when a browser is open
    // already, else 1 once it has closed.
    QO_API int Browser(const char* title);
    // Executes the first sentence of text and fills every value member.
    QO_API CQoLanguage* DoSentenceReturnAllType(char* text);
    // 1 error skip on, 2 error output on, 3 pause key on, 4 syntax check,
    // 5 debugger enabled; otherwise 0.
    QO_API int GetQolState(short what);
    // The platform object this interpreter is linked to; without one the
    // call fails with an error inside a run.
    QO_API CObject* GetSafeQo(char unused);
    QO_API int BindTableBuffer(const char* name);

    // Value methods.
    QO_API int SetValueType(char type, const char* extType);
    QO_API const char* GetValueExtType();
    QO_API int IsReturnValueOfDoqol();
    QO_API double GetValueNumber();
    QO_API CString GetValueString();
    QO_API const char* GetValueString(int& length);
    QO_API const char* SetValueString(const char* text, int length);
    QO_API CString ValueString(const char* text);
    QO_API CString ErrorString(const char* text);
    // Only for a P value: appends a value-change record (a zero byte, kind,
    // this interpreter, callback) to the extended type; returns 1, else 0.
    // callback: void (*)(int kindTimesFactor, CQoLanguage* interpreter,
    //                    intptr_t pointer, const char* extType)
    QO_API int SetVariableValueChangeEvent(unsigned char kind, void* callback);

    // Argument lists. format: entries "%c" (required) or "?c" (optional)
    // with code c and an optional length; one destination per entry, the
    // list ends at the first null. Destinations by code:
    //   s, S, v, r   CString*            (with a length n: char** cell that
    //                                     points to a buffer of n bytes)
    //   b, 1         uint8_t* / int8_t*  2  int16_t*   4  int32_t*
    //   f            float*              g  double*
    //   p            uintptr_t*
    // The integer codes truncate toward zero through 64 bits and keep the
    // low bits of their width (4294967295 and -1 both store 0xFFFFFFFF); b
    // stores 1 for any number but 0. An optional entry whose code the value
    // does not fit is skipped (its destination too). An argument written
    // &name is by reference: WritePara copies its destination back.
    // resultType: the value's type letter afterwards; lower case or '('
    // keep the write-back list of earlier calls, ')' or '(' leave the
    // closing bracket unconsumed. The value's string holds the argument
    // signature afterwards: one letter per entry reached (N, S, P; '*'
    // omitted, '-' skipped optional entry, '?' during a syntax check).
    // On a wrong type the value is X with the message as its error text
    // (inside a run the reading unwinds).
    QO_API void ReadPara(char resultType, char*& cursor, const char* format, ...);
    // Writes the destinations of by-reference arguments back into their
    // variables, then empties the write-back list.
    QO_API void WritePara();

    // ---- engine internals (not exported) ----
    CQoLanguage* DoSentence(char*& cursor, const char* terminators, char expectedType, char closer);
    char* FunctionBracketTrace(char*& cursor, char bracket);
    // Error report: message (null = the current error text), the position
    // (null = start of the current level's text), end-of-run flag.
    void ReportError(const char* message, const char* position, bool endOfRun = false);
    // Throws the error unwind when a catcher is active (catch depth > 0).
    void Unwind(const char* text);
    // Number of the current value as the evaluator sees it.
    double EvalNumber() const;
    // Text form of a pointer value; returns whether an extended type was added.
    bool PointerToText(CString& out) const;
    // Reads a pointer from text; returns whether an extended type was found.
    bool PointerFromText(const char* text);
    void StatementStart(char*& cursor);
    void SkipMarkers(char*& cursor);
    void RunFileText(const char* path, const char* source, int length);
    // Pieces of DoSentence.
    void RunStatements(char*& cursor, const char* terminators, bool isList, short savedBracket);
    bool ReadOperand(char*& cursor);  // true when an assignment consumed the rest
    bool ReadWordOperand(char*& cursor, bool address);
    bool VariableReference(char*& cursor, char* word, bool address);
    void AppendSubscripts(char*& cursor, char* word);
    void ApplyOperator(char*& cursor, char op);
    void ApplyPercent(char*& cursor);
    void ApplyComparison(char*& cursor, char op);
    void ApplyMembership(char*& cursor);
    void ApplyConditional(char*& cursor);
    // Address dereference of a P "%qol" value: 0 failed, 'p' valid (when
    // validateOnly), '*' the variable's value is now the current value.
    char Dereference(bool validateOnly);
    void ReadNumber(char*& cursor, char* digits, bool negative);
    void OperatorLoop(char*& cursor, const char* terminators, short savedBracket, bool assigned);
    void ExecuteBlock(char*& cursor);
    void SearchGotoLabel(char*& cursor);
    // Statements. A keyword statement returns true when it was the word's
    // meaning; the statements written like calls start after their '('.
    bool KeywordStatement(char*& cursor, const char* word);
    void StatementIf(char*& cursor);
    void StatementWhile(char*& cursor);
    void StatementDo(char*& cursor);
    void StatementFor(char*& cursor);
    void StatementSwitch(char*& cursor);
    void StatementGoto(char*& cursor);
    void StatementReturn(char*& cursor);
    void StatementDeclare(char*& cursor, char scope);
    void StatementRemove(char*& cursor, char op);
    void StatementTry(char*& cursor);
    void StatementSkipError(char*& cursor);
    void StatementAskExec(char*& cursor);
    // Executes one statement at start; returns where it stopped.
    char* ExecuteStatementAt(char* start, char closer = 0);
    // After a block: completes a level goto whose level has been reached.
    void CheckLevelGoto();
    // Functions and objects.
    void DefineFunction(char*& cursor, char* wordStart, const char* word);
    void CallFunction(char*& cursor, const char* word);
    void CallUserFunction(char*& cursor, QoLVarDefine* definition);
    // Object access (mode 1: the '(' has been consumed); 0 when not handled.
    int ObjectAccess(char*& cursor, const char* name, int mode);

    // ---- members ----
    char m_cType;              // value type letter
    double m_dValue;           // N value
    CString m_strValue;        // S value
    uintptr_t m_pValue;        // P value
    CString m_strError;        // last error
    void* m_pHostData;         // host data of the running DoQol
    CStringArray m_declList;   // declarations kept by the variable store
    qotool::engine::VarTables* m_pVars;  // variable and array tables
    int m_nScopeLevel;         // open { } blocks
    // One entry per scope level: sizes of the variable and array tables
    // at which that level begins; entry (scope level + 1) is the current end.
    std::vector<std::pair<int, int>> m_scopeTable;
    char m_cControl;           // 0, 1, 'b', 'c', 'g', 'r'
    CObject* m_pPlatform;      // linked platform object or null
    QoLRunContext* m_pRun;     // owned run context
    CString m_strExtType;      // extended type of a P value
    unsigned char m_bSyntaxCheck;
    unsigned char m_modeFlags; // 0x01 external call, 0x02 error skip,
                               // 0x04 error output, 0x10 read-only, 0x20 pause
    CString m_strSpare;
};

#endif  // __cplusplus

#endif
