// A C++ host of an older standard that uses the C header alone.
#include <qotool/qotool.h>

#include <cstdio>

static int Twice(QoInterp* qo, int argc, const QoValue* argv, QoValue* result, void*) {
    double n = 0;
    if (ruqo_CheckNumber(qo, argc, argv, 0, &n) != QO_OK) return QO_ERROR;
    *result = ruqo_ValueNumber(2 * n);
    return QO_OK;
}

int main() {
    QoInterp* qo = ruqo_CreateInterp();
    ruqo_RegisterFunction(qo, "twice", Twice, nullptr, nullptr);
    ruqo_Eval(qo, "twice(21)", -1, nullptr);
    char type = 0;
    const char* text = nullptr;
    ruqo_GetResult(qo, &type, &text, nullptr);
    std::printf("C++%ld: %c:%s\n", (long)__cplusplus, type, text);
    ruqo_FreeInterp(qo);
    return type == 'N' ? 0 : 1;
}
