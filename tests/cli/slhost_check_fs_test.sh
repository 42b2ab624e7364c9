#!/bin/sh
# slhost on archives whose folders hold nothing, and check-fs on archives of every shape: a
# table of command lines with their exit codes and a line they print, then check-fs on a zip
# bomb (one member of 2 GiB of zeros in an archive of 2 MB), which must give its verdict within
# 60 s and, unless BOUND is "unbounded" (sanitizer builds reserve terabytes of address space),
# within 512 MiB of address space.
#
# usage: slhost_check_fs_test.sh SLHOST [BOUND]   (Linux: needs libslzip and python3)
set -u
export LC_ALL=C.UTF-8
slhost=$1
bound=${2:-bounded}
case $slhost in /*) ;; *) slhost=$PWD/$slhost ;; esac
work=$(mktemp -d "${TMPDIR:-/tmp}/slhost-check-fs.XXXXXX")
trap 'rm -rf "$work"' EXIT
cd "$work" || exit 1
ulimit -f 65536 2>/dev/null  # no run writes more than 32 MiB
failures=0
checks=0
fail() {
  failures=$((failures + 1))
  echo "FAILED: $1"
  echo "--- stdout"; cat out.txt; echo "--- stderr"; cat err.txt; echo "---"
}

python3 - <<'PY' || exit 1
import zipfile
with zipfile.ZipFile("folders.zip", "w") as z:
    z.writestr("emptydir/", "")
    z.writestr("d/x.txt", "x\n", zipfile.ZIP_DEFLATED)  # "d" is implied by its member
    z.writestr("d/e/", "")
# An archive without members: its end record alone.
open("none.zip", "wb").write(b"PK\x05\x06" + bytes(18))
chunk = bytes(1 << 20)
with zipfile.ZipFile("bomb.zip", "w", zipfile.ZIP_DEFLATED) as z:
    with z.open("zeros.bin", "w", force_zip64=True) as member:
        for _ in range(2048):
            member.write(chunk)
PY

# Each line "COMMAND LINE | EXIT | TEXT": slhost runs it (shell words) within 60 s, exits with
# EXIT, and its standard output and error together hold TEXT (a line of their own for "^").
while IFS='|' read -r line code text; do
  line=$(echo "$line" | sed 's/ *$//')
  [ -n "$line" ] || continue
  code=$(echo $code)
  text=$(echo "$text" | sed 's/^ *//')
  eval "timeout 60 \"\$slhost\" $line" >out.txt 2>err.txt </dev/null
  status=$?
  checks=$((checks + 1))
  if [ "$status" != "$code" ]; then
    fail "slhost $line: exit code $status, expected $code"
  elif [ -n "$text" ] && ! cat out.txt err.txt | grep -qF -- "$text"; then
    fail "slhost $line: prints no line with: $text"
  fi
done <<'EOF'
--fs ar=zip:folders.zip stat ar:emptydir              | 0 | type: folder
--fs ar=zip:folders.zip stat ar:d/e                   | 0 | type: folder
--fs ar=zip:folders.zip ls ar:emptydir                 | 0 |
--fs ar=zip:folders.zip ls ar:d                        | 0 | e
--fs ar=zip:folders.zip cp -r ar:/ copy                | 0 |
--fs ar=zip:folders.zip cat ar:emptydir                | 1 | ar:emptydir is a folder, not a file
--fs nn=zip:none.zip ls nn:/                           | 0 |
--fs nn=zip:none.zip stat nn:/                         | 0 | type: folder
--fs nn=zip:none.zip cp -r nn:/ none                   | 0 |
check-fs zip:folders.zip                               | 0 | check-fs: 52 checks, 0 failed, 0 skipped
check-fs zip:none.zip                                  | 0 | skip sample: found, opened and read (its first MiB at most): no file found through Search
EOF
checks=$((checks + 1))
for path in copy/emptydir copy/d/e copy/d/x.txt none; do
  [ -d "$path" ] || [ -f "$path" ] || fail "cp -r left out $path"
done
[ -z "$(ls -A none)" ] || fail "cp -r of an empty archive made: $(ls -A none)"

# The bomb: the verdict line through a pipe, in bounded time and memory.
checks=$((checks + 1))
started=$(date +%s)
(
  [ "$bound" = unbounded ] || ulimit -v 524288
  timeout 60 "$slhost" check-fs zip:bomb.zip 2>err.txt
  echo $? >status.txt
) | cat >out.txt
took=$(($(date +%s) - started))
grep -qF "check-fs: 52 checks, 0 failed" out.txt && [ "$(cat status.txt)" = 0 ] ||
  fail "check-fs on a 2 GiB member: exit code $(cat status.txt) after $took s"

[ "$failures" = 0 ] && echo "all $checks checks passed (the bomb took $took s)"
exit "$failures"
