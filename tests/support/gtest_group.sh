#!/bin/sh
# Runs a GoogleTest program, or the command around it, as the group entry of ctest, and records
# the outcome of each of its cases for the case entries (gtest_case.sh).
#   gtest_group.sh RESULTS_DIR GROUP wine|native COMMAND [ARGUMENTS...]
# The program writes its XML report where GTEST_OUTPUT says (a path of drive Z: for a program under
# Wine). RESULTS_DIR/GROUP.results gets one line "<outcome> <Suite>.<Case>" per case. When the
# program ended without a report (a crash, a hang that the guard ended, a time-out), the outcomes
# come from its output instead: the case it was in is "unfinished". The exit code is the command's.
set -u
dir=$1
group=$2
form=$3
shift 3
xml="$dir/$group.xml"
log="$dir/$group.log"
results="$dir/$group.results"
mkdir -p "$dir"
rm -f "$xml" "$log" "$results"
case "$form" in
  wine) GTEST_OUTPUT="xml:Z:$(printf '%s' "$xml" | tr / '\\')" ;;
  *) GTEST_OUTPUT="xml:$xml" ;;
esac
export GTEST_OUTPUT

"$@" >"$log" 2>&1
rc=$?
cat "$log"

if [ -s "$xml" ]; then
  # gtest writes "<testcase name=... classname=...", closed on the same line when the case passed,
  # otherwise followed by <failure>/<skipped> elements and "</testcase>". Under Wine the lines end
  # in CR LF.
  awk '
    function attr(key) {
      if (!match($0, " " key "=\"[^\"]*\"")) return ""
      return substr($0, RSTART + length(key) + 3, RLENGTH - length(key) - 4)
    }
    open != "" {
      if ($0 ~ /^[ \t]*<failure/) outcome = "failed"
      else if ($0 ~ /^[ \t]*<skipped/ && outcome != "failed") outcome = "skipped"
      else if ($0 ~ /^[ \t]*<\/testcase>/) { print outcome, open; open = "" }
      next
    }
    /^[ \t]*<testcase / {
      name = attr("classname") "." attr("name")
      outcome = "passed"
      if ($0 ~ / result="skipped"/) outcome = "skipped"
      if ($0 ~ / status="notrun"/) outcome = "disabled"
      if ($0 ~ /\/>[ \t\r]*$/) print outcome, name
      else open = name
    }' "$xml" >"$results.new"
else
  echo "gtest_group.sh: $group wrote no XML report; the outcomes of its cases come from its output"
  # "[ RUN      ] S.C" starts a case; "[       OK ] S.C (n ms)", "[  FAILED  ] S.C, where ..." and
  # "[  SKIPPED ] S.C" end it.
  awk '
    { sub(/\r$/, "") }
    $1 == "[" && $3 == "]" {
      name = $4
      sub(/,$/, "", name)
      if ($2 == "RUN") { open = name; next }
      if (name != open) next
      if ($2 == "OK") print "passed", name
      else if ($2 == "FAILED") print "failed", name
      else if ($2 == "SKIPPED") print "skipped", name
      open = ""
    }
    END { if (open != "") print "unfinished", open }' "$log" >"$results.new"
fi
mv "$results.new" "$results"

# Cases that ran without an entry of their own (declared in a way the scan does not know, or added
# since the last configure) would pass unnoticed in the summary: name them.
cases="$dir/$group.cases"
if [ -f "$cases" ]; then
  unlisted=$(sed 's/^[^ ]* [^ ]* \(.*\)$/^[a-z]+ \1$/' "$cases" | grep -vEf - "$results")
  if [ -n "$unlisted" ]; then
    echo "gtest_group.sh: these cases of $group have no ctest entry of their own (configure again):"
    echo "$unlisted"
  fi
fi
exit "$rc"
