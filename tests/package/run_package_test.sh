#!/bin/sh
# Installs the build into a temporary prefix and builds C hosts against it,
# once through find_package(qotool) and once through pkg-config; the C
# extension module is loaded from QO_MODULE_PATH.
# Usage: run_package_test.sh BUILD_DIR SOURCE_DIR
set -eu
build=$1
source=$2
work=$(mktemp -d /tmp/qotool_package_XXXXXX)
trap 'rm -rf "$work"' EXIT
prefix=$work/prefix

cmake --install "$build" --prefix "$prefix" >/dev/null

# No C++ library internals leave the shared library.
# (Only the name matters, not the parameter list: CString takes string_views.)
if nm -D --defined-only -C "$prefix"/lib*/libqoTool_NoQO.so | sed 's/(.*//' | grep -E 'std::|__gnu_cxx::'; then
  echo "FAIL: the library exports C++ library internals" >&2
  exit 1
fi
for name in ruqo_ExecQol ruqo_Eval 'CQoLanguage::DoQol' 'CString::CString'; do
  nm -D --defined-only -C "$prefix"/lib*/libqoTool_NoQO.so | grep -q "$name" ||
    { echo "FAIL: $name is not exported" >&2; exit 1; }
done
test -f "$prefix/share/man/man1/qol.1" || { echo "FAIL: the manual is not installed" >&2; exit 1; }
test -d "$prefix"/lib*/qotool/modules || { echo "FAIL: no module folder" >&2; exit 1; }

# Every installed public header compiles alone against the prefix, from C
# (the C++-only ones declare nothing there) and from C++17: the platform
# headers they include are installed beside them.
for header in "$prefix"/include/qotool/*.h; do
  name=qotool/${header##*/}
  printf '#include <%s>\n' "$name" >"$work/one_header.c"
  cc -std=c99 -fsyntax-only -I "$prefix/include" "$work/one_header.c" ||
    { echo "FAIL: $name from C" >&2; exit 1; }
  c++ -std=c++17 -fsyntax-only -x c++ -I "$prefix/include" "$work/one_header.c" ||
    { echo "FAIL: $name from C++17" >&2; exit 1; }
done

# find_package
cmake -S "$source/tests/package" -B "$work/cmake-host" -DCMAKE_PREFIX_PATH="$prefix" \
  -DHOST_SOURCE="$source/examples/c_host/host.c" \
  -DMODULE_SOURCE="$source/examples/c_module/qol_Counter_NoQO.c" -DEXAMPLES="$source/examples" >/dev/null
cmake --build "$work/cmake-host" >/dev/null
out=$("$work/cmake-host/package_host")
echo "$out" | grep -q "N:55 (2 bytes)" || { echo "FAIL: find_package host: $out" >&2; exit 1; }
echo "$out" | grep -q "error at line 3, column 16" || { echo "FAIL: find_package host: $out" >&2; exit 1; }

# The host with functions of its own, the C++ view, and older C++ hosts.
out=$(QO_UI=silent "$work/cmake-host/functions_host")
want="count is 6, caught: no price for 'caviar'
total(3) = 3.85
out[0] = apple x2
out[1] = bread x2
out[2] = milk x2
order.qol:2:18: no price for 'tea'
    b = price('tea') + a;
released counter at 6"
test "$out" = "$want" || { echo "FAIL: functions host: $out" >&2; exit 1; }
out=$(QO_UI=silent "$work/cmake-host/cpp_host")
test "$out" = "apples left: 7
order.qol:2:18: unknown item plum" || { echo "FAIL: C++ host: $out" >&2; exit 1; }
for standard in 11 14; do
  "$work/cmake-host/header_cxx$standard" >/dev/null || { echo "FAIL: C++$standard host" >&2; exit 1; }
done

# pkg-config
export PKG_CONFIG_PATH="$prefix/lib/pkgconfig:$prefix/lib64/pkgconfig"
libdir=$(pkg-config --variable=libdir qotool)
cc "$source/examples/c_host/host.c" $(pkg-config --cflags --libs qotool) -Wl,-rpath,"$libdir" \
  -o "$work/pc-host"
out=$("$work/pc-host")
echo "$out" | grep -q "total is N:55" || { echo "FAIL: pkg-config host: $out" >&2; exit 1; }
cc -std=c99 "$source/examples/c_host/functions_host.c" $(pkg-config --cflags --libs qotool) -Wl,-rpath,"$libdir" \
  -o "$work/pc-functions-host"
QO_UI=silent "$work/pc-functions-host" | grep -q "total(3) = 3.85" || { echo "FAIL: pkg-config functions host" >&2; exit 1; }

# Loaded at run time from the installed copy: a C host with dlopen, and
# Python's ctypes.
lib=$(ls "$libdir"/libqoTool_NoQO.so)
cc "$source/tests/host/dlopen_host.c" -o "$work/dlopen-host" -ldl -lpthread
QO_UI=silent "$work/dlopen-host" "$lib" || { echo "FAIL: dlopen of the installed library" >&2; exit 1; }
QO_UI=silent python3 "$source/tests/host/load_with_ctypes.py" "$lib" || { echo "FAIL: ctypes" >&2; exit 1; }

# The module from QO_MODULE_PATH, run by the installed qol.
out=$(QO_UI=silent QO_MODULE_PATH="$work/cmake-host" "$prefix/bin/qol" -r "$source/examples/c_module/counter.qol")
test "$out" = "visits 16
N:16" || { echo "FAIL: module: $out" >&2; exit 1; }
echo "package test passed"
