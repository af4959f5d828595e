/* A C host of the QOL interpreter: runs texts on an interpreter of its
 * own, reads and writes variables, and shows where an error happened.
 *
 *   cc host.c $(pkg-config --cflags --libs qotool) -o host
 *
 * Texts are GBK; this example keeps to ASCII. */
#include <stdio.h>
#include <string.h>

#include <qotool/qotool.h>

static int Run(QoInterp* interp, const char* text) {
    char type = 0;
    const char* value = NULL;
    size_t length = 0;
    int rc = ruqo_Eval(interp, text, -1, "host.qol");
    ruqo_GetResult(interp, &type, &value, &length);
    if (rc == QO_OK) {
        printf("%c:%.*s (%zu bytes)\n", type, (int)length, value, length);
    } else if (rc == QO_ERROR) {
        int line = 0, column = 0;
        if (ruqo_ErrorPosition(interp, &line, &column) == QO_OK)
            printf("error at line %d, column %d\n", line, column);
        else
            printf("error with no position\n");
    } else {
        printf("misuse: %d\n", rc);
    }
    return rc;
}

int main(void) {
    printf("library %s, header %s\n", ruqo_LibVersion(), QO_VERSION);
    QoInterp* interp = ruqo_CreateInterp();
    if (!interp) return 1;

    Run(interp, "total = 0; for (i = 1; i <= 10; i++) total = total + i; total");

    /* Variables: a string with a zero byte in it goes in and comes back whole. */
    ruqo_SetVar(interp, "greeting", 'S', "hi\0there", 8);
    char type = 0;
    const char* text = NULL;
    size_t length = 0;
    if (ruqo_GetVar(interp, "total", &type, &text, &length) == QO_OK) printf("total is %c:%s\n", type, text);
    Run(interp, "len(greeting)");

    /* An error in line 3. */
    Run(interp, "a = 1;\nb = 2;\nc = a + missing;\n");

    /* Bad handles are refused, never followed. */
    printf("null handle: %d\n", ruqo_Eval(NULL, "1", -1, NULL));
    ruqo_FreeInterp(interp);
    printf("freed handle: %d\n", ruqo_Eval(interp, "1", -1, NULL));
    return 0;
}
