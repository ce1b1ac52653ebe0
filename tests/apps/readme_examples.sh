#!/usr/bin/env bash
# Runs every ```sh block of the README, line by line, against the sample archive ./scripts/demo
# makes, in a private HOME and KORVEL_HOME. A block right after "<!-- not-run -->" is skipped; a
# line whose comment says "(exit N)" must exit with N, every other line with 0.
#
# Usage: readme_examples.sh KORVEL_TOOL_FOLDER README
set -uo pipefail

tool_dir="$(cd "$1" && pwd)"
readme="$2"
root="$(cd "$(dirname "$readme")" && pwd)"

work="$(mktemp -d "${TMPDIR:-/tmp}/korvel-readme-XXXXXX")"
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/user" "$work/home" "$work/run"
export HOME="$work/user"
unset KORVEL_ARCHIVE XDG_DATA_HOME XDG_CONFIG_HOME

if ! KORVEL_DEMO_TOOL="$tool_dir" KORVEL_DEMO_HOME="$work/home" "$root/scripts/demo" >"$work/demo.log" 2>&1; then
  echo "The demo could not make its sample archive:"
  tail -n 40 "$work/demo.log"
  exit 1
fi

export KORVEL_HOME="$work/home"
export PATH="$tool_dir:$PATH"

# One record per command: README line, expected exit code, the command with its continuation
# lines joined. Fields are separated by the unit separator, which no README line contains.
commands() {
  awk '
    /^<!-- not-run -->/ { skip = 1; next }
    !inside && /^```sh[[:space:]]*$/ { inside = 1; run = !skip; skip = 0; pending = ""; next }
    inside && /^```/ { inside = 0; next }
    !inside { if ($0 !~ /^[[:space:]]*$/) skip = 0; next }
    !run { next }
    /\\$/ { pending = pending substr($0, 1, length($0) - 1) " "; next }
    {
      command = pending $0
      pending = ""
      if (command ~ /^[[:space:]]*(#|$)/) next
      expected = 0
      if (match(command, /\(exit [0-9]+\)/)) expected = substr(command, RSTART + 6, RLENGTH - 7)
      printf "%d\037%d\037%s\n", NR, expected, command
    }' "$readme"
}

failures=0
count=0
while IFS=$'\037' read -r line expected command; do
  count=$((count + 1))
  (cd "$work/run" && bash -c "$command") >"$work/output" 2>&1 </dev/null
  status=$?
  if [ "$status" -ne "$expected" ]; then
    failures=$((failures + 1))
    printf 'README.md:%s: exit %s, expected %s: %s\n' "$line" "$status" "$expected" "$command"
    sed 's/^/    /' "$work/output" | head -n 20
  fi
done < <(commands)

if [ "$count" -eq 0 ]; then
  echo "No example was found in $readme."
  exit 1
fi
printf '%d README examples run, %d failed.\n' "$count" "$failures"
[ "$failures" -eq 0 ]
