/* Host services of libqoTool_NoQO.so: the registry of platform modules,
 * the command service, the glossary and the ODBC configuration.
 *
 * All texts are GBK byte strings. A module handle is any address inside a
 * loaded module; null stands for the running program. None of these
 * functions throws or reports errors to the caller beyond its result:
 * failures go to the message log (ruqo_MessageLog) and, where the function
 * says so, to a message box. Returned pointers point into buffers of the
 * library that stay valid until the same function (or the function named)
 * is called again. The services share process-wide state: the module
 * registry is locked; the command service and the glossary are meant for
 * one thread at a time. */
#ifndef QOTOOL_HOST_H
#define QOTOOL_HOST_H

#include <stdint.h>

#include "qotool/qo_api.h"

#ifdef __cplusplus
extern "C" {
#endif

/* The module registry. With a module handle and a request
 * "NAME?REQ:a,b,c,d?..." registers the module (its versions read from its
 * file) and returns the platform's version text; with "-NAME" unregisters
 * it and returns "". With a null handle returns the version text of the
 * file whose path is the request ("" without version information). */
QO_API const char* ruqo_VersionCheck(void* module, const char* request);

/* "WorkDirectory" (any case): the work directory (char*); "EP_Share": the
 * platform record; anything else: null. reserved is not used. */
QO_API void* ruqo_GetQoProperty(const char* name, void* reserved);

/* The command service. The command is compared in upper case (at most 63
 * characters); a null command or argument answers "".
 *   "VCWINAPP" "+"/"-"     make or drop the standalone application object; ""
 *   "GLOSSARY" word, n     the entry n lines after (n < 0: before) word in
 *                          GLOSSARY.INF of the library directory; n 0 or an
 *                          unknown word: the word itself
 *   "SYSLIB_DIR" path      the library directory becomes path's directory;
 *                          answers it in upper case
 *   "MAIN_DIR"             the library directory's parent
 *   "APP_FILE" module      the path of that loaded module, else of the program
 *   "MAIL>" + sub, arg     passed to pb_command of postbox.so in the library
 *                          directory (loaded on demand; "CLOSE" unloads it)
 *   "DATASRC" line         ruqo_ConfigDataSource(line): "1" or "0"
 *   "VERSION"              the service's version tag
 * The answer stays valid until the next call. */
QO_API const char* ruqo_Cmd(const char* command, const char* argument, int number);
QO_API const char* pf_cmd(const char* command, const char* argument, int number);

/* The glossary. ruqo_Gt: the text of key in the current language (the key
 * itself when absent). ruqo_Gts: the n-th part (from 1) of that text
 * between separators. ruqo_Gtc: commands F (load), L (language), M (macro
 * expansion), T (reference), C (check and export), W (nothing). The
 * answers share one buffer, valid until the next of these calls. */
QO_API const char* ruqo_Gt(const char* key);
QO_API const char* ruqo_Gts(const char* key, int n, const char* separator);
QO_API const char* ruqo_Gtc(const char* command, const char* argument);

/* ODBC data sources from one line "ACTION=DRIVERS;ATTRIBUTES": 1 when the
 * ODBC installer accepted the request, else 0. reserved goes to the
 * message log. */
QO_API int ruqo_ConfigDataSource(const char* request, intptr_t reserved);
/* Writes the Oracle net service name of "COMPUTER=...;DATABASE=...;
 * SERVER=..." into the tnsnames.ora of every Oracle home; returns the
 * number of homes written. */
QO_API int ruqo_ConfigOracleServerName(const char* request);

#ifdef __cplusplus
}

#include "qotool/cstring.h"
/* The shutdown hook run when the library unloads; returns "". */
QO_API CString ruqo_AllQuit();
#endif

#endif
