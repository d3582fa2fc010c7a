# ctest entries for the GoogleTest programs: one per program, and one per test case.
#
# A program still runs once, as its group entry: one Wine start for all its cases (each start costs
# a second or more). gtest_group.sh runs it and leaves test-results/<group>.results in the build
# tree, one line "<outcome> <Suite>.<Case>" per case that ran (outcome: passed, failed, skipped, or
# unfinished when the program ended during the case), taken from the program's XML report, or from
# its output when it ended without writing one. Beside the group, each case has an entry of its own,
# <group>.<Suite>.<Case>, ordered after the group, that only reads its lines (gtest_case.sh, a few
# milliseconds): ctest's summary then names the case that failed. A parameterised case has one entry
# for all its instances.
#
# The cases are found by scanning the test sources when configuring (TEST, TEST_F, TEST_P with the
# prefixes of INSTANTIATE_TEST_SUITE_P); nothing runs under Wine for it. An edit of a scanned
# source configures again, so the entries follow renamed and removed cases. A case the scan misses
# still runs in its group, and the group's output names it.
#
# test-results/<group>.group (a shell snippet: how the program runs) and <group>.cases (one line
# "<Suite>.<Case> <gtest filter> <regular expression>" per case) serve `./run.sh case`.

set(ZELVORA_TEST_RESULTS ${CMAKE_BINARY_DIR}/test-results)
set(ZELVORA_GTEST_SUPPORT ${CMAKE_CURRENT_LIST_DIR})
file(MAKE_DIRECTORY ${ZELVORA_TEST_RESULTS})

# The scripts themselves, on made-up runs (no Wine).
add_test(NAME gtest_case_entries
         COMMAND sh ${ZELVORA_GTEST_SUPPORT}/gtest_cases_test.sh ${CMAKE_BINARY_DIR}/gtest-cases-test)

# Cases of the given sources, as "<Suite>.<Case> <gtest filter> <regular expression for the names
# in the results>" in OUT.
function(zelvora_gtest_scan out)
  set(id "[A-Za-z_][A-Za-z0-9_]*")
  set(sp "[ \t\r\n]*")
  set(tests)
  set(instances)
  foreach(src IN LISTS ARGN)
    file(READ ${src} text)
    # Semicolons would split the matches into list items.
    string(REPLACE ";" " " text "${text}")
    string(REGEX MATCHALL "(^|\n)[ \t]*TEST(_F|_P)?${sp}\\(${sp}${id}${sp},${sp}${id}${sp}\\)" found "${text}")
    list(APPEND tests ${found})
    string(REGEX MATCHALL "(^|\n)[ \t]*INSTANTIATE_TEST_SUITE_P${sp}\\(${sp}${id}${sp},${sp}${id}" found "${text}")
    list(APPEND instances ${found})
  endforeach()

  # Suite -> the prefixes it is instantiated with.
  foreach(inst IN LISTS instances)
    string(REGEX MATCH "\\(${sp}(${id})${sp},${sp}(${id})$" _ "${inst}")
    list(APPEND prefixes_${CMAKE_MATCH_2} ${CMAKE_MATCH_1})
  endforeach()

  set(cases)
  foreach(test IN LISTS tests)
    string(REGEX MATCH "TEST(_F|_P)?${sp}\\(${sp}(${id})${sp},${sp}(${id})" _ "${test}")
    set(kind "${CMAKE_MATCH_1}")
    set(suite "${CMAKE_MATCH_2}")
    set(name "${CMAKE_MATCH_3}")
    if(name MATCHES "^DISABLED_" OR suite MATCHES "^DISABLED_")
      continue()  # gtest does not run them
    endif()
    if(kind STREQUAL "_P")
      # Every instance, under every prefix; with none found, under any prefix (gtest then
      # reports the suite as never instantiated, and the entry finds no result).
      set(filters)
      set(regexes)
      if(NOT prefixes_${suite})
        set(prefixes_${suite} "*")
      endif()
      foreach(prefix IN LISTS prefixes_${suite})
        list(APPEND filters "${prefix}/${suite}.${name}/*")
        string(REPLACE "*" "[[:graph:]]+" prefix_re "${prefix}")
        list(APPEND regexes "${prefix_re}/${suite}\\.${name}/[[:graph:]]+")
      endforeach()
      list(JOIN filters ":" filter)
      list(JOIN regexes "|" regex)
      list(APPEND cases "${suite}.${name} ${filter} (${regex})")
    else()
      list(APPEND cases "${suite}.${name} ${suite}.${name} ${suite}\\.${name}")
    endif()
  endforeach()
  list(REMOVE_DUPLICATES cases)
  set(${out} ${cases} PARENT_SCOPE)
