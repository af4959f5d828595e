// Exported functions that let a script check the native-call marshalling
// against known callees: every parameter and return code, by value and by
// reference. The *API* twins stand for functions that remove their own
// arguments; on x86-64 both kinds are called alike.
#include "qotool/cstring.h"
#include "qotool/qo_api.h"

namespace {

// *pa = a + 2; *pd = d + 0.5 + *pd; *pb = *pb + b + 1000; *pc = 1 if c is
// 0, else 0; *pe = e + 123; the result *pb + *pd.
double Exercise(int a, int* pa, double d, double* pd, int b, int* pb, char c, char* pc, int e, int* pe) {
    *pa = a + 2;
    *pd = d + 0.5 + *pd;
    *pb = *pb + b + 1000;
    *pc = c == 0 ? 1 : 0;
    *pe = e + 123;
    return *pb + *pd;
}

const char kText[] = "aaa";

}  // namespace

extern "C" {

QO_API double Test_DllCall(int a, int* pa, double d, double* pd, int b, int* pb, char c, char* pc, int e, int* pe) {
    return Exercise(a, pa, d, pd, b, pb, c, pc, e, pe);
}
QO_API double Test_DllAPI(int a, int* pa, double d, double* pd, int b, int* pb, char c, char* pc, int e, int* pe) {
    return Exercise(a, pa, d, pd, b, pb, c, pc, e, pe);
}

QO_API int Test_DllCall_v(int a, int* pa) {
    *pa = a + 2;
    return a + 2;
}
QO_API int Test_DllAPI_v(int a, int* pa) {
    *pa = a + 2;
    return a + 2;
}

QO_API const char* Test_DllCall_s() { return kText; }
QO_API const char* Test_DllAPI_s() { return kText; }

QO_API int Test_DllCall_4() { return 123; }
QO_API int Test_DllAPI_4() { return 123; }

QO_API bool Test_DllCall_b() { return true; }
QO_API bool Test_DllAPI_b() { return true; }

QO_API void* Test_DllCall_p() { return reinterpret_cast<void*>(12345); }
QO_API void* Test_DllAPI_p() { return reinterpret_cast<void*>(12345); }

// *out becomes c1 + s + *out + c2; the result "$" + *out. The string
// objects are passed as C++ passes class objects: s by the address of the
// caller's copy, the result through the hidden result pointer.
QO_API CString Test_DllCall_CString(char c1, CString s, CString* out, char c2) {
    *out = c1 + s + *out + c2;
    return "$" + *out;
}

}  // extern "C"
