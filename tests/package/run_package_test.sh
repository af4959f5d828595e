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

# find_package
cmake -S "$source/tests/package" -B "$work/cmake-host" -DCMAKE_PREFIX_PATH="$prefix" \
  -DHOST_SOURCE="$source/examples/c_host/host.c" \
  -DMODULE_SOURCE="$source/examples/c_module/qol_Counter_NoQO.c" >/dev/null
cmake --build "$work/cmake-host" >/dev/null
out=$("$work/cmake-host/package_host")
echo "$out" | grep -q "N:55 (2 bytes)" || { echo "FAIL: find_package host: $out" >&2; exit 1; }
echo "$out" | grep -q "error at line 3, column 16" || { echo "FAIL: find_package host: $out" >&2; exit 1; }

# pkg-config
export PKG_CONFIG_PATH="$prefix/lib/pkgconfig:$prefix/lib64/pkgconfig"
libdir=$(pkg-config --variable=libdir qotool)
cc "$source/examples/c_host/host.c" $(pkg-config --cflags --libs qotool) -Wl,-rpath,"$libdir" \
  -o "$work/pc-host"
out=$("$work/pc-host")
echo "$out" | grep -q "total is N:55" || { echo "FAIL: pkg-config host: $out" >&2; exit 1; }

# The module from QO_MODULE_PATH, run by the installed qol.
out=$(QO_UI=silent QO_MODULE_PATH="$work/cmake-host" "$prefix/bin/qol" -r "$source/examples/c_module/counter.qol")
test "$out" = "visits 16
N:16" || { echo "FAIL: module: $out" >&2; exit 1; }
echo "package test passed"
