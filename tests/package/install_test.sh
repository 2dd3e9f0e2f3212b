#!/bin/sh
# The Debian package of the built program, unpacked into a scratch root (no root privilege, no
# dpkg database touched), runs from there, carries its man page and depends on the system
# libraries it links. Exit status 77 marks the test skipped where the packaging tools are absent.
#
# usage: install_test.sh BUILD_DIR VERSION CPACK
set -eu
build=$1
version=$2
cpack=$3

for tool in "$cpack" dpkg-deb dpkg-shlibdeps file gzip; do
  if ! command -v "$tool" >/dev/null 2>&1; then
    echo "skipped: $tool not found (dpkg-deb comes with dpkg, dpkg-shlibdeps with dpkg-dev; cpack reads binaries with file)"
    exit 77
  fi
done

fail() {
  echo "FAIL: $*" >&2
  exit 1
}

tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

# The package and cpack's staging tree go to the scratch directory, not the build tree.
if ! (cd "$build" && "$cpack" -G DEB -B "$tmp/out") >"$tmp/cpack.log" 2>&1; then
  cat "$tmp/cpack.log" >&2
  fail "cpack -G DEB failed"
fi
set -- "$tmp"/out/orvelant-verify_"$version"_*.deb
[ -f "$1" ] || fail "no orvelant-verify_${version}_*.deb in $(ls "$tmp/out")"
deb=$1

dpkg-deb -x "$deb" "$tmp/root"
out=$("$tmp/root/usr/bin/orvelant-verify" --version) || fail "the packaged program exits with status $?"
[ "$out" = "orvelant-verify $version" ] || fail "--version printed '$out', expected 'orvelant-verify $version'"

man="$tmp/root/usr/share/man/man1/orvelant-verify.1.gz"
[ -f "$man" ] || fail "the package has no $man"
gzip -dc "$man" | grep -q '^\.TH ORVELANT\\-VERIFY 1 ' || fail "the packaged man page is not the orvelant-verify(1) page"

prepare=$("$tmp/root/usr/bin/orvelant-prepare" --version) || fail "the packaged orvelant-prepare exits with status $?"
[ "$prepare" = "orvelant-prepare $version" ] || fail "orvelant-prepare --version printed '$prepare'"
gzip -dc "$tmp/root/usr/share/man/man1/orvelant-prepare.1.gz" | grep -q '^\.TH ORVELANT\\-PREPARE 1 ' ||
  fail "the package has no orvelant-prepare(1) page"

pins="$tmp/root/usr/share/doc/orvelant-verify/pins/README.txt"
grep -q '^THE ADMINISTRATIVE-ACCESS CAVEAT$' "$pins" || fail "the package has no pins guide at $pins"
for file in usr/lib/liborvelant-verify.so.0.1.0 usr/lib/pkgconfig/orvelant-verify.pc usr/include/orvelant/verify.h \
  usr/lib/python3/dist-packages/orvelant_verify/__init__.py; do
  [ -f "$tmp/root/$file" ] || fail "the package has no /$file"
done

depends=$(dpkg-deb -f "$deb" Depends)
# Debian 13 renamed the OpenSSL library package for its 64-bit time_t transition.
for library in libc6 'libssl3(t64)?'; do
  echo ", $depends," | grep -Eq ", $library[ ,]" || fail "Depends '$depends' does not name $library"
done
echo "$(basename "$deb"): $out; Depends: $depends"
