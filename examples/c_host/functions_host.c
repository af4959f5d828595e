/* A C host that gives QOL scripts functions of its own: a counter object
 * and a lookup into the host's price table, each with its data. It calls a
 * script's function, hands it an array and reads one back, and reports an
 * error with its line and column.
 *
 *   cc functions_host.c $(pkg-config --cflags --libs qotool) -o functions_host
 *
 * Texts are GBK; this example keeps to ASCII. */
#include <stdio.h>
#include <string.h>

#include <qotool/qotool.h>

typedef struct { double count; } Counter;

/* count([step]): adds step (default 1) and gives the new count. */
static int Count(QoInterp* qo, int argc, const QoValue* argv, QoValue* result, void* data) {
    Counter* counter = data;
    double step = 1;
    if (argc > 0 && ruqo_CheckNumber(qo, argc, argv, 0, &step) != QO_OK) return QO_ERROR;
    counter->count += step;
    *result = ruqo_ValueNumber(counter->count);
    return QO_OK;
}

typedef struct { const char* name; double price; } Price;
static const Price kPrices[] = {{"apple", 0.5}, {"bread", 2.25}, {"milk", 1.1}, {NULL, 0}};

/* price(name): the price of an item, an error for an unknown one. */
static int LookUp(QoInterp* qo, int argc, const QoValue* argv, QoValue* result, void* data) {
    const char* name;
    size_t length;
    if (ruqo_CheckText(qo, argc, argv, 0, &name, &length) != QO_OK) return QO_ERROR;
    for (const Price* p = data; p->name; ++p)
        if (strlen(p->name) == length && memcmp(p->name, name, length) == 0) {
            *result = ruqo_ValueNumber(p->price);
            return QO_OK;
        }
    return ruqo_Error(qo, "no price for '%.*s'", (int)length, name);
}

static void Forget(void* data) { printf("released counter at %.0f\n", ((Counter*)data)->count); }

static const char kScript[] =
    "#total(items) { sum = 0; for (i = 0; i < items; i++) sum = sum + price(basket[i]); return sum; }\n"
    "#scale(f) { for (i = 0; i < 3; i++) out[i] = basket[i] + ' x' + str(f); }\n"
    "out[2] = 0;\n";

int main(void) {
    QoInterp* qo = ruqo_CreateInterp();
    Counter counter = {0};
    ruqo_RegisterFunction(qo, "count", Count, &counter, Forget);
    ruqo_RegisterFunction(qo, "price", LookUp, (void*)kPrices, NULL);

    /* The host's functions in a script, and an error caught there. */
    ruqo_Eval(qo, "count(); count(5); try { price('caviar') } catch (e) { e }", -1, NULL);
    const char* text;
    size_t length;
    char type;
    ruqo_GetResult(qo, &type, &text, &length);
    printf("count is %.0f, caught: %s\n", counter.count, text);

    /* An array in, a function of the script called, an array out. */
    ruqo_Eval(qo, kScript, -1, "shop.qol");
    QoValue basket[3] = {ruqo_ValueText("apple", -1), ruqo_ValueText("bread", -1), ruqo_ValueText("milk", -1)};
    ruqo_SetArray(qo, "basket", 3, 0, basket);
    QoValue items = ruqo_ValueNumber(3), sum;
    if (ruqo_Call(qo, "total", 1, &items, &sum) == QO_OK) printf("total(3) = %g\n", sum.number);
    QoValue two = ruqo_ValueNumber(2);
    ruqo_Call(qo, "scale", 1, &two, NULL);
    QoValue out[3];
    int rows, columns;
    if (ruqo_GetArray(qo, "out", &rows, &columns, out, 3) == QO_OK)
        for (int r = 0; r < rows; ++r) printf("out[%d] = %.*s\n", r, (int)out[r].length, out[r].text);

    /* An error in parts: message, file, line, column and the line itself. */
    if (ruqo_Eval(qo, "a = 1;\nb = price('tea') + a;\n", -1, "order.qol") == QO_ERROR) {
        QoErrorInfo e;
        ruqo_ErrorInfo(qo, &e);
        printf("%s:%d:%d: %s\n    %s\n", e.fileName, e.line, e.column, e.message, e.sourceLine);
    }
    ruqo_FreeInterp(qo); /* runs Forget */
    return 0;
}
