/* A driver setup routine for the ODBC tests: it configures SQLite data
 * sources the way a file-database driver's setup does, taking the database
 * folder from "SourceDB" (a drive path: "X:\dir" is $QO_DRIVE_X/dir) and
 * keeping the database in DSN.db there. Every attribute is kept as given. */
#include <ctype.h>
#include <odbcinst.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <strings.h>

static void DatabaseOf(const char* source, const char* dsn, char* out, size_t size) {
    char folder[512] = "";
    if (isalpha((unsigned char)source[0]) && source[1] == ':') {
        char name[] = "QO_DRIVE_X";
        name[9] = (char)toupper((unsigned char)source[0]);
        const char* drive = getenv(name);
        snprintf(folder, sizeof folder, "%s/%s", drive ? drive : "", source + 2);
    } else {
        snprintf(folder, sizeof folder, "%s", source);
    }
    for (char* p = folder; *p; ++p)
        if (*p == '\\') *p = '/';
    snprintf(out, size, "%s/%s.db", folder, dsn);
}

__attribute__((visibility("default"))) BOOL ConfigDSN(HWND parent, WORD request, LPCSTR driver, LPCSTR attributes) {
    (void)parent;
    char dsn[256] = "";
    for (const char* p = attributes; p && *p; p += strlen(p) + 1)
        if (strncasecmp(p, "DSN=", 4) == 0) snprintf(dsn, sizeof dsn, "%s", p + 4);
    if (!dsn[0]) return 0;
    const int base = request > ODBC_REMOVE_DSN ? request - 3 : request;
    if (base == ODBC_REMOVE_DSN) return SQLRemoveDSNFromIni(dsn);
    if (base == ODBC_ADD_DSN && !SQLWriteDSNToIni(dsn, driver)) return 0;
    for (const char* p = attributes; p && *p; p += strlen(p) + 1) {
        const char* equals = strchr(p, '=');
        if (!equals || strncasecmp(p, "DSN=", 4) == 0) continue;
        char key[128];
        snprintf(key, sizeof key, "%.*s", (int)(equals - p), p);
        SQLWritePrivateProfileString(dsn, key, equals + 1, "odbc.ini");
        if (strcasecmp(key, "SourceDB") == 0) {
            char database[1024];
            DatabaseOf(equals + 1, dsn, database, sizeof database);
            SQLWritePrivateProfileString(dsn, "Database", database, "odbc.ini");
        }
    }
    return 1;
}
