// Export macro of libqoTool_NoQO.so: QO_API marks the names visible to
// hosts (the library is built with hidden visibility), QO_EXTERN_C gives C
// linkage from C++. Defined by the platform layer in
// qotool/platform/export.h, installed beside this header.
#ifndef QOTOOL_QO_API_H
#define QOTOOL_QO_API_H

#include "platform/export.h"

#endif
