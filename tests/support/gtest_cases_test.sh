#!/bin/sh
# Checks gtest_group.sh and gtest_case.sh on made-up program runs: a report as gtest writes it under
# Wine (CR LF, failures in CDATA, a skip, parameterised instances), and a run that crashed before
# writing one. Usage: gtest_cases_test.sh WORK_DIR
set -u
here=$(cd "$(dirname "$0")" && pwd)
dir=$1
rm -rf "$dir"
mkdir -p "$dir"
failed=0
printf '%s\n' 'A.Pass A.Pass A\.Pass' 'A.Fail A.Fail A\.Fail' 'A.Skip A.Skip A\.Skip' 'A.Later A.Later A\.Later' \
  'P.X Q/P.X/* (Q/P\.X/[[:graph:]]+)' >"$dir/g.cases"
printf 'kind=native\nprogram=%s\n' "$dir/program" >"$dir/g.group"

expect() {  # RC REGEX TEXT: the case entry's exit code and a text of its output
  out=$(sh "$here/gtest_case.sh" "$dir" g "$2")
  rc=$?
  case "$rc:$out" in
    "$1:"*"$3"*) ;;
    *) echo "FAILED: $2 gave $rc: $out (wanted $1 and \"$3\")"; failed=1 ;;
  esac
}

tr '|' '\r' >"$dir/report.xml" <<'EOF'
<?xml version="1.0" encoding="UTF-8"?>|
<testsuites tests="5" failures="2" name="AllTests">|
  <testsuite name="A" tests="3">|
    <testcase name="Pass" file="a.cpp" line="1" status="run" result="completed" time="0." classname="A" />|
    <testcase name="Fail" file="a.cpp" line="2" status="run" result="completed" time="0." classname="A">|
      <failure message="a.cpp:3&#x0A;Value of: x" type=""><![CDATA[a.cpp:3|
Value of: x|
  Actual: false]]></failure>|
    </testcase>|
    <testcase name="Skip" file="a.cpp" line="4" status="run" result="skipped" time="0." classname="A">|
      <skipped message="a.cpp:5"><![CDATA[a.cpp:5]]></skipped>|
    </testcase>|
  </testsuite>|
  <testsuite name="Q/P" tests="2">|
    <testcase name="X/0" value_param="1" file="a.cpp" line="6" status="run" result="completed" time="0." classname="Q/P" />|
    <testcase name="X/1" value_param="2" file="a.cpp" line="6" status="run" result="completed" time="0." classname="Q/P">|
      <failure message="a.cpp:7" type=""><![CDATA[a.cpp:7|
second instance]]></failure>|
    </testcase>|
  </testsuite>|
</testsuites>|
EOF
touch "$dir/program"
sh "$here/gtest_group.sh" "$dir" g native sh -c 'cp "$1/report.xml" "$1/g.xml"; exit 1' - "$dir" >/dev/null
[ $? -eq 1 ] || { echo "FAILED: the group's exit code is not the program's"; failed=1; }
expect 0 'A\.Pass' "passed A.Pass"
expect 1 'A\.Fail' "Value of: x"
expect 77 'A\.Skip' "skipped A.Skip"
expect 1 'A\.Later' "no result: the g run did not report this case"
expect 1 '(Q/P\.X/[[:graph:]]+)' "second instance"

# Crashed in A.Fail: no report; A.Pass ran before it.
sh "$here/gtest_group.sh" "$dir" g native sh -c 'printf "[ RUN      ] A.Pass\r\n[       OK ] A.Pass (0 ms)\r\n[ RUN      ] A.Fail\r\n"; exit 5' >/dev/null
expect 0 'A\.Pass' "passed A.Pass"
expect 1 'A\.Fail' "ended during this case"
expect 1 'A\.Later' "it ended during A.Fail"

# The program built again after the run: its results no longer count.
touch -t 200001010000 "$dir/g.results"
expect 1 'A\.Pass' "built again"

[ "$failed" -eq 0 ] && echo "gtest case entries: all checks passed"
exit "$failed"
