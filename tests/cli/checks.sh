# The checks of the slhost command-line tests, sourced by them after they have made and entered
# their work folder: $work, $slhost and $emulator (empty unless the Windows build runs) are set.
# Each check counts in $checks and each failure in $failures; a script ends with
#   echo "NAME: $checks checks, $failures failed"; [ $failures -eq 0 ]
failures=0
checks=0

# run ARGS...: runs slhost with standard input from in.txt (empty unless a case writes it);
# its output lands in out.txt and err.txt, its exit code in $status. A run that takes longer than
# $limit seconds is stopped (exit code 124): a hang fails the case instead of the whole test.
# The three files stay in the work folder whichever folder a case runs in.
: >in.txt
limit=60
run() {
  last="slhost $*"
  if [ -n "$emulator" ]; then
    timeout "$limit" "$emulator" "$slhost" "$@" >"$work/out.txt" 2>"$work/err.txt" <"$work/in.txt"
  else
    timeout "$limit" "$slhost" "$@" >"$work/out.txt" 2>"$work/err.txt" <"$work/in.txt"
  fi
  status=$?
}
fail() {
  failures=$((failures + 1))
  echo "FAILED: $last: $1"
  echo "--- stdout"; cat "$work/out.txt"; echo "--- stderr"; cat "$work/err.txt"; echo "---"
}
expect_status() {
  checks=$((checks + 1))
  [ "$status" = "$1" ] || fail "exit code $status, expected $1"
}
# expect_out TEXT: standard output is exactly TEXT and a newline (or nothing for "").
expect_out() {
  checks=$((checks + 1))
  if [ -z "$1" ]; then : >"$work/want.txt"; else printf '%s\n' "$1" >"$work/want.txt"; fi
  cmp -s "$work/want.txt" "$work/out.txt" || fail "stdout differs from: $1"
}
# expect_in FILE TEXT: a line of FILE (out.txt or err.txt) holds TEXT.
expect_in() {
  checks=$((checks + 1))
  grep -qF -- "$2" "$work/$1" || fail "$1 lacks: $2"
}
same_files() {
  checks=$((checks + 1))
  cmp -s "$1" "$2" || fail "$2 differs from $1"
}
# expect_paths "A B" "C D": A and B exist, C and D do not (names are split at spaces).
expect_paths() {
  checks=$((checks + 1))
  for path in $1; do [ -e "$path" ] || fail "$path is gone"; done
  for path in $2; do [ ! -e "$path" ] || fail "$path is still there"; done
}
# table: each line "COMMAND LINE | EXIT | STREAM | TEXT" runs slhost with the command line
# (shell words, so quotes work) and checks the exit code and that out.txt or err.txt holds TEXT.
table() {
  while IFS='|' read -r line code stream text; do
    line=$(echo "$line" | sed 's/ *$//')
    [ -n "$line$code" ] || continue
    eval "run $line" </dev/null
    expect_status "$(echo $code)"
    text=$(echo "$text" | sed 's/^ *//')
    [ -z "$text" ] || expect_in "$(echo $stream).txt" "$text"
  done
}
