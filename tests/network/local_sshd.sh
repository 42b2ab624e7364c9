#!/usr/bin/env bash
# A private OpenSSH server on 127.0.0.1 for one test run: the SFTP tests, the slhost tests and
# scripts/bench-sftp.sh talk to it. Everything it uses lives in one folder, DIR.
#
#   local_sshd.sh start DIR    start the server; prints its port
#   local_sshd.sh stop DIR     stop it and every connection it serves (no process is left)
#   local_sshd.sh kill DIR     SIGKILL the server and its connections: a server that died
#   local_sshd.sh pause DIR    SIGSTOP them: a server that stalls (connections hang, new ones
#                              get a TCP connection but no SSH banner)
#   local_sshd.sh resume DIR   SIGCONT them
#
# `start` leaves in DIR:
#   port            the port it listens on (127.0.0.1 only)
#   user            the login name: the user running this script
#   id_ed25519      the private key that logs in (no passphrase); .pub beside it
#   known_hosts     the Ed25519 host key as "[127.0.0.1]:PORT ssh-ed25519 AAAA...", as
#                   OpenSSH's client writes it: the server also has an ECDSA key, which
#                   libssh2 would ask for first, so clients must ask for what the file holds
#   host_ed25519_key, host_ecdsa_key (.pub beside each), sshd_config, authorized_keys,
#   sshd.pid, sshd.log (sshd's own messages)
# A first `start` makes fresh keys. A `start` in a folder that already has them (after `stop`
# or `kill`) keeps the keys and the port, so that clients reconnect to the same URL and trust
# the same host key: a server that comes back.
#
# Runs as root (then /run/sshd, the privilege-separation folder, is made when missing) or as an
# ordinary user (sshd then can log in only that user, which is the login user anyway). Run as
# root, sshd without PAM refuses a user whose password is locked ("!" in /etc/shadow) even with
# the right key: start warns of it.
# sshd logs at ERROR; SL_SSHD_LOG_LEVEL=DEBUG (or INFO, VERBOSE) says why a login was refused.
# The signals go to the whole tree of the server's processes: the listener and the processes
# it forked for each connection, found through their parent ids.
set -euo pipefail

sshd_bin=${SL_SSHD:-/usr/sbin/sshd}

die() {
  echo "local_sshd.sh: $*" >&2
  exit 1
}

usage() {
  echo "usage: local_sshd.sh start|stop|kill|pause|resume DIR" >&2
  exit 2
}

