#!/bin/sh
# slhost run as its users run it, in a fresh temporary folder: standard output, standard error
# and exit codes of every subcommand, on real files.
#
# usage: slhost_cli_test.sh GROUP SLHOST [EMULATOR]
#   GROUP is usage, files, folders, classes, demo or archive (Linux: needs libslzip and
#   python3, which makes the archive); EMULATOR runs the Windows build.
set -u
export LC_ALL=C.UTF-8  # file names are UTF-8, for the shell and for Wine alike
group=$1
slhost=$2
emulator=${3:-}
case $slhost in /*) ;; *) slhost=$PWD/$slhost ;; esac
bin=$(dirname "$slhost")
work=$(mktemp -d "${TMPDIR:-/tmp}/slhost-cli.XXXXXX")
trap 'rm -rf "$work"' EXIT
cd "$work" || exit 1
failures=0
checks=0

# run ARGS...: runs slhost; its output lands in out.txt and err.txt, its exit code in $status.
run() {
  last="slhost $*"
  if [ -n "$emulator" ]; then
    "$emulator" "$slhost" "$@" >out.txt 2>err.txt </dev/null
  else
    "$slhost" "$@" >out.txt 2>err.txt </dev/null
  fi
  status=$?
}
fail() {
  failures=$((failures + 1))
  echo "FAILED: $last: $1"
  echo "--- stdout"; cat out.txt; echo "--- stderr"; cat err.txt; echo "---"
}
expect_status() {
  checks=$((checks + 1))
  [ "$status" = "$1" ] || fail "exit code $status, expected $1"
}
# expect_out TEXT: standard output is exactly TEXT and a newline (or nothing for "").
expect_out() {
  checks=$((checks + 1))
  if [ -z "$1" ]; then : >want.txt; else printf '%s\n' "$1" >want.txt; fi
  cmp -s want.txt out.txt || fail "stdout differs from: $1"
}
# expect_in FILE TEXT: a line of FILE (out.txt or err.txt) holds TEXT.
expect_in() {
  checks=$((checks + 1))
  grep -qF -- "$2" "$1" || fail "$1 lacks: $2"
}
same_files() {
  checks=$((checks + 1))
  cmp -s "$1" "$2" || fail "$2 differs from $1"
}

case $group in
usage)
  run; expect_status 2; expect_in err.txt "usage: slhost [--module PATH] COMMAND [ARGS...]"
  run --help; expect_status 0
  for command in classes "cat FILE..." "cp SRC DST" "ls [-a] PATTERN" "mkdir [-p] DIR..." \
                 "rm FILE..." "rmdir DIR..." "stat PATH..." demo; do
    expect_in out.txt "  $command "
  done
  expect_in out.txt "3  the module could not be loaded"
  run cp --help; expect_status 0; expect_in out.txt "usage: slhost [--module PATH] cp SRC DST"
  cp out.txt cp-help.txt
  run help cp; expect_status 0; same_files cp-help.txt out.txt
  run --version; expect_status 0; expect_in out.txt "slhost "
  run bogus; expect_status 2; expect_in err.txt "slhost: unknown command bogus"
  run cp only-one; expect_status 2; expect_in err.txt "slhost cp: expected SRC and DST"
  run ls -l x; expect_status 2; expect_in err.txt "slhost ls: unknown option -l"
  run --frobnicate demo; expect_status 2; expect_in err.txt "slhost: unknown option --frobnicate"
  run --module ./none.bin cat x; expect_status 3; expect_out ""
  expect_in err.txt "slhost: no module at ./none.bin"
  for atom in "$bin/libatom.so" "$bin/atom.dll"; do
    [ -f "$atom" ] || continue
    cp "$atom" ./not-a-module.bin
    run --module ./not-a-module.bin classes; expect_status 3
    expect_in err.txt "missing export ReflectServiceObjectInfo"
  done
  ;;

files)
  printf 'line one\nline two\n' >a.txt
  # Every byte value, carriage returns and line feeds included, must pass unchanged.
  i=0; : >bytes.bin
  while [ $i -lt 256 ]; do printf "\\$(printf %03o $i)" >>bytes.bin; i=$((i + 1)); done
  run cat a.txt; expect_status 0; expect_out "line one
line two"
  run cat bytes.bin; expect_status 0; same_files bytes.bin out.txt
  run cat a.txt missing.txt; expect_status 1; expect_out "line one
line two"
  expect_in err.txt "slhost cat: missing.txt: SLFileSystem::OpenFile() failed, code: 0x0000000b"
  expect_in err.txt "  0x0000000b: not found"

  run cp a.txt b.txt; expect_status 0; expect_out ""; same_files a.txt b.txt
  # Larger than the streams' buffers and slhost's chunks, and a multiple of neither.
  i=0; : >big.txt
  while [ $i -lt 3000 ]; do echo "row $i of a file that crosses many stream buffers" >>big.txt; i=$((i + 1)); done
  run cp big.txt big-copy.txt; expect_status 0; expect_out ""; same_files big.txt big-copy.txt
  mkdir into
  run cp a.txt into; expect_status 0; same_files a.txt into/a.txt
  run cp missing.txt c.txt; expect_status 1
  expect_in err.txt "slhost cp: missing.txt: SLFileSystem::OpenFile() failed, code: 0x0000000b"
  [ ! -e c.txt ] || fail "cp created c.txt from a missing source"
  run cp a.txt a.txt; expect_status 1
  expect_in err.txt "SLFileSystem::OpenFile() failed, code: 0x00000007"
  printf 'line one\nline two\n' >expected.txt; same_files expected.txt a.txt

  run stat a.txt into; expect_status 0; expect_out "a.txt
  exists: yes
  type: file
  size: 18 bytes
into
  exists: yes
  type: folder"
  run stat none; expect_status 1; expect_out "none
  exists: no"

  # Names beyond ASCII pass through the command line and the module unchanged.
  printf 'unicode\n' >"café-Ω.txt"
  run cp "café-Ω.txt" "文.txt"; expect_status 0
  same_files "café-Ω.txt" "文.txt"
  run ls '*.txt'; expect_status 0
  expect_in out.txt "café-Ω.txt"; expect_in out.txt "文.txt"

  run rm b.txt; expect_status 0; expect_out ""
  [ ! -e b.txt ] || fail "rm left b.txt"
  run rm b.txt; expect_status 1
  expect_in err.txt "slhost rm: b.txt: SLFileSystem::RemoveFile() failed, code: 0x0000000b"
  run rm into; expect_status 1
  expect_in err.txt "SLFileSystem::RemoveFile() failed, code: 0x0000000f"
  ;;

folders)
  run mkdir one; expect_status 0; [ -d one ] || fail "no folder one"
  run mkdir one; expect_status 1
  expect_in err.txt "slhost mkdir: one: SLFileSystem::CreateFolder() failed, code: 0x00000010"
  run mkdir two/three; expect_status 1
  expect_in err.txt "SLFileSystem::CreateFolder() failed, code: 0x00000007"
  run mkdir -p deep/er/est; expect_status 0; [ -d deep/er/est ] || fail "no deep/er/est"
  run mkdir -p deep/er one; expect_status 0
  : >deep/b.txt; : >deep/a.txt; : >deep/c.log

  run ls deep; expect_status 0; expect_out "a.txt
b.txt
c.log
er"
  run ls 'deep/*.txt'; expect_status 0; expect_out "a.txt
b.txt"
  run ls 'deep/?.log'; expect_status 0; expect_out "c.log"
  run ls -a deep/er; expect_status 0; expect_out ".
..
est"
  run ls 'deep/*.bin'; expect_status 1
  expect_in err.txt "slhost ls: deep/*.bin: SLFileSystem::Search() failed, code: 0x00000003"

  run rmdir deep; expect_status 1
  expect_in err.txt "SLFileSystem::RemoveFolder() failed, code: 0x00000007"
  rm deep/*.txt deep/c.log
  run rmdir deep/er/est deep/er deep; expect_status 0; [ ! -e deep ] || fail "deep is left"
  run rmdir deep; expect_status 1
  ;;

classes)
  run classes; expect_status 0
  expect_in out.txt "  StreamService      atom 0x"
  expect_in out.txt "  FileSystemService  atom 0x"
  for header in "SLFileSystemService (class FileSystemService)" \
                "interface id 0x56000904 (FNV-1a of the name)" \
                "interface id 0xa3a0de85 (FNV-1a of the name)" \
                "interface id 0x856fd608 (FNV-1a of the name)" \
                "interface id 0xd107d9f9 (FNV-1a of the name)" \
                "table size   136 bytes: 17 entries after the 5 base entries" \
                "end marker   \"EOFT\" at offset 192, stamp 0x124a777f" \
                "end marker   \"EOFT\" at offset 128, stamp 0x5224169b"; do
    expect_in out.txt "$header"
  done
  ;;

demo)
  run demo; expect_status 0
  for line in "ReflectServiceObjectInfo -> 0, 2 classes" \
              "read 38 bytes: Hello from the service-object module." \
              "callbacks at close: Write(5)=5 Flush Flush Flush Close" \
              "the sink holds \"hello world\"" \
              "GetRegisteredFileSystemByName(Memory)        -> 0" \
              "MemoryFileSystem::OpenFile() failed, code: 0x0000000b: no such file" \
              "weak reference: IsAlive 0, Lock -> null; its Release -> 0 (block freed)" \
              "file-system service Release -> 0 (releases its file systems)" \
              "the memory file system went with it: IsAlive 0"; do
    expect_in out.txt "$line"
  done
  ;;

archive)
  python3 - <<'PY' || exit 1
import zipfile
with zipfile.ZipFile("a.zip", "w") as z:
    z.writestr("readme.txt", "from the archive\n", zipfile.ZIP_DEFLATED)
    z.writestr("data/rows.txt", "".join("row %d\n" % i for i in range(20000)), zipfile.ZIP_DEFLATED)
    z.writestr("data/raw.bin", bytes(range(256)) * 40, zipfile.ZIP_STORED)
PY
  python3 -c 'import sys; sys.stdout.write("".join("row %d\n" % i for i in range(20000)))' >rows.txt
  run --fs ar=zip:a.zip cat ar:readme.txt; expect_status 0; expect_out "from the archive"
  run --fs ar=zip:a.zip cp ar:data/rows.txt copy.txt; expect_status 0; same_files rows.txt copy.txt
  run --fs ar=zip:a.zip ls ar:; expect_status 0; expect_out "data
readme.txt"
  run --fs ar=zip:a.zip ls 'ar:data/*.bin'; expect_status 0; expect_out "raw.bin"
  run --fs ar=zip:a.zip stat ar:data ar:data/raw.bin; expect_status 0; expect_out "ar:data
  exists: yes
  type: folder
ar:data/raw.bin
  exists: yes
  type: file
  size: 10240 bytes"
  run --fs ar=zip:a.zip cp rows.txt ar:new.txt; expect_status 1
  expect_in err.txt "ZipFileSystem::OpenFile() failed, code: 0x0000000f: the archive is read-only"
  run --fs ar=zip:a.zip cat ar:../x; expect_status 1
  expect_in err.txt "code: 0x00000003: the path climbs above the archive's root"
  run --fs ar=zip:none.zip cat ar:x; expect_status 1; expect_in err.txt "none.zip: no such archive"
  run --fs a=zip:a.zip cat a:x; expect_status 2
  for target in Default memory zip:a.zip; do
    run check-fs "$target"; expect_status 0; expect_in out.txt " 0 failed, 0 skipped"
  done
  expect_in out.txt "ok   read-only: OpenFile(mode 4) fails, recorded, out untouched"
  run --fs ar=zip:a.zip check-fs ar --sample data/rows.txt; expect_status 0
  expect_in out.txt "(read-only, sample data/rows.txt)"
  ;;

*)
  echo "unknown group $group"
  exit 2
  ;;
esac

echo "$group: $checks checks, $failures failed"
[ $failures -eq 0 ]
