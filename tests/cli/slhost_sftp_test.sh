#!/bin/sh
# slhost on a remote folder mounted with --fs NAME=sftp://..., against a private OpenSSH server on
# 127.0.0.1 (tests/network/local_sshd.sh): every command that reads or writes a mounted file
# system, the conformance kit, a server whose key is not the trusted one, a folder that is not
# there, and a server that dies or stalls in the middle of a copy. The served folder is a folder
# of this machine, so every result is compared with the files themselves.
#
# usage: slhost_sftp_test.sh SLHOST    (Linux, with sshd and libslsftp beside slhost)
set -u
export LC_ALL=C.UTF-8
unset SLHOST_MODULE
slhost=$1
emulator=""
case $slhost in /*) ;; *) slhost=$PWD/$slhost ;; esac
here=$(cd "$(dirname "$0")" && pwd)
sshd=$here/../network/local_sshd.sh
work=$(mktemp -d "${TMPDIR:-/tmp}/slhost-sftp.XXXXXX")
trap 'bash "$sshd" stop "$work/server" >/dev/null 2>&1; chmod -R u+rwx "$work"; rm -rf "$work"' EXIT
cd "$work" || exit 1
# No file written is larger than the 200 MiB one (512-byte blocks; the server inherits it).
ulimit -f 460800 2>/dev/null
. "$here/checks.sh"

bash "$sshd" start "$work/server" >/dev/null || { echo "the local SSH server did not start"; exit 1; }
port=$(cat server/port)
user=$(cat server/user)
keys="known_hosts=$work/server/known_hosts&identity=$work/server/id_ed25519&timeout=5"
url="sftp://$user@127.0.0.1:$port$work/remote?$keys"
box="box=$url"

mkdir -p remote/data remote/scratch tree/sub/deeper tree/empty
echo "from the server" >remote/readme.txt
seq 1 20000 | sed 's/^/row /' >remote/data/rows.txt
head -c 10240 /dev/urandom >remote/data/raw.bin
echo "a local file" >tree/a.txt
head -c 1572864 /dev/urandom >tree/sub/b.bin  # more than one block of 1 MiB
echo deeper >tree/sub/deeper/c.txt
echo "the local sample" >local.txt

# Reading.
run --fs "$box" ls box:; expect_status 0; expect_out "data
readme.txt
scratch"
run --fs "$box" ls 'box:data/*.txt'; expect_status 0; expect_out "rows.txt"
run --fs "$box" cat box:readme.txt box:data/rows.txt; expect_status 0
cat remote/readme.txt remote/data/rows.txt >want-cat.txt; same_files want-cat.txt out.txt
run --fs "$box" stat box:data box:data/raw.bin; expect_status 0; expect_out "box:data
  exists: yes
  type: folder
box:data/raw.bin
  exists: yes
  type: file
  size: 10240 bytes"

# Writing: every result is looked at on the server's side.
run --fs "$box" mkdir box:made; expect_status 0; expect_paths "remote/made" ""
run --fs "$box" mkdir -p box:made/a/b box:made; expect_status 0; expect_paths "remote/made/a/b" ""
run --fs "$box" cp tree/sub/b.bin box:made/b.bin; expect_status 0
same_files tree/sub/b.bin remote/made/b.bin
run --fs "$box" cp local.txt box:made; expect_status 0; same_files local.txt remote/made/local.txt
run --fs "$box" cp local.txt box:readme.txt; expect_status 0  # a longer file replaced in place
same_files local.txt remote/readme.txt
run --fs "$box" cp box:data/raw.bin fetched.bin; expect_status 0
same_files remote/data/raw.bin fetched.bin
run --fs "$box" cp -r tree box:tree; expect_status 0
checks=$((checks + 1)); diff -r tree remote/tree >diff.txt || fail "remote/tree differs: $(cat diff.txt)"
run --fs "$box" cp -r box:data fetched; expect_status 0
checks=$((checks + 1)); diff -r remote/data fetched >diff.txt || fail "fetched differs: $(cat diff.txt)"
run --fs "$box" rmdir box:tree/empty; expect_status 0; expect_paths "remote/tree" "remote/tree/empty"
run --fs "$box" rm box:made/local.txt; expect_status 0; expect_paths "remote/made/b.bin" "remote/made/local.txt"
run --fs "$box" rm -r box:made box:tree; expect_status 0; expect_paths "remote/data" "remote/made remote/tree"
ln -s a.txt tree/link
run --fs "$box" cp -r tree box:linked; expect_status 1
expect_in err.txt "slhost cp: box:linked/link: link not copied: remote folder box takes files and folders only"
same_files tree/a.txt remote/linked/a.txt

# Failures, each in its own words.
: >empty_known_hosts
ssh-keygen -q -t ed25519 -N '' -f other_key
echo "[127.0.0.1]:$port $(cut -d' ' -f1,2 other_key.pub)" >other_known_hosts
login="sftp://$user@127.0.0.1:$port"
identity="identity=$work/server/id_ed25519&timeout=5"
table <<'EOF'
--fs "$box" mkdir box:made                      | 0 | err |
--fs "$box" mkdir box:made                      | 1 | err | slhost mkdir: box:made: folder box:made already exists
--fs "$box" mkdir box:none/x                    | 1 | err | slhost mkdir: box:none/x: folder box:none does not exist
--fs "$box" cat box:none.txt                    | 1 | err | slhost cat: box:none.txt: no such file
--fs "$box" stat box:none.txt                   | 1 | out | exists: no
--fs "$box" rm box:none.txt                     | 1 | err | slhost rm: box:none.txt: no such file
--fs "$box" rm box:made                         | 1 | err | slhost rm: box:made: box:made is a folder
--fs "$box" cp local.txt box:none/a.txt         | 1 | err | slhost cp: box:none/a.txt: folder box:none does not exist
--fs "$box" cp box:none.txt got.txt             | 1 | err | slhost cp: box:none.txt: no such file
--fs "$box" cat box:../x                        | 1 | err | slhost cat: box:../x:
--fs "nf=$login$work/nowhere?$keys" ls nf:      | 1 | err | /nowhere: the server has no such file
--fs "nf=$login$work/remote/readme.txt?$keys" ls nf: | 1 | err | /remote/readme.txt is a file, not a folder
--fs "hk=$login$work/remote?known_hosts=$work/empty_known_hosts&$identity" ls hk: | 1 | err | slhost ls: cannot open remote folder hk: the host key of [127.0.0.1]:
--fs "hk=$login$work/remote?known_hosts=$work/empty_known_hosts&$identity" ls hk: | 1 | err | ) is unknown: it is not in
--fs "hk=$login$work/remote?known_hosts=$work/other_known_hosts&$identity" ls hk: | 1 | err | ) does not match the one in
check-fs "$login$work/remote?known_hosts=$work/empty_known_hosts&$identity" | 1 | err | ) is unknown: it is not in
--fs "$box" check-fs box --scratch /scratch     | 0 | out | 0 failed, 0 skipped (writable
check-fs "$url" --scratch /scratch --sample /data/rows.txt | 0 | out | 0 failed, 0 skipped (writable, sample /data/rows.txt)
EOF
run --fs "$box" rm -r box:made; expect_status 0

# The server dies in the middle of a copy: cp stops with exit code 1 and the file system's
# record, long before the URL's timeout would end it. The copy is held still (the server
# paused) while it is surely under way, then the server is killed.
head -c 209715200 /dev/urandom >big.bin
# copy_and_stop SIGNAL UNDERWAY ARGS...: runs slhost ARGS in the background; once the shell test
# UNDERWAY holds (the command is under way), holds slhost still (SIGSTOP), pauses the server and
# sends it SIGNAL ("kill", or "" to leave it stalled), then lets slhost go on, so that it meets
# the dead or silent server in the middle of its work however busy the machine is. Waits for
# slhost and puts its run time in $took.
copy_and_stop() {
  signal=$1
  underway=$2
  shift 2
  last="slhost $*"
  started=$(date +%s)
  timeout 60 "$slhost" "$@" >"$work/out.txt" 2>"$work/err.txt" </dev/null &
  copier=$!
  slhost_pid=""
  while [ -z "$slhost_pid" ] && kill -0 "$copier" 2>/dev/null; do
    read -r slhost_pid _ <"/proc/$copier/task/$copier/children" 2>/dev/null
  done
  while ! eval "$underway" && kill -0 "$copier" 2>/dev/null; do sleep 0.01; done
  [ -z "$slhost_pid" ] || kill -STOP "$slhost_pid" 2>/dev/null
  bash "$sshd" pause "$work/server"
  [ -z "$signal" ] || bash "$sshd" "$signal" "$work/server"
  [ -z "$slhost_pid" ] || kill -CONT "$slhost_pid" 2>/dev/null
  wait "$copier"
  status=$?
  took=$(($(date +%s) - started))
}
copy_and_stop kill '[ -s remote/big.bin ]' --fs "$box" cp big.bin box:big.bin
expect_status 1
expect_in err.txt "slhost cp: box:big.bin: "
expect_in err.txt "(SftpFileSystem::WriteFile() failed, code: 0x00000007: writing $work/remote/big.bin: the connection to $user@127.0.0.1:$port is lost"
checks=$((checks + 1)); [ "$took" -lt 30 ] || fail "cp took $took s after the server died"
checks=$((checks + 1)); [ "$(stat -c %s remote/big.bin)" -lt 209715200 ] || fail "the copy ended before the server died"

# The server dies while a tree of small files goes up, and while it is removed: whichever call
# meets the lost connection, the message is the file system's record, not a guess from the
# probes that follow (which all fail too: nothing "does not exist"). Every failure of rm -r is
# looked into that way; a copy may also fail in a write or the last flush, which say so.
bash "$sshd" start "$work/server" >/dev/null || { echo "the local SSH server did not restart"; exit 1; }
mkdir -p many
for i in $(seq 1 500); do mkdir many/d$i; for j in $(seq 1 10); do echo "$i.$j" >many/d$i/f$j.txt; done; done
copy_and_stop kill '[ -e remote/many/d3 ]' \
  --fs "$box" cp -r many box:many
expect_status 1
expect_in err.txt "slhost cp: box:many/d"
expect_in err.txt "the connection to $user@127.0.0.1:$port is lost"
checks=$((checks + 1)); ! grep -q "does not exist" err.txt || fail "a lost connection told as a missing folder"
checks=$((checks + 1)); [ "$took" -lt 30 ] || fail "cp -r took $took s after the server died"
checks=$((checks + 1)); [ ! -e remote/many/d99 ] || fail "the tree was copied before the server died"
bash "$sshd" start "$work/server" >/dev/null || { echo "the local SSH server did not restart"; exit 1; }
rm -rf remote/many && cp -r many remote/many
copy_and_stop kill 'set -- remote/many/d*; [ $# -lt 500 ]' --fs "$box" rm -r box:many
expect_status 1
expect_in err.txt "slhost rm: box:many/d"
expect_in err.txt ": remote folder box cannot be reached any more"
expect_in err.txt "the connection to $user@127.0.0.1:$port is lost"
checks=$((checks + 1)); [ "$took" -lt 30 ] || fail "rm -r took $took s after the server died"
checks=$((checks + 1)); [ -e remote/many ] || fail "the tree was removed before the server died"

# The server, back with the same keys and port, stalls in the middle of a download: no answer
# within the URL's 5 s. cp writes beside got.bin, under a name of its own.
bash "$sshd" start "$work/server" >/dev/null || { echo "the local SSH server did not restart"; exit 1; }
cp big.bin remote/big.bin
run --fs "$box" stat box:big.bin; expect_status 0; expect_in out.txt "size: 209715200 bytes"
copy_and_stop "" 'set -- .got.bin.slhost-*; [ -s "$1" ]' \
  --fs "$box" cp box:big.bin got.bin
bash "$sshd" resume "$work/server"
expect_status 1
expect_in err.txt "slhost cp: box:big.bin: reading stopped after "
expect_in err.txt "is lost: the server did not answer within 5 s"
checks=$((checks + 1)); [ "$took" -lt 30 ] || fail "cp took $took s with the server stalled"
expect_paths "" "got.bin"
checks=$((checks + 1)); [ -z "$(find . -maxdepth 1 -name '.got.bin.slhost-*')" ] || fail "a part of the copy stayed"

echo "sftp: $checks checks, $failures failed"
[ $failures -eq 0 ]