(($# == 2)) || usage
command=$1
[[ -n $2 ]] || usage
if [[ $command == start ]]; then mkdir -p "$2"; fi
[[ -d $2 ]] || die "no folder $2"
dir=$(cd "$2" && pwd -P)
config=$dir/sshd_config

# ppid_of PID: prints the parent's pid, or nothing when PID is gone or a zombie.
ppid_of() {
  local line
  line=$(cat "/proc/$1/stat" 2>/dev/null) || return 0
  # The command name (field 2) may hold spaces and parentheses: split after its last ')'.
  local -a fields
  read -r -a fields <<<"${line##*) }"
  [[ ${fields[0]} == Z || ${fields[0]} == X ]] && return 0
  echo "${fields[1]}"
}

alive() {
  [[ -n $(ppid_of "$1") ]]
}

# stopped PID: whether PID is stopped by a signal, or gone.
stopped() {
  local line
  line=$(cat "/proc/$1/stat" 2>/dev/null) || return 0
  local -a fields
  read -r -a fields <<<"${line##*) }"
  [[ ${fields[0]} == [TtZX] ]]
}

# settle CHECK PID...: waits (5 s at most) until CHECK holds for every PID. Signals arrive
# asynchronously: the caller of kill or pause expects them to have acted when this script ends.
settle() {
  local check=$1 pid waited
  shift
  for ((waited = 0; waited < 50; waited++)); do
    local pending=0
    for pid in "$@"; do
      if [[ $check == gone ]]; then
        alive "$pid" && pending=1
      else
        stopped "$pid" || pending=1
      fi
    done
    ((pending)) || return 0
    sleep 0.1
  done
  return 1
}

# listener_pid: the pid of this folder's sshd listener, or nothing. The pid file is believed
# only while that process's command line names this folder's config (a stale file whose pid
# went to another process is ignored).
listener_pid() {
  local pid
  [[ -f $dir/sshd.pid ]] || return 0
  pid=$(cat "$dir/sshd.pid" 2>/dev/null) || return 0
  [[ $pid =~ ^[0-9]+$ ]] || return 0
  alive "$pid" || return 0
  tr '\0' ' ' <"/proc/$pid/cmdline" 2>/dev/null | grep -qF -- "$config" || return 0
  echo "$pid"
}

# tree ROOT: ROOT and all its descendants, parents before children.
tree() {
  local -A children=()
  local stat pid ppid rest
  for stat in /proc/[0-9]*/stat; do
    pid=${stat#/proc/}
    pid=${pid%/stat}
    ppid=$(ppid_of "$pid")
    [[ -n $ppid ]] && children[$ppid]+=" $pid"
  done
  local queue=("$1") index=0
  while ((index < ${#queue[@]})); do
    pid=${queue[index]}
    index=$((index + 1))
    echo "$pid"
    rest=${children[$pid]:-}
    for ppid in $rest; do queue+=("$ppid"); done
  done
}

# signal_tree SIGNAL: sends SIGNAL to the listener and every process under it. The listener is
# stopped first, so that it forks no new connection while the tree is read; the tree is read
# again until it holds no process not yet stopped (a child may have been forking).
signal_tree() {
  local signal=$1 root pid
  root=$(listener_pid)
  [[ -n $root ]] || return 1
  local -A stopped=()
  local changed=1
  while ((changed)); do
    changed=0
    for pid in $(tree "$root"); do
      if [[ -z ${stopped[$pid]:-} ]]; then
        kill -STOP "$pid" 2>/dev/null || true
        stopped[$pid]=1
        changed=1
      fi
    done
  done
  for pid in "${!stopped[@]}"; do
    kill "-$signal" "$pid" 2>/dev/null || true
  done
  # A stopped process acts on SIGTERM only once continued; SIGSTOP keeps them stopped.
  if [[ $signal != STOP ]]; then
    for pid in "${!stopped[@]}"; do kill -CONT "$pid" 2>/dev/null || true; done
  fi
  case $signal in
    KILL) settle gone "${!stopped[@]}" || die "processes of $dir outlived SIGKILL" ;;
    STOP) settle stopped "${!stopped[@]}" || die "processes of $dir did not stop" ;;
  esac
  echo "${!stopped[@]}"
}

# free_port: a port of 127.0.0.1 that nothing listens on just now (another process may take it
# before sshd binds it: start retries).
free_port() {
  if command -v python3 >/dev/null 2>&1; then
    python3 -c 'import socket
s = socket.socket()
s.bind(("127.0.0.1", 0))
print(s.getsockname()[1])' && return 0
  fi
  echo $((20000 + RANDOM % 40000))
}

write_config() {
  cat >"$config" <<EOF
# Written by tests/network/local_sshd.sh for one test run.
ListenAddress 127.0.0.1:$1
AddressFamily inet
HostKey $dir/host_ed25519_key
HostKey $dir/host_ecdsa_key
PidFile $dir/sshd.pid
AuthorizedKeysFile $dir/authorized_keys
PubkeyAuthentication yes
PasswordAuthentication no
KbdInteractiveAuthentication no
PermitRootLogin prohibit-password
UsePAM no
StrictModes no
UseDNS no
PrintMotd no
PrintLastLog no
X11Forwarding no
AllowAgentForwarding no
AllowTcpForwarding no
MaxSessions 100
MaxStartups 100
LoginGraceTime 30
LogLevel ${SL_SSHD_LOG_LEVEL:-ERROR}
Subsystem sftp internal-sftp
EOF
}

start() {
  [[ -z $(listener_pid) ]] || die "a server already runs for $dir (port $(cat "$dir/port"))"
  [[ -x $sshd_bin ]] || die "$sshd_bin is missing: install openssh-server (scripts/install-deps.sh)"
  command -v ssh-keygen >/dev/null || die "ssh-keygen is missing: install openssh-client"
  if (($(id -u) == 0)) && [[ ! -d /run/sshd ]]; then
    mkdir -p /run/sshd
    chmod 755 /run/sshd
  fi
  if [[ ! -f $dir/host_ed25519_key ]]; then
    ssh-keygen -q -t ed25519 -N '' -C "sl-test-host" -f "$dir/host_ed25519_key" </dev/null
    ssh-keygen -q -t ecdsa -b 256 -N '' -C "sl-test-host" -f "$dir/host_ecdsa_key" </dev/null
  fi
  if [[ ! -f $dir/id_ed25519 ]]; then
    ssh-keygen -q -t ed25519 -N '' -C "sl-test-user" -f "$dir/id_ed25519" </dev/null
  fi
  cp "$dir/id_ed25519.pub" "$dir/authorized_keys"
  id -un >"$dir/user"
  if (($(id -u) == 0)); then
    local password
    password=$(getent shadow "$(id -un)" 2>/dev/null | cut -d: -f2) || true
    if [[ $password == '!'* ]]; then
      echo "local_sshd.sh: warning: the password of $(id -un) is locked ('!'): sshd without" \
        "PAM will refuse its login (usermod -p '*' $(id -un) unlocks it for keys only)" >&2
    fi
  fi

  # A restart keeps its port (and tries it a while: the old listener's socket may linger);
  # a first start takes a free port and tries another when one was taken meanwhile.
  local fixed_port="" attempts=10 attempt port pid waited
  if [[ -f $dir/port ]]; then
    fixed_port=$(cat "$dir/port")
    attempts=20
  fi
  for ((attempt = 0; attempt < attempts; attempt++)); do
    port=${fixed_port:-$(free_port)}
    write_config "$port"
    rm -f "$dir/sshd.pid"
    : >"$dir/sshd.log"
    # -D: no daemon, so $! is the listener; its own output goes to the log, and no descriptor of
    # the caller stays open in it (a caller reading this script's output sees its end). What
    # it prints before it opens the log (a bad option) goes to the log too.
    # shellcheck disable=SC2094
    "$sshd_bin" -D -f "$config" -E "$dir/sshd.log" </dev/null >>"$dir/sshd.log" 2>&1 &
    pid=$!
    # sshd writes its pid file once its socket listens (no probe connection needed, which would
    # leave a line in the log); it exits when the bind fails.
    for ((waited = 0; waited < 100; waited++)); do
      if [[ -s $dir/sshd.pid ]]; then
        echo "$port" >"$dir/port"
        printf '[127.0.0.1]:%s %s\n' "$port" \
          "$(cut -d' ' -f1-2 "$dir/host_ed25519_key.pub")" >"$dir/known_hosts"
        echo "$port"
        return 0
      fi
      alive "$pid" || break
      sleep 0.1
    done
    if alive "$pid"; then
      kill -KILL "$pid" 2>/dev/null || true
      cat "$dir/sshd.log" >&2
      die "sshd did not listen on port $port within 10 s"
    fi
    wait "$pid" 2>/dev/null || true
    grep -qiE 'bind|address already in use' "$dir/sshd.log" || break
    [[ -n $fixed_port ]] && sleep 0.25
  done
  cat "$dir/sshd.log" >&2
  die "sshd did not start (config $config)"
}

stop() {
  local pids pid
  pids=$(signal_tree TERM) || return 0  # nothing runs: stopped already, or killed
  # shellcheck disable=SC2086
  if ! settle gone $pids; then
    for pid in $pids; do kill -KILL "$pid" 2>/dev/null || true; done
    # shellcheck disable=SC2086
    settle gone $pids || die "processes of $dir outlived SIGKILL"
  fi
  rm -f "$dir/sshd.pid"
}

case $command in
  start) start ;;
  stop) stop ;;
  kill) signal_tree KILL >/dev/null || die "no server runs for $dir" ;;
  pause) signal_tree STOP >/dev/null || die "no server runs for $dir" ;;
  resume) signal_tree CONT >/dev/null || die "no server runs for $dir" ;;
  *) usage ;;
esac
