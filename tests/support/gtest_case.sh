#!/bin/sh
# The ctest entry of one test case: passes or fails by the outcome that the latest run of its
# group recorded (gtest_group.sh); it runs nothing itself.
#   gtest_case.sh RESULTS_DIR GROUP REGEX
# REGEX (extended) matches the names the case ran under: one name, or every instance of a
# parameterised case. Exit code 77 (ctest: skipped) when every instance was skipped.
set -u
dir=$1
group=$2
re=$3
results="$dir/$group.results"
. "$dir/$group.group"

if [ ! -f "$results" ]; then
  echo "no result: the $group run did not report this case (it has not run, or did not finish)"
  exit 1
fi
if [ -f "$program" ] && [ "$program" -nt "$results" ]; then
  echo "no result: $group was built again after its latest run (run it: ctest -R '^$group\$')"
  exit 1
fi
lines=$(grep -E "^[a-z]+ $re\$" "$results")
if [ -z "$lines" ]; then
  ended=$(sed -n 's/^unfinished //p' "$results")
  if [ -n "$ended" ]; then
    echo "no result: the $group run did not report this case; it ended during $ended"
  else
    echo "no result: the $group run did not report this case"
  fi
  exit 1
fi
echo "$lines"
nl='
'
case "$nl$lines" in
  *"${nl}unfinished "*)
    echo "the $group run ended during this case (a crash, a hang or a time-out): see the output of $group"
    exit 1 ;;
  *"${nl}failed "*)
    # The failures as the XML report has them (file:line and message).
    [ -f "$dir/$group.xml" ] && re="^($re)\$" awk '
      /^[ \t]*<testcase / {
        match($0, / classname="[^"]*"/); name = substr($0, RSTART + 12, RLENGTH - 13)
        match($0, / name="[^"]*"/); name = name "." substr($0, RSTART + 7, RLENGTH - 8)
        inside = name ~ ENVIRON["re"]
        next
      }
      /^[ \t]*<\/testcase>/ { inside = 0 }
      inside && /^[ \t]*<failure / { print "--- " name; sub(/.*<!\[CDATA\[/, ""); text = 1 }
      text {
        sub(/\r$/, "")
        if (sub(/\]\]><\/failure>.*/, "")) text = 0
        print
      }' "$dir/$group.xml"
    exit 1 ;;
  *"${nl}passed "*) exit 0 ;;
esac
exit 77
