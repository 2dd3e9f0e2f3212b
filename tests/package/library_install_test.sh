#!/bin/sh
# liborvelant-verify as a user gets it from `make install DESTDIR=...`: installed into a staged
# prefix, found by pkg-config, exporting only its interface under its SONAME, and the example C
# program builds against it and prints what the command line prints. Exit status 77 marks the
# test skipped where a C compiler or pkg-config is absent.
#
# usage: library_install_test.sh BUILD_DIR SOURCE_DIR
set -eu
build=$1
source=$2

for tool in cc pkg-config nm readelf; do
  command -v "$tool" >/dev/null 2>&1 || { echo "skipped: $tool not found"; exit 77; }
done

fail() {
  echo "FAIL: $*" >&2
  exit 1
}

tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

DESTDIR="$tmp/stage" cmake --install "$build" --prefix /usr/local >"$tmp/install.log" || { cat "$tmp/install.log" >&2; fail "install failed"; }
prefix="$tmp/stage/usr/local"
[ -f "$prefix/include/orvelant/verify.h" ] || fail "no include/orvelant/verify.h"

pc=$(find "$prefix" -name orvelant-verify.pc)
[ -n "$pc" ] || fail "no orvelant-verify.pc installed"
flags=$(PKG_CONFIG_PATH=$(dirname "$pc") pkg-config --cflags --libs orvelant-verify) || fail "pkg-config does not find orvelant-verify"
[ "$(PKG_CONFIG_PATH=$(dirname "$pc") pkg-config --modversion orvelant-verify)" = 0.1.0 ] || fail "wrong version in the .pc"

lib=$(find "$prefix" -name 'liborvelant-verify.so.0.1.0')
[ -n "$lib" ] || fail "no liborvelant-verify.so.0.1.0 installed"
readelf -d "$lib" | grep -q 'Library soname: \[liborvelant-verify.so.0\]' || fail "SONAME is not liborvelant-verify.so.0"
# Only the interface's functions are exported (and the version node that names them).
others=$(nm -D --defined-only "$lib" | awk '{print $3}' | grep -v '^orv_' | grep -v '^ORVELANT_VERIFY_0$' || true)
[ -z "$others" ] || fail "exports beyond the interface: $others"

# shellcheck disable=SC2086  # the flags are words
cc -std=c11 -Wall -Wextra -Werror "$source/examples/verify_record.c" $flags -o "$tmp/verify_record" ||
  fail "the example does not build against the installed library"
libdir=$(dirname "$lib")
for pair in "live-record.json 0" "live-record-tampered.json 1"; do
  set -- $pair
  got=$(cd "$source" && LD_LIBRARY_PATH="$libdir" "$tmp/verify_record" "examples/$1" examples/live-service-key.hex) && status=0 || status=$?
  want=$(cd "$source" && "$build/orvelant-verify" receipt "examples/$1" --key examples/live-service-key.hex) || true
  [ "$status" = "$2" ] || fail "the example ended with status $status on $1, expected $2"
  [ "$got" = "$want" ] || fail "the example's report on $1 differs from the command line's"
done
# The Python module, installed beside the library, finds that library without being told.
module=$(find "$prefix" -name __init__.py -path '*/orvelant_verify/*')
[ -n "$module" ] || fail "no Python module installed"
if [ -x /usr/bin/python3 ]; then
  outcome=$(cd "$source" && env -u ORVELANT_VERIFY_LIBRARY PYTHONPATH="$(dirname "$(dirname "$module")")" PYTHONDONTWRITEBYTECODE=1 \
    /usr/bin/python3 -c 'import orvelant_verify as o; print(o.receipt(open("examples/live-record.json").read(), key=open("examples/live-service-key.hex").read())["outcome"])') ||
    fail "the installed Python module does not run"
  [ "$outcome" = valid ] || fail "the installed Python module judged the example live record $outcome"
fi
echo "installed and linked: $flags"
