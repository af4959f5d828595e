/* An extension module written in C. Scripts use it as
 *
 *   c = ruqo_Counter_Create('visits', 10);   a counter named visits, at 10
 *   c.Add(5);                                 adds, returns the new count
 *   c.Count()                                 the count
 *   c.Name()                                  the name given to Create
 *
 * The library loads qol_Counter_NoQO.so on the first ruqo_Counter_Create
 * (searching $QO_MODULE_PATH among other folders); the constructor below
 * registers the executor, and the call is tried again. */
#include <stdint.h>
#include <stdlib.h>
#include <string.h>
#include <strings.h>

#include <qotool/qotool.h>

typedef struct Counter {
    char name[64];
    double count;
    struct Counter* next;
} Counter;

/* Every counter the module made; an address it never made is refused. */
static Counter* g_counters = NULL;

static Counter* Find(uintptr_t address) {
    for (Counter* c = g_counters; c; c = c->next)
        if ((uintptr_t)c == address) return c;
    return NULL;
}

static char CounterExecutor(char** cursor, const char* word, CQoLanguage* qo) {
    if (strcasecmp(word, "ruqo_Counter_Create") == 0) {
        QoText name = {"", 0};
        double start = 0;
        if (ruqo_ReadPara(qo, 'N', cursor, "%s?g", &name, &start, NULL) != QO_OK) return 1;
        Counter* c = calloc(1, sizeof *c);
        if (!c) return ruqo_SetValueError(qo, "out of memory"), 1;
        strncpy(c->name, name.data, sizeof c->name - 1);
        c->count = start;
        c->next = g_counters;
        g_counters = c;
        ruqo_SetValuePointer(qo, (uintptr_t)c, "%Counter");
        return 1;
    }
    /* Members arrive as "ruqo_Counter_.Member" with the counter as the value. */
    if (strncasecmp(word, "ruqo_Counter_.", 14) != 0 || ruqo_ValueType(qo) != 'P') return 0;
    Counter* c = Find(ruqo_ValuePointer(qo));
    if (!c) return 0;
    const char* member = word + 14;
    if (strcasecmp(member, "Add") == 0) {
        double step = 1;
        if (ruqo_ReadPara(qo, 'N', cursor, "?g", &step, NULL) != QO_OK) return 1;
        c->count += step;
        ruqo_SetValueNumber(qo, c->count);
        return 1;
    }
    if (strcasecmp(member, "Count") == 0) {
        if (ruqo_ReadPara(qo, 'N', cursor, "", NULL) != QO_OK) return 1;
        ruqo_SetValueNumber(qo, c->count);
        return 1;
    }
    if (strcasecmp(member, "Name") == 0) {
        if (ruqo_ReadPara(qo, 'S', cursor, "", NULL) != QO_OK) return 1;
        ruqo_SetValueText(qo, c->name, -1);
        return 1;
    }
    return 0;
}

__attribute__((constructor)) static void RegisterCounter(void) {
    ruqo_UserQolExecutor("Counter", '+', (intptr_t)&CounterExecutor);
}

__attribute__((destructor)) static void FreeCounters(void) {
    ruqo_UserQolExecutor("Counter", '-', 0);
    while (g_counters) {
        Counter* next = g_counters->next;
        free(g_counters);
        g_counters = next;
    }
}
