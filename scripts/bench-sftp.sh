#!/usr/bin/env bash
# The module's streams over SFTP beside OpenSSH's own clients, against a private OpenSSH server
# on 127.0.0.1 (tests/network/local_sshd.sh). One file of MIB MiB goes each way by each side, in
# turn, round after round in one run, the order reversed every other round:
#   sftp get, sftp put     OpenSSH's sftp -b with its default buffers and requests in flight
#   scp get, scp put       OpenSSH's scp (since OpenSSH 9 it speaks SFTP to the server too)
#   ours read, ours write  bench/sftp_stream_bench: a file read stream, then a file write stream,
#                          64 KiB per stream call, over libslsftp's file system
# Each time is the whole command's, connection and login included, on every side. Prints each
# side's fastest time as MB/s (10^6 bytes a second) and ours over the faster of sftp and scp,
# read and write, beside the target (ours at least 0.8x). Times never fail it; a copy that
# differs from its source does, and so does a command that fails or outlasts its time limit.
#
# Usage: scripts/bench-sftp.sh BUILD_DIR [MIB]      (default 100 MiB; SL_SFTP_BENCH_ROUNDS rounds,
#                                                   default 5)
# BUILD_DIR is a build of the bench preset (cmake --preset bench): its bin/ holds
# sftp_stream_bench, libslservices.so and libslsftp.so. Without them only OpenSSH's side runs.
# The files go to a private folder in /dev/shm (else under build/), so that no disk is timed.
set -euo pipefail
cd "$(dirname "$0")/.."
(($# >= 1 && $# <= 2)) || { echo "usage: scripts/bench-sftp.sh BUILD_DIR [MIB]" >&2; exit 2; }
bin=$1/bin
mib=${2:-100}
rounds=${SL_SFTP_BENCH_ROUNDS:-5}
[[ $mib =~ ^[1-9][0-9]*$ && $rounds =~ ^[1-9][0-9]*$ ]] || { echo "bench-sftp: MIB and rounds are counts" >&2; exit 2; }
sshd_script=$PWD/tests/network/local_sshd.sh
limit=$((60 + mib))  # seconds for one transfer: a stalled one fails the run

base=build
shm_free=$(df -Pm /dev/shm 2>/dev/null | awk 'NR == 2 { print $4 }')
if [[ -w /dev/shm && -n $shm_free ]] && ((shm_free > 3 * mib + 64)); then base=/dev/shm; fi
mkdir -p "$base"
dir=$(mktemp -d "$base/sftp-bench.XXXXXX")
dir=$(cd "$dir" && pwd -P)
server=$dir/server
cleanup() {
  timeout 30 "$sshd_script" stop "$server" || true
  rm -rf "$dir"
}
trap cleanup EXIT
port=$(timeout 60 "$sshd_script" start "$server")
user=$(cat "$server/user")
head -c $((mib << 20)) /dev/urandom >"$dir/source.bin"

ssh_options=(-F /dev/null -i "$server/id_ed25519" -o "UserKnownHostsFile=$server/known_hosts"
             -o StrictHostKeyChecking=yes -o BatchMode=yes -o LogLevel=ERROR)

# url_escape TEXT: TEXT with every byte but letters, digits, -._~ and / as %XX.
url_escape() {
  local LC_ALL=C text=$1 out="" c i
  for ((i = 0; i < ${#text}; i++)); do
    c=${text:i:1}
    case $c in
      [A-Za-z0-9._~/-]) out+=$c ;;
      *) out+=$(printf '%%%02X' "'$c") ;;
    esac
  done
  printf '%s' "$out"
}
# The file system's root is the run's folder: the bench names its files from there.
url="sftp://$(url_escape "$user")@127.0.0.1:$port$(url_escape "$dir")"
url+="?known_hosts=$(url_escape "$server/known_hosts")&identity=$(url_escape "$server/id_ed25519")"

sides=(sftp_get sftp_put scp_get scp_put)
ours=1
for needed in sftp_stream_bench libslservices.so libslsftp.so; do
  [[ -f $bin/$needed ]] || ours=0
done
((ours)) && sides+=(ours_read ours_write)

now() { date +%s%N; }
# transfer SIDE: one transfer by that side into $dir/SIDE.bin (on the server or here: it is the
# same machine); its time in nanoseconds goes to $took. The copy must equal the source.
transfer() {
  local side=$1 start status=0 output=$dir/$1.out
  local copy=$dir/$side.bin
  rm -f "$copy"
  start=$(now)
  case $side in
    sftp_get) printf 'get %s %s\n' "$dir/source.bin" "$copy" >"$dir/batch" ;;&
    sftp_put) printf 'put %s %s\n' "$dir/source.bin" "$copy" >"$dir/batch" ;;&
    sftp_*)
      timeout "$limit" sftp "${ssh_options[@]}" -P "$port" -b "$dir/batch" "$user@127.0.0.1" \
        >"$output" 2>&1 || status=$? ;;
    scp_get)
      timeout "$limit" scp "${ssh_options[@]}" -P "$port" "$user@127.0.0.1:$dir/source.bin" \
        "$copy" >"$output" 2>&1 || status=$? ;;
    scp_put)
      timeout "$limit" scp "${ssh_options[@]}" -P "$port" "$dir/source.bin" \
        "$user@127.0.0.1:$copy" >"$output" 2>&1 || status=$? ;;
    ours_read)
      timeout "$limit" "$bin/sftp_stream_bench" "$bin/libslservices.so" "$bin/libslsftp.so" \
        "$url" read /source.bin "$copy" >"$output" 2>&1 || status=$? ;;
    ours_write)
      timeout "$limit" "$bin/sftp_stream_bench" "$bin/libslservices.so" "$bin/libslsftp.so" \
        "$url" write "/$side.bin" "$mib" "$dir/source.bin" >"$output" 2>&1 || status=$? ;;
  esac
  took=$(($(now) - start))
  if ((status != 0)); then
    ((status == 124)) && echo "bench-sftp: $side took longer than $limit s" >&2
    echo "bench-sftp: $side failed (status $status):" >&2
    cat "$output" >&2
    exit 1
  fi
  cmp -s "$dir/source.bin" "$copy" || { echo "bench-sftp: $side made a different copy" >&2; exit 1; }
  rm -f "$copy"
}

