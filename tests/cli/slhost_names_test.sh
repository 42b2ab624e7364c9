#!/bin/sh
# slhost on Linux names that a Windows name cannot hold: "ls -a" prints every name of a folder as
# the shell shows it, "cat" of each name typed as in a shell prints that file, and '*' and '?' in
# the last part of an ls pattern stay wildcards.
#
# usage: slhost_names_test.sh SLHOST
set -u
export LC_ALL=C.UTF-8
slhost=$1
case $slhost in /*) ;; *) slhost=$PWD/$slhost ;; esac
work=$(mktemp -d "${TMPDIR:-/tmp}/slhost-names.XXXXXX")
trap 'rm -rf "$work"' EXIT
cd "$work" || exit 1
failures=0
fail() {
  failures=$((failures + 1))
  echo "FAILED: $1"
  cat err.txt
}

set -- 'with space.txt' '-dash.txt' '--' 'café.txt' '日本.txt' '😀.txt' 'UPPER.txt' 'upper.txt' \
  'col:on.txt' 'what?.txt' 'st*r.txt' 'a<b.txt' 'back\slash.txt' 'trailingdot.' \
  'trailing space ' "$(printf 'new\nline')" "$(printf '\377').bin"
mkdir d
for name in "$@"; do printf 'bytes of %s' "$name" >"d/$name"; done

{ printf '%s\n' . .. "$@"; } | sort >want.txt
"$slhost" ls -a d >out.txt 2>err.txt || fail "ls -a d: exit code $?"
sort out.txt | cmp -s want.txt - || fail "ls -a d lists: $(cat out.txt)"

for name in "$@"; do
  "$slhost" cat "d/$name" >out.txt 2>err.txt || fail "cat d/$name: exit code $?"
  cmp -s "d/$name" out.txt || fail "cat d/$name printed: $(cat out.txt)"
done

for pattern in 'd/st*r.txt:st*r.txt' 'd/what?.txt:what?.txt' "d/*.bin:$(printf '\377').bin" \
  'd/trailing*.:trailingdot.'; do
  "$slhost" ls "${pattern%%:*}" >out.txt 2>err.txt || fail "ls ${pattern%%:*}: exit code $?"
  printf '%s\n' "${pattern#*:}" | cmp -s - out.txt || fail "ls ${pattern%%:*} lists: $(cat out.txt)"
done

[ "$failures" = 0 ] && echo "all $# names listed and read"
exit "$failures"
