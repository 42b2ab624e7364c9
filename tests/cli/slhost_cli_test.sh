#!/bin/sh
# slhost run as its users run it, in a fresh temporary folder: standard output, standard error
# and exit codes of every subcommand, on real files. Most cases are tables: one line per
# command line, with the exit code and the text it must print.
#
# usage: slhost_cli_test.sh GROUP SLHOST [EMULATOR]
#   GROUP is usage, operands, files, output, trees, errors, permissions, classes, demo,
#   special (links, FIFOs, sockets and devices, not under an emulator; python3 makes the socket)
#   or archive (Linux: needs libslzip and python3, which makes the archive); EMULATOR runs the
#   Windows build.
set -u
export LC_ALL=C.UTF-8  # file names are UTF-8, for the shell and for Wine alike
unset SLHOST_MODULE
group=$1
slhost=$2
emulator=${3:-}
case $slhost in /*) ;; *) slhost=$PWD/$slhost ;; esac
here=$(cd "$(dirname "$0")" && pwd)
bin=$(dirname "$slhost")
work=$(mktemp -d "${TMPDIR:-/tmp}/slhost-cli.XXXXXX")
trap 'chmod -R u+rwx "$work"; rm -rf "$work"' EXIT
cd "$work" || exit 1
ulimit -f 65536 2>/dev/null  # no run writes more than 32 MiB
. "$here/checks.sh"

case $group in
usage)
  table <<'EOF'
                           | 2 | err | Usage: slhost [OPTIONS] [SUBCOMMAND]
--help                     | 0 | out | 3  the module could not be loaded
--version                  | 0 | out | slhost 0.
cp --help                  | 0 | out | Usage: slhost cp [OPTIONS] SRC DST
help cp                    | 0 | out | Usage: slhost cp [OPTIONS] SRC DST
bogus                      | 2 | err | slhost: unknown command bogus
--frobnicate demo          | 2 | err | slhost: unknown option --frobnicate
--frobnicate cp --help     | 2 | err | slhost: unknown option --frobnicate
-- bogus                   | 2 | err | slhost: unknown command bogus
-- -x                      | 2 | err | slhost: unknown command -x
help                       | 0 | out | Usage: slhost [OPTIONS] [SUBCOMMAND]
help bogus                 | 2 | err | slhost: unknown command bogus
rm x -- -r                 | 2 | err | slhost rm: The following argument was not expected: -r
cp only-one                | 2 | err | slhost cp: DST is required
cp a b c                   | 2 | err | slhost cp: The following argument was not expected: c
ls -l x                    | 2 | err | slhost ls: The following argument was not expected: -l
rm -p x                    | 2 | err | slhost rm: The following argument was not expected: -p
cat                        | 2 | err | slhost cat: FILE is required
classes extra              | 2 | err | slhost classes: The following argument was not expected: extra
--module ./none.bin cat x  | 3 | err | slhost: no module at ./none.bin (from --module)
EOF
  run --help; cp out.txt help.txt
  expect_in help.txt "  --fs NAME=SOURCE  "
  for command in classes cat cp ls mkdir rm rmdir stat check-fs demo; do
    expect_in help.txt "  $command  "
    run "$command" --help; expect_status 0; expect_in out.txt "Usage: slhost $command [OPTIONS]"
  done
  SLHOST_MODULE=./none.bin; export SLHOST_MODULE
  run cat x; expect_status 3; expect_in err.txt "slhost: no module at ./none.bin (from SLHOST_MODULE)"
  unset SLHOST_MODULE
  # Alone, slhost names every place it looked for the module.
  mkdir alone; cp "$slhost" alone/
  built=$slhost; slhost=$work/alone/$(basename "$slhost")
  run classes; expect_status 3
  expect_in err.txt "slhost: no module found; looked for "
  expect_in err.txt "alone"
  expect_in err.txt "lib"
  expect_in err.txt " (name one with --module PATH or SLHOST_MODULE)"
  slhost=$built
  for atom in "$bin/libatom.so" "$bin/atom.dll"; do
    [ -f "$atom" ] || continue
    cp "$atom" ./not-a-module.bin
    run --module ./not-a-module.bin classes; expect_status 3
    expect_in err.txt "missing export ReflectServiceObjectInfo"
  done
  ;;

operands)
  # '--' ends the options of every command; after it, names that look like options are
  # names. No command touches a name it was not given.
  mkdir -- -d; echo x >-r; echo x >target; echo x >./--; echo x >-
  table <<'EOF'
rm -- target       | 0 | out |
rm -- -r           | 0 | out |
stat -- -d         | 0 | out | type: folder
ls -- -d           | 0 | out |
mkdir -- -p        | 0 | out |
rmdir -- -p        | 0 | out |
cat -- ./-         | 0 | out | x
EOF
  expect_paths "-- - -d" "target -r -p"
  mkdir keep; : >keep/--
  run rm -r -- keep/--; expect_status 0; expect_paths "keep" "keep/--"
  run rmdir -- keep; expect_status 0; expect_paths "--" "keep"
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
  # Standard input through '-', for cat and for both ends of cp.
  cp bytes.bin in.txt
  run cat a.txt - a.txt; expect_status 0; cat a.txt bytes.bin a.txt >want.bin; same_files want.bin out.txt
  run cp - from-stdin.bin; expect_status 0; same_files bytes.bin from-stdin.bin
  run cp a.txt -; expect_status 0; same_files a.txt out.txt
  : >in.txt

  run cp a.txt b.txt; expect_status 0; expect_out ""; same_files a.txt b.txt
  # More than a block of cp and cat (1 MiB), and a multiple of nothing they use.
  i=0; : >big.txt
  while [ $i -lt 3000 ]; do echo "row $i of a file that crosses many stream buffers" >>big.txt; i=$((i + 1)); done
  for i in 1 2 3 4 5 6 7 8 9 10 11 12 13 14 15 16 17 18 19 20 21 22 23; do cat big.txt; done >huge.txt
  run cp huge.txt huge-copy.txt; expect_status 0; expect_out ""; same_files huge.txt huge-copy.txt
  run cat huge.txt; expect_status 0; same_files huge.txt out.txt
  mkdir into
  run cp a.txt into; expect_status 0; same_files a.txt into/a.txt
  run cp missing.txt c.txt; expect_status 1
  [ ! -e c.txt ] || fail "cp created c.txt from a missing source"

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
  ;;

output)
  # Nothing written is lost silently: a failed write to standard output, or to a file that
  # cannot grow, ends with exit code 1 and says so.
  printf 'some text\n' >a.txt; mkdir d; : >d/x
  if [ -w /dev/full ]; then
    for line in "cat a.txt" "cat - " "cp a.txt -" "ls d" "stat a.txt" "classes" "--help" "demo"; do
      printf 'in\n' >in.txt
      last="slhost $line >/dev/full"
      if [ -n "$emulator" ]; then
        "$emulator" "$slhost" $line >/dev/full 2>err.txt <in.txt
      else
        "$slhost" $line >/dev/full 2>err.txt <in.txt
      fi
      status=$?; : >out.txt
      expect_status 1; expect_in err.txt "standard output: "
    done
  fi
  # Output larger than standard output's buffer stops at the first failed write and says why,
  # once: cat never reaches the FIFO after it (opening it would wait for a writer until the time
  # limit), and cp stops reading. (No FIFO under Wine.)
  if [ -w /dev/full ] && [ -z "$emulator" ]; then
    head -c 3000000 /dev/zero >zeros.bin; mkfifo never
    for line in "cat zeros.bin never" "cp zeros.bin -"; do
      last="slhost $line >/dev/full"
      timeout "$limit" "$slhost" $line >/dev/full 2>err.txt </dev/null
      status=$?; : >out.txt
      expect_status 1; expect_in err.txt "slhost ${line%% *}: standard output: No space left on device"
      checks=$((checks + 1)); [ "$(wc -l <err.txt)" = 1 ] || fail "more than one message"
    done
  fi
  # A file size limit (16 blocks: 8 or 16 KiB, as the shell counts them) stands in for a full
  # disk: writes past it fail with EFBIG. (Not under Wine, whose own server would meet the
  # limit too.)
  # A copy that fails leaves no part of itself: a new file is not made, a good file stays whole.
  if [ -z "$emulator" ]; then
    i=0; : >big.bin
    while [ $i -lt 500 ]; do cat a.txt a.txt a.txt a.txt a.txt a.txt a.txt a.txt >>big.bin; i=$((i + 1)); done
    printf 'good\n' >good.txt; cp good.txt kept.txt
    for target in short.bin kept.txt; do
      last="slhost cp big.bin $target (file size limit)"
      (trap '' XFSZ; ulimit -f 16; exec timeout "$limit" "$slhost" cp big.bin $target) >out.txt 2>err.txt </dev/null
      status=$?
      expect_status 1
      expect_in err.txt "slhost cp: $target: writing stopped after "
      expect_in err.txt " of 40000 bytes (SLFileSystem::WriteFile() failed, code: 0x00000007)"
    done
    expect_paths "kept.txt" "short.bin"; same_files good.txt kept.txt
    checks=$((checks + 1)); [ -z "$(ls -A | grep slhost-)" ] || fail "a partial copy is left: $(ls -A)"
  fi
  ;;

trees)
  mkdir -p tree/a/b tree/c; echo 1 >tree/one.txt; echo 2 >tree/a/two.txt; echo 3 >tree/a/b/three.txt
  table <<'EOF'
cp -r tree copy       | 0 | out |
cp -r tree copy       | 0 | out |
rm -r copy/tree       | 0 | out |
cp -r tree/a tree/a/b | 1 | err | slhost cp: cannot copy tree/a into itself (tree/a/b/a)
cp tree x             | 1 | err | slhost cp: tree is a folder (cp -r copies a folder and all it holds)
rm -r .               | 1 | err | slhost rm: refusing to remove . with all it holds
EOF
  diff -r tree copy >/dev/null || fail "copy differs from tree"
  expect_paths "copy/one.txt copy/a/b/three.txt copy/c" "copy/tree"
  # Both stop at the first failure and name the path that failed.
  mkdir -p ro/tree/a/two.txt
  run cp -r tree ro; expect_status 1
  expect_in err.txt "slhost cp: ro/tree/a/two.txt: ro/tree/a/two.txt is a folder, not a file (SLFileSystem::OpenFile() failed, code: 0x0000000f)"
  expect_paths "ro/tree/a/b/three.txt" "ro/tree/c ro/tree/one.txt"
  rmdir ro/tree/a/two.txt; : >ro/tree/a/two.txt; chmod a-w ro/tree/a/two.txt
  run rm -r ro; expect_status 1
  expect_in err.txt "slhost rm: ro/tree/a/two.txt: ro/tree/a/two.txt is read-only, or you may not remove it (SLFileSystem::RemoveFile() failed, code: 0x0000000f)"
  expect_paths "ro/tree/a/two.txt" ""
  run rm -r copy; expect_status 0; expect_paths "tree" "copy"

  # The last operand names the copy, however the source is spelt: a new folder is the copy
  # itself, an existing one takes it in under the source's name, and "." or ".." put what they
  # hold into it. A folder never goes into itself, however either end is spelt.
  mkdir -p proj/src/sub; echo a >proj/a.txt; echo b >proj/src/b.txt
  cd proj/src
  table <<'EOF'
cp -r .. ../../up        | 0 | out |
cp -r .. ../../up        | 0 | out |
cp -r ./ ../../here      | 0 | out |
cp -r . ../../here       | 0 | out |
cp -r ../src/ ../../src1 | 0 | out |
cp -r ../src/ ../../src1 | 0 | out |
cp -r . sub              | 1 | err | slhost cp: cannot copy . into itself (sub)
cp -r ./ sub             | 1 | err | slhost cp: cannot copy ./ into itself (sub)
cp -r .. sub/deep        | 1 | err | slhost cp: cannot copy .. into itself (sub/deep)
cp -r ../src sub/../..   | 1 | err | slhost cp: cannot copy ../src into itself (sub/../../src)
cp -r . .                | 1 | err | slhost cp: cannot copy . into itself (.)
EOF
  cd "$work"
  table <<'EOF'
cp -r proj/src/.. proj/src/sub/deep | 1 | err | slhost cp: cannot copy proj/src/.. into itself (proj/src/sub/deep)
cp -r proj/src/./ proj/src/sub      | 1 | err | slhost cp: cannot copy proj/src/./ into itself (proj/src/sub)
EOF
  expect_paths "up/a.txt up/src/b.txt up/src/sub here/b.txt here/sub src1/b.txt src1/src/b.txt" \
    "a.txt b.txt src up/up up/src/src here/src here/here proj/src/sub/deep proj/src/sub/src proj/src/sub/b.txt"
  ;;

errors)
  # Every failure names the path, says why in plain words, and keeps the module's message
  # and code; ambiguous codes (7, 11, 15, 3 from a search) are told apart.
  printf 'text\n' >a.txt; mkdir d full; : >full/x
  table <<'EOF'
cat nodir/sub/f.txt | 1 | err | slhost cat: nodir/sub/f.txt: folder nodir does not exist (SLFileSystem::OpenFile() failed, code: 0x00000007)
cat d/missing.txt   | 1 | err | slhost cat: d/missing.txt: no such file (SLFileSystem::OpenFile() failed, code: 0x0000000b)
cat a.txt/x         | 1 | err | slhost cat: a.txt/x: a.txt is a file, not a folder (SLFileSystem::OpenFile() failed, code: 0x00000007)
cat d               | 1 | err | slhost cat: d: d is a folder, not a file (SLFileSystem::OpenFile() failed, code: 0x0000000f)
cp a.txt nodir/b    | 1 | err | slhost cp: nodir/b: folder nodir does not exist (SLFileSystem::OpenFile() failed, code: 0x00000007)
cp a.txt ./a.txt    | 1 | err | slhost cp: a.txt and ./a.txt are the same file
rm d                | 1 | err | slhost rm: d: d is a folder: rmdir removes an empty one, rm -r a whole tree (SLFileSystem::RemoveFile() failed, code: 0x0000000f)
rm nodir/x          | 1 | err | slhost rm: nodir/x: folder nodir does not exist (SLFileSystem::RemoveFile() failed, code: 0x00000007)
rm missing          | 1 | err | slhost rm: missing: no such file (SLFileSystem::RemoveFile() failed, code: 0x0000000b)
rmdir full          | 1 | err | slhost rmdir: full: folder full is not empty: it holds 1 entry (SLFileSystem::RemoveFolder() failed, code: 0x00000007)
rmdir a.txt         | 1 | err | slhost rmdir: a.txt: a.txt is a file, not a folder (SLFileSystem::RemoveFolder() failed, code: 0x00000007)
rmdir missing       | 1 | err | slhost rmdir: missing: no such folder (SLFileSystem::RemoveFolder() failed, code: 0x0000000b)
mkdir d             | 1 | err | slhost mkdir: d: folder d already exists (SLFileSystem::CreateFolder() failed, code: 0x00000010)
mkdir a.txt         | 1 | err | slhost mkdir: a.txt: a file named a.txt is in the way (SLFileSystem::CreateFolder() failed, code: 0x00000010)
mkdir nodir/x       | 1 | err | slhost mkdir: nodir/x: folder nodir does not exist (SLFileSystem::CreateFolder() failed, code: 0x00000007)
ls 'd/*.bin'        | 1 | err | slhost ls: d/*.bin: nothing in d matches *.bin (SLFileSystem::Search() failed, code: 0x00000003)
ls 'nodir/*.bin'    | 1 | err | slhost ls: nodir/*.bin: folder nodir does not exist (SLFileSystem::Search() failed, code: 0x00000003)
ls missing          | 1 | err | slhost ls: missing: no such file or folder (SLFileSystem::Search() failed, code: 0x00000003)
stat nodir/x        | 1 | out | exists: no
EOF
  # A trailing slash names a folder, whatever the command; -p accepts a folder, not a file.
  table <<'EOF'
cp a.txt nodir/     | 1 | err | slhost cp: cannot create regular file nodir/: Not a directory (no folder nodir)
cp a.txt a.txt/     | 1 | err | slhost cp: a.txt/: Not a directory (a.txt is a file)
cp a.txt/ b.txt     | 1 | err | slhost cp: a.txt/: Not a directory (a.txt is a file)
cp -r d/ newdir/    | 0 | out |
cp a.txt newdir/    | 0 | out |
rm a.txt/           | 1 | err | slhost rm: a.txt/: Not a directory (a.txt is a file)
rm -r a.txt/        | 1 | err | slhost rm: a.txt/: Not a directory (a.txt is a file)
rm missing/         | 1 | err | slhost rm: missing: no such file
stat a.txt/         | 1 | err | slhost stat: a.txt/: Not a directory (a.txt is a file)
stat d/             | 0 | out | type: folder
cat a.txt/          | 1 | err | slhost cat: a.txt/: Not a directory (a.txt is a file)
ls a.txt/           | 1 | err | slhost ls: a.txt/: Not a directory (a.txt is a file)
mkdir a.txt/        | 1 | err | slhost mkdir: a.txt: a file named a.txt is in the way
mkdir -p a.txt      | 1 | err | slhost mkdir: a.txt: a file named a.txt is in the way (SLFileSystem::CreateAllFolders() failed, code: 0x00000010)
mkdir -p a.txt/sub  | 1 | err | slhost mkdir: a.txt/sub: a.txt is a file, not a folder
mkdir -p d d/ full  | 0 | out |
EOF
  expect_paths "a.txt d full/x newdir/a.txt" "nodir b.txt"
  printf 'text\n' >expected.txt; same_files expected.txt a.txt
  ;;

permissions)
  # A folder the user may not read is reported as such. Root may read everything.
  if [ "$(id -u)" = 0 ]; then
    echo "permissions: skipped: running as root, where permission denials do not happen"
    exit 0
  fi
  mkdir locked; : >locked/file; chmod 000 locked
  printf 'no\n' >unreadable.txt; chmod 000 unreadable.txt
  printf 'ro\n' >readonly.txt; chmod 444 readonly.txt
  table <<'EOF'
cp in.txt readonly.txt | 1 | err | slhost cp: readonly.txt: readonly.txt is read-only, or you may not write it (SLFileSystem::OpenFile() failed, code: 0x0000000f)
ls locked           | 1 | err | slhost ls: locked: folder locked may not be read (SLFileSystem::Search() failed, code: 0x00000003)
ls 'locked/*'       | 1 | err | slhost ls: locked/*: folder locked may not be read
stat locked/file    | 1 | out | exists: unknown
stat locked/file    | 1 | err | slhost stat: locked/file: folder locked may not be read
cat unreadable.txt  | 1 | err | slhost cat: unreadable.txt: you may not read unreadable.txt (SLFileSystem::OpenFile() failed, code: 0x0000000f)
rm -r locked        | 1 | err | slhost rm: locked: folder locked may not be read
EOF
  printf 'ro\n' >expected.txt; same_files expected.txt readonly.txt
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

special)
  # Links, FIFOs, sockets and devices: no command opens what it only looks at, so none waits on
  # a FIFO (each run has a time limit) or reads a device; cp -r copies links as links and leaves
  # the others out with a message each, going on to the end.
  mkdir -p tree/sub; echo one >tree/one.txt; echo two >tree/sub/two.txt
  ln -s /dev/zero tree/zero; ln -s loop tree/loop; ln -s nowhere tree/dangling
  ln -s sub tree/sublink; ln -s one.txt tree/onelink; mkfifo tree/fifo
  python3 -c 'import socket; socket.socket(socket.AF_UNIX).bind("tree/socket")' 2>/dev/null ||
    : >tree/socket  # without python3 a file stands in, and the socket cases below fail
  table <<'EOF'
stat tree/fifo tree/socket /dev/null | 0 | out | type: FIFO
stat tree/socket                     | 0 | out | type: socket
stat /dev/null                       | 0 | out | type: device
stat tree/zero                       | 0 | out | leads to: /dev/zero
stat tree/loop                       | 0 | out | leads to: loop
stat tree/dangling                   | 0 | out | type: link
stat tree/sublink/                   | 0 | out | type: folder
stat tree/fifo/                      | 1 | err | slhost stat: tree/fifo/: Not a directory (tree/fifo is a FIFO)
rm tree/fifo/                        | 1 | err | slhost rm: tree/fifo/: Not a directory (tree/fifo is a FIFO)
ls tree                              | 0 | out | fifo
ls tree/fifo                         | 0 | out | fifo
ls 'tree/*'                          | 0 | out | socket
cp -r tree/fifo fifo-copy            | 1 | err | slhost cp: tree/fifo: a FIFO, not copied (cp -r copies files, folders and links)
cp -r /dev/null null-copy            | 1 | err | slhost cp: /dev/null: a device, not copied
cp -r tree/zero zero-copy            | 0 | out |
cp -r tree/sublink/ sub-copy         | 0 | out |
cp -r tree tree/sublink              | 1 | err | slhost cp: cannot copy tree into itself (tree/sublink/tree)
cp -r tree/sub tree/sublink/deep     | 1 | err | slhost cp: cannot copy tree/sub into itself (tree/sublink/deep)
cp tree/one.txt tree/dangling/       | 1 | err | slhost cp: cannot create regular file tree/dangling/: Not a directory
EOF
  expect_paths "sub-copy/two.txt" "fifo-copy null-copy sub-copy/sub tree/sub/tree tree/sub/deep"
  checks=$((checks + 1)); [ "$(readlink zero-copy)" = /dev/zero ] || fail "zero-copy is no link to /dev/zero"

  # The whole tree, twice: into a new folder, then again over it (the links there give way).
  for pass in new again; do
    run cp -r tree/. copy; expect_status 1
    expect_in err.txt "slhost cp: tree/./fifo: a FIFO, not copied (cp -r copies files, folders and links)"
    expect_in err.txt "slhost cp: tree/./socket: a socket, not copied (cp -r copies files, folders and links)"
    checks=$((checks + 1)); [ "$(wc -l <err.txt)" = 2 ] || fail "$pass: more than the two messages"
    while IFS='|' read -r path leads; do
      checks=$((checks + 1))
      [ "$(readlink "copy/$path")" = "$leads" ] || fail "$pass: copy/$path is no link to $leads"
    done <<'EOF'
zero|/dev/zero
loop|loop
dangling|nowhere
sublink|sub
onelink|one.txt
EOF
    same_files tree/one.txt copy/one.txt; same_files tree/sub/two.txt copy/sub/two.txt
    expect_paths "" "copy/fifo copy/socket copy/tree copy/sub/sub"
  done

  # cat and cp of a FIFO named on the command line read it, as far as its writer writes.
  for line in "cat tree/fifo" "cp tree/fifo -" "cp tree/fifo from-fifo.txt"; do
    (echo through >tree/fifo &)
    run $line; expect_status 0
    [ "${line##* }" = from-fifo.txt ] && cp from-fifo.txt out.txt
    expect_out "through"
  done

  # rm -r removes links as links: what they lead to stays.
  ln -s "$work/tree/sub" copy/outside
  run rm -r copy; expect_status 0; expect_paths "tree/sub/two.txt tree/one.txt" "copy"

  # Copying over a file keeps its permissions, and over a link to a file writes the file.
  echo old >kept.txt; chmod 600 kept.txt; ln -s kept.txt keptlink
  run cp tree/one.txt keptlink; expect_status 0; same_files tree/one.txt kept.txt
  checks=$((checks + 1)); [ -L keptlink ] && [ "$(stat -c %a kept.txt)" = 600 ] ||
    fail "keptlink is no longer a link, or kept.txt lost its permissions"
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
  run --fs ar=zip:a.zip cp -r ar:data tree; expect_status 0; same_files rows.txt tree/rows.txt
  expect_paths "tree/raw.bin" ""
  run --fs ar=zip:a.zip stat ar:readme.txt/; expect_status 1
  expect_in err.txt "slhost stat: ar:readme.txt/: Not a directory (ar:readme.txt is a file)"
  echo local >col:on.txt
  table <<'EOF'
--fs ar=zip:a.zip cp rows.txt ar:new.txt | 1 | err | slhost cp: ar:new.txt: archive ar is read-only (ZipFileSystem::OpenFile() failed, code: 0x0000000f: the archive is read-only)
--fs ar=zip:a.zip rm ar:readme.txt       | 1 | err | slhost rm: ar:readme.txt: archive ar is read-only (ZipFileSystem::RemoveFile() failed, code: 0x0000000f
--fs ar=zip:a.zip cat ar:../x            | 1 | err | code: 0x00000003: the path climbs above the archive's root
--fs ar=zip:a.zip ls 'ar:nodir/*.txt'    | 1 | err | slhost ls: ar:nodir/*.txt: folder ar:nodir does not exist (ZipFileSystem::Search()
--fs ar=zip:a.zip cat col:on.txt         | 0 | out | local
--fs ar=zip:none.zip cat ar:x            | 1 | err | slhost cat: cannot open archive ar: none.zip: no such archive
--fs a=zip:a.zip cat a:x                 | 2 | err | slhost: --fs NAME must be two characters or more
--fs ar cat ar:x                         | 2 | err | slhost: --fs takes NAME=zip:PATH or NAME=sftp://[USER@]HOST[:PORT][/PATH], not ar
--fs ar=sftp:// cat ar:x                 | 2 | err | slhost: --fs takes NAME=zip:PATH or NAME=sftp://
check-fs memory --threads 0              | 2 | err | slhost check-fs: --threads: Value 0 not in range 1 to 256
EOF
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