declare -A best=()
for ((round = 0; round < rounds; round++)); do
  order=("${sides[@]}")
  if ((round % 2)); then
    order=()
    for ((i = ${#sides[@]} - 1; i >= 0; i--)); do order+=("${sides[i]}"); done
  fi
  for side in "${order[@]}"; do
    transfer "$side"
    if [[ -z ${best[$side]:-} ]] || ((took < best[$side])); then best[$side]=$took; fi
  done
done

bytes=$((mib << 20))
rate() { awk -v b="$bytes" -v t="$1" 'BEGIN { printf "%.1f", b / (t / 1e9) / 1e6 }'; }
echo "SFTP transfer of $mib MiB on 127.0.0.1 (OpenSSH $(ssh -V 2>&1 | sed 's/^OpenSSH_\([^ ,]*\).*/\1/')), $rounds rounds, files in $base; fastest of each side:"
for side in "${sides[@]}"; do
  printf '  %-10s %8.1f ms  %8s MB/s\n' "${side/_/ }" "$(awk -v t="${best[$side]}" 'BEGIN { print t / 1e6 }')" \
    "$(rate "${best[$side]}")"
done
# ratio OURS SFTP SCP: our speed over the faster of the two others' (times: the smaller).
ratio() {
  awk -v o="${best[$1]}" -v a="${best[$2]}" -v b="${best[$3]}" 'BEGIN {
    f = a < b ? a : b; r = f / o
    printf "%.2fx (against %s) target >= 0.80x: %s", r, (a < b ? "sftp" : "scp"), (r >= 0.8 ? "met" : "missed") }'
}
if ((ours)); then
  echo "ours read / faster of sftp get and scp get:  $(ratio ours_read sftp_get scp_get)"
  echo "ours write / faster of sftp put and scp put: $(ratio ours_write sftp_put scp_put)"
else
  echo "ours read, ours write: not measured: $bin lacks sftp_stream_bench, libslservices.so or"
  echo "  libslsftp.so (build the bench preset with libssh2 installed: cmake --preset bench)"
fi
