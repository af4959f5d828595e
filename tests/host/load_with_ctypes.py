"""Loads the library through Python's ctypes, as a Python host does, and
runs QOL through it."""
import ctypes
import sys

library = ctypes.CDLL(sys.argv[1])
library.ruqo_ExecQol.restype = ctypes.c_char_p
library.ruqo_ExecQol.argtypes = [ctypes.c_char_p]
got = library.ruqo_ExecQol(b"x=match('abc','a*c'); x+1")
if got != b"N:4":
    sys.exit("ruqo_ExecQol gave %r" % got)