endfunction()

# zelvora_gtest_group(<group> PROGRAM <target> [ARCH x86|x64] [COMMAND <command>...])
# zelvora_gtest_group(<group> NATIVE_PROGRAM <path> SOURCES <files>... COMMAND <command>...)
#
# Registers the ctest entry <group> and the entries of its cases.
#   PROGRAM         the test program's target, a Windows program. Its sources are scanned. Without
#                   COMMAND, ctest runs it under Wine (testenv/winerun), as ./run.sh case does.
#   ARCH            which build of the program runs: x86 (the default, this tree's) or x64 (the same
#                   target of the 64-bit child build, in ZELVORA_BIN_x64, run in that tree's prefix;
#                   same sources, same cases).
#   NATIVE_PROGRAM  a test program built for this machine outside this build tree, from SOURCES.
#   COMMAND         what ctest runs instead, when the program needs more around it (a display, a
#                   build of its own); the program learns where to write its report from
#                   GTEST_OUTPUT in its environment.
# Test properties (fixtures, locks, limits) are set on <group> as for any test.
function(zelvora_gtest_group group)
  cmake_parse_arguments(PARSE_ARGV 1 ARG "" "PROGRAM;NATIVE_PROGRAM;ARCH" "SOURCES;COMMAND")
  if(ARG_PROGRAM)
    set(tree ${CMAKE_BINARY_DIR})
    if(ARG_ARCH AND NOT ARG_ARCH STREQUAL "x86")
      set(program ${ZELVORA_BIN_${ARG_ARCH}}/$<TARGET_FILE_NAME:${ARG_PROGRAM}>)
      set(tree ${ZELVORA_TREE_${ARG_ARCH}})
    else()
      set(program $<TARGET_FILE:${ARG_PROGRAM}>)
    endif()
    set(form wine)
    if(ARG_COMMAND)
      set(kind script)
    else()
      set(kind wine)
      set(ARG_COMMAND ${ZELVORA_WINERUN} ${tree} ${program})
    endif()
    # The sources are read at the end of the directory, when the target has all of them.
    cmake_language(EVAL CODE "cmake_language(DEFER CALL _zelvora_gtest_target_cases [[${group}]] [[${ARG_PROGRAM}]])")
  else()
    set(program ${ARG_NATIVE_PROGRAM})
    set(form native)
    set(kind native)
  endif()

  add_test(NAME ${group} COMMAND sh ${ZELVORA_GTEST_SUPPORT}/gtest_group.sh ${ZELVORA_TEST_RESULTS} ${group} ${form}
                                 ${ARG_COMMAND})
  if(ARG_SOURCES)
    _zelvora_gtest_cases(${group} ${ARG_SOURCES})
  endif()
  # For ./run.sh case: how the program runs.
  list(JOIN ARG_COMMAND "' '" command)
  file(GENERATE OUTPUT ${ZELVORA_TEST_RESULTS}/${group}.group
       CONTENT "kind=${kind}\nprogram='${program}'\ngroup_command() { '${command}' \"$@\"; }\n")
endfunction()

function(_zelvora_gtest_target_cases group target)
  get_target_property(sources ${target} SOURCES)
  get_target_property(source_dir ${target} SOURCE_DIR)
  list(FILTER sources INCLUDE REGEX "\\.(cpp|cc|cxx|h|hpp)$")
  list(TRANSFORM sources PREPEND ${source_dir}/ REGEX "^[^/]")
  _zelvora_gtest_cases(${group} ${sources})
endfunction()

# The case entries of <group>, and its list of cases (for ./run.sh case and the group's check for
# cases without an entry).
function(_zelvora_gtest_cases group)
  zelvora_gtest_scan(cases ${ARGN})
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${ARGN})
  set(listing)
  foreach(c IN LISTS cases)
    string(REPLACE " " ";" c "${c}")
    list(GET c 0 name)
    list(GET c 1 filter)
    list(GET c 2 regex)
    add_test(NAME ${group}.${name}
             COMMAND sh ${ZELVORA_GTEST_SUPPORT}/gtest_case.sh ${ZELVORA_TEST_RESULTS} ${group} "${regex}")
    set_tests_properties(${group}.${name} PROPERTIES DEPENDS ${group} SKIP_RETURN_CODE 77 TIMEOUT 60)
    string(APPEND listing "${name} ${filter} ${regex}\n")
  endforeach()
  file(WRITE ${ZELVORA_TEST_RESULTS}/${group}.cases "${listing}")
endfunction()
