# Lists a GoogleTest executable's suites and writes one CTest test per suite into OUTPUT.
# Run after each link (cmake -P), with EXECUTABLE, EMULATOR (may be empty), WORKING_DIRECTORY,
# ENVIRONMENT and OUTPUT set.
#
# A process per suite rather than per case: most cases take milliseconds, and starting a sanitized
# executable costs more than that, so the per-case runs spent most of the test time starting up. A
# failing suite still names its failing cases in its output.

execute_process(
  COMMAND ${EMULATOR} "${EXECUTABLE}" --gtest_list_tests
  WORKING_DIRECTORY "${WORKING_DIRECTORY}"
  TIMEOUT 60
  OUTPUT_VARIABLE listing
  ERROR_VARIABLE errors
  RESULT_VARIABLE result)
if(NOT result EQUAL 0)
  file(REMOVE "${OUTPUT}")
  message(FATAL_ERROR "Listing the tests of ${EXECUTABLE} failed (${result}):\n${errors}")
endif()

# Suite lines start in the first column ("Suite." or "Prefix/Suite/0.  # TypeParam = ..."); their
# cases follow indented. Semicolons would split CMake lists: none belong to a suite's name.
string(REPLACE ";" " " listing "${listing}")
string(REPLACE "\n" ";" lines "${listing}")
set(script "")
set(count 0)
foreach(line IN LISTS lines)
  if(line MATCHES "^([^ #]+)\\.( |$)")
    set(suite "${CMAKE_MATCH_1}")
    if(suite MATCHES "(^|/)DISABLED_")
      continue()
    endif()
    string(APPEND script
      "add_test([==[${suite}]==] ${EMULATOR} [==[${EXECUTABLE}]==] [==[--gtest_filter=${suite}.*]==])\n"
      "set_tests_properties([==[${suite}]==] PROPERTIES WORKING_DIRECTORY [==[${WORKING_DIRECTORY}]==]"
      " ENVIRONMENT [==[${ENVIRONMENT}]==])\n")
    math(EXPR count "${count} + 1")
  endif()
endforeach()
if(count EQUAL 0)
  file(REMOVE "${OUTPUT}")
  message(FATAL_ERROR "${EXECUTABLE} lists no test suites")
endif()
file(WRITE "${OUTPUT}" "${script}")
