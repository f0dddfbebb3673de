#!/usr/bin/env bash
# The scripts as a user first meets them: each answers --help with its usage on standard output
# and exit 0, and refuses what it cannot do (no display, a wrong argument) with a message on
# standard error, in both cases before it installs, builds or copies anything. The tools a
# script would reach for are stubs that note being called.
# Usage: tests/scripts/scripts_test.sh <source directory>
set -uo pipefail
source_dir=$1
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
mkdir "$scratch/stubs"
for tool in cmake ninja cpack ctest apt-get sudo dpkg-query dpkg-deb xvfb-run clang clang++ mkdir cp mv rm; do
  printf '#!/bin/sh\necho %s >>"%s/called"\nexit 1\n' "$tool" "$scratch" >"$scratch/stubs/$tool"
  chmod +x "$scratch/stubs/$tool"
done

failures=0
# script | arguments | exit code | stream (out or err) | text it holds
cases=(
  "test|--help|0|out|Usage: scripts/test [--sanitize]"
  "fuzz|--help|0|out|Usage: scripts/fuzz [N] [target...]"
  "package|--help|0|out|Usage: scripts/package"
  "demo-workdir|--help|0|out|Usage: scripts/demo-workdir [--fresh]"
  "run-demo|--help|0|out|Usage: scripts/run-demo [--fresh]"
  "setup|-h|0|out|Usage: scripts/setup"
  "screenshots|--help|0|out|Usage: scripts/screenshots"
  "run-demo||1|err|there is no display to open the window on"
  "run-demo|--fresh|1|err|ssh -X"
  "test|--sanitise|2|err|test: unknown argument --sanitise (see test --help)"
  "package|--install|2|err|package: takes no arguments, was given --install"
  "screenshots|now|2|err|screenshots: takes no arguments, was given now"
  "demo-workdir|--frsh|2|err|demo-workdir: unknown option --frsh"
  "fuzz|--seconds|2|err|fuzz: N must be a number of seconds, not --seconds"
  "fuzz|10 fuzz_nosuch|2|err|fuzz: no fuzz target fuzz_nosuch"
)
for case in "${cases[@]}"; do
  IFS='|' read -r script arguments want_code stream want_text <<<"$case"
  rm -f "$scratch/called"
  read -ra argv <<<"$arguments"
  env -u DISPLAY -u WAYLAND_DISPLAY PATH="$scratch/stubs:$PATH" \
    bash "$source_dir/scripts/$script" "${argv[@]}" >"$scratch/out" 2>"$scratch/err"
  code=$?
  problems=()
  [ "$code" = "$want_code" ] || problems+=("exit $code, expected $want_code")
  grep -qF -- "$want_text" "$scratch/$stream" || problems+=("std$stream lacks: $want_text")
  other=$([ "$stream" = out ] && echo err || echo out)
  [ -s "$scratch/$other" ] && problems+=("std$other not empty")
  [ -e "$scratch/called" ] && problems+=("ran $(tr '\n' ' ' <"$scratch/called")")
  if [ ${#problems[@]} -gt 0 ]; then
    failures=$((failures + 1))
    echo "FAIL scripts/$script $arguments: ${problems[*]}"
    sed 's/^/  stdout: /' "$scratch/out"
    sed 's/^/  stderr: /' "$scratch/err"
  fi
done
echo "${#cases[@]} cases, $failures failed"
[ "$failures" -eq 0 ]
