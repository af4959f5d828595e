// CString: the counted byte string every qotool interface passes around,
// with CStringArray and CObject. Their declarations are the platform
// layer's, which implements them: qotool/platform/cstring.h, installed
// beside this header.
#ifndef QOTOOL_CSTRING_H
#define QOTOOL_CSTRING_H

// C++ only: a C file that includes this header gets no declarations from it
// (C hosts use qotool/qotool.h).
#if defined(__cplusplus) && __cplusplus < 201703L
#error "this C++ header of qotool needs C++17; C and older C++ hosts use <qotool/qotool.h>"
#endif
#ifdef __cplusplus
#include "platform/cstring.h"
#endif

#endif
