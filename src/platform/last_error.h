// The last system error as text: errno (or a pending dlerror text) turned
// into the system's message.
#ifndef QOTOOL_PLATFORM_LAST_ERROR_H
#define QOTOOL_PLATFORM_LAST_ERROR_H

#include "platform/cstring.h"

namespace qotool::platform {

// Sets text to the message of the last error and returns its code; 0 and an
// empty text when there is none.
int LastSystemError(CString& text);
// Records a failure whose text came from the dynamic loader.
void SetLoaderError(const char* text);

}  // namespace qotool::platform

#endif
