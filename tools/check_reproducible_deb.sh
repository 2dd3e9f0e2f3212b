#!/usr/bin/env bash
# `make deb` twice from clean clones of this commit, in two folders whose paths differ (even in
# length) and at different times, must give byte-identical packages. Leaves the two packages in
# build/reproducible/a and build/reproducible/b.
#
# usage: tools/check_reproducible_deb.sh
set -euo pipefail

repo=$(git -C "$(dirname "$0")/.." rev-parse --show-toplevel)
commit=$(git -C "$repo" rev-parse HEAD)
out=$repo/build/reproducible
rm -rf "$out"
mkdir -p "$out/a" "$out/b"
git -C "$repo" diff --quiet HEAD || echo "note: uncommitted changes are not part of the check"

for run in a b; do
  [ "$run" = a ] && place=$out/clones/one || place=$out/clones/a-second-longer-place
  git clone -q --no-checkout "$repo" "$place"
  git -C "$place" checkout -q --detach "$commit"
  make -C "$place" deb >"$out/$run.log" 2>&1 || { tail -n 30 "$out/$run.log" >&2; exit 1; }
  cp "$place"/build/demo/orvelant-verify_*.deb "$out/$run/"
  sleep 1  # so that anything stamped with the current second would differ
done
rm -rf "$out/clones"

a=$(echo "$out"/a/*.deb)
b=$(echo "$out"/b/*.deb)
if cmp -s "$a" "$b"; then
  echo "reproducible: $(basename "$a") $(sha256sum <"$a" | cut -c1-64)"
  echo "Depends: $(dpkg-deb -f "$a" Depends)"
else
  echo "NOT reproducible: $a and $b differ" >&2
  diff <(dpkg-deb -c "$a") <(dpkg-deb -c "$b") >&2 || true
  cmp <(dpkg-deb --ctrl-tarfile "$a" 2>/dev/null) <(dpkg-deb --ctrl-tarfile "$b" 2>/dev/null) >&2 ||
    echo "(control part)" >&2
  cmp <(dpkg-deb --fsys-tarfile "$a" 2>/dev/null) <(dpkg-deb --fsys-tarfile "$b" 2>/dev/null) >&2 ||
    echo "(data part)" >&2
  exit 1
fi
