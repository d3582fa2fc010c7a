#!/bin/sh
# Runs one test case alone (./run.sh case):
#   run_case.sh BUILD_DIR [<group>.]<Suite>.<Case> [program arguments...]
# The build tree must be configured and built. The case is looked up in the lists written when
# configuring (test-results/<group>.cases); the set-up entries that ctest runs before the case's
# group (the registered DLL, the virtual devices, the playback media) run first, through ctest;
# then the program runs with only that case. Extra arguments go to the program (--gtest_repeat=N).
set -u
BUILD_DIR=$(cd "$1" && pwd)
name=$2
shift 2
dir="$BUILD_DIR/test-results"

found=$(awk -v n="$name" '
  { g = FILENAME; sub(/.*\//, "", g); sub(/\.cases$/, "", g) }
  $1 == n || g "." $1 == n { print g, $1, $2 }' "$dir"/*.cases)
if [ -z "$found" ]; then
  echo "No test case is named $name. Cases whose names contain it:"
  awk -v n="$name" '
    { g = FILENAME; sub(/.*\//, "", g); sub(/\.cases$/, "", g) }
    index(tolower(g "." $1), tolower(n)) { print "  " g "." $1 }' "$dir"/*.cases | head -n 30
  exit 2
fi
# A program built for both architectures has the group <group> (32-bit) and <group>_x64: a bare
# <Suite>.<Case> names the 32-bit build's case, <group>_x64.<Suite>.<Case> the 64-bit one.
if [ "$(printf '%s\n' "$found" | wc -l)" -gt 1 ]; then
  x86=$(printf '%s\n' "$found" | awk '$1 !~ /_x64$/')
  if [ -n "$x86" ] && [ "$(printf '%s\n' "$x86" | wc -l)" -eq 1 ]; then
    twins=$(printf '%s\n' "$found" | awk -v g="${x86%% *}" '$1 != g && $1 != g "_x64"')
    [ -n "$twins" ] || found=$x86
  fi
fi
if [ "$(printf '%s\n' "$found" | wc -l)" -gt 1 ]; then
  echo "$name is a case of several programs; name one:"
  printf '%s\n' "$found" | awk '{ print "  " $1 "." $2 }'
  exit 2
fi
group=${found%% *}
filter=${found##* }
. "$dir/$group.group"

# The set-up entries: those that ctest adds to a run of the group alone.
setup=$(ctest --test-dir "$BUILD_DIR" -N -R "^$group\$" | sed -n 's/^ *Test *#[0-9]*: //p' | grep -vx "$group")
if [ -n "$setup" ]; then
  setup=$(printf '%s\n' "$setup" | paste -sd '|' -)
  echo "== set-up: $setup"
  setup_log="$dir/run-case-setup.log"
  ctest --test-dir "$BUILD_DIR" -R "^($setup)\$" --output-on-failure >"$setup_log" 2>&1 ||
    { cat "$setup_log"; echo "the set-up failed"; exit 1; }
fi

echo "== $group: $filter"
case "$kind" in
  wine) group_command --gtest_filter="$filter" "$@" ;;
  native)
    # Built by the group's own run (a build tree of its own); brought up to date here.
    if [ ! -x "$program" ]; then
      echo "(first the whole $group run, which configures and builds it)"
      group_command >"$dir/run-case-native.log" 2>&1
    fi
    cmake --build "$(dirname "$program")" --target "$(basename "$program")" >/dev/null || exit 1
    "$program" --gtest_filter="$filter" "$@" ;;
  script)
    echo "(the whole $group script runs, with only this case of its test program)"
    [ $# -eq 0 ] || echo "(the arguments after the case's name are not passed on by the $group script)"
    GTEST_FILTER=$filter group_command ;;
esac
