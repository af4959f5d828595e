# 100 000 native calls of the C library's abs through ctypes.
import ctypes

libc = ctypes.CDLL('libc.so.6')
c_abs = libc.abs
c_abs.restype = ctypes.c_int
c_abs.argtypes = [ctypes.c_int]
s = 0
for i in range(100000):
    s = s + c_abs(-5)
print(s)
