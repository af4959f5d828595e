/* Export macro of libqoTool_NoQO.so. The library is built with hidden
 * visibility; only names marked QO_API are visible to hosts. The public
 * qotool/qo_api.h includes this header, which is installed beside it as
 * qotool/platform/export.h. C and C++. */
#ifndef QOTOOL_PLATFORM_EXPORT_H
#define QOTOOL_PLATFORM_EXPORT_H

#if defined(QOTOOL_BUILDING)
#define QO_API __attribute__((visibility("default")))
#else
#define QO_API
#endif

#ifdef __cplusplus
#define QO_EXTERN_C extern "C"
#else
#define QO_EXTERN_C
#endif

#endif
