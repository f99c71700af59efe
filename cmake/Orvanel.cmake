# Build helpers. Engine libraries are OBJECT libraries so that the static registration objects in
# every source file are always linked; executables link the whole closure of engine libraries.

# orv_library(Name SOURCES a.cpp ... [DEPS OtherEngineLib ...] [LIBS external ...])
function(orv_library name)
  cmake_parse_arguments(ARG "" "" "SOURCES;DEPS;LIBS" ${ARGN})
  add_library(${name} OBJECT ${ARG_SOURCES})
  # Usage requirements (include dirs, external libraries) flow through the engine deps.
  target_link_libraries(${name} PUBLIC ${ARG_DEPS} ${ARG_LIBS})
  set_property(TARGET ${name} PROPERTY ORV_ENGINE_DEPS ${ARG_DEPS})
endfunction()

# Collects the engine libraries `libs` need, dependencies first, without repeats.
function(_orv_closure out)
  set(result "")
  foreach(lib ${ARGN})
    get_property(deps TARGET ${lib} PROPERTY ORV_ENGINE_DEPS)
    if(deps)
      _orv_closure(sub ${deps})
      list(APPEND result ${sub})
    endif()
    list(APPEND result ${lib})
  endforeach()
  list(REMOVE_DUPLICATES result)
  set(${out} ${result} PARENT_SCOPE)
endfunction()

# orv_link(target EngineLib ...): links the objects of the libraries and of all they depend on.
function(orv_link target)
  _orv_closure(all ${ARGN})
  foreach(lib ${all})
    target_link_libraries(${target} PRIVATE ${lib})
  endforeach()
endfunction()

# The files of a unity-built test binary share units by their order and the batch size, so one file
# added moves the batches: no two of them may define the same file-local name. The check runs before
# the binary compiles, again whenever one of its files changes, and names both files and the name.
function(_orv_check_test_names name)
  find_program(ORV_PYTHON3 python3 HINTS /usr/bin REQUIRED)
  set(unity "")
  foreach(source ${ARGN})
    get_source_file_property(alone ${source} SKIP_UNITY_BUILD_INCLUSION)
    if(NOT alone)
      list(APPEND unity ${source})
    endif()
  endforeach()
  set(stamp ${CMAKE_CURRENT_BINARY_DIR}/${name}_names.stamp)
  set(script ${CMAKE_SOURCE_DIR}/scripts/check-test-names.py)
  add_custom_command(OUTPUT ${stamp}
    COMMAND ${ORV_PYTHON3} ${script} ${stamp} ${unity}
    DEPENDS ${script} ${unity}
    COMMENT "Checking that the files of ${name} define no file-local name twice"
    VERBATIM)
  add_custom_target(${name}Names DEPENDS ${stamp})
  add_dependencies(${name} ${name}Names)
endfunction()

# orv_test(Name SOURCES ... LINK EngineLib ...): a GoogleTest binary whose suites are listed in CTest.
# Every test binary has the one main of tests/Support/TestMain.cpp, which shuts the platform down.
function(orv_test name)
  cmake_parse_arguments(ARG "" "" "SOURCES;LINK;LIBS" ${ARGN})
  if(NOT TARGET OrvTestMain)
    add_library(OrvTestMain OBJECT ${CMAKE_SOURCE_DIR}/tests/Support/TestMain.cpp)
    target_link_libraries(OrvTestMain PUBLIC GTest::gtest)
    # Every test file includes the test framework, whose headers cost about a second a file to
    # compile: one precompiled header serves every test executable.
    # GCC takes a precompiled header only where the defines it was made with match: every test links
    # the platform layer, whose SDL headers ask for _REENTRANT.
    target_precompile_headers(OrvTestMain PRIVATE <gtest/gtest.h>)
    target_compile_definitions(OrvTestMain PRIVATE _REENTRANT)
  endif()
  add_executable(${name} ${ARG_SOURCES})
  set_target_properties(${name} PROPERTIES UNITY_BUILD ON UNITY_BUILD_BATCH_SIZE ${ORV_TEST_UNITY_BATCH})
  _orv_check_test_names(${name} ${ARG_SOURCES})
  orv_link(${name} ${ARG_LINK})
  # A binary with the trace log logs Info and above from before the registrations at load.
  _orv_closure(engine ${ARG_LINK})
  if("Base" IN_LIST engine)
    set(level ${CMAKE_SOURCE_DIR}/tests/Support/TestLogLevel.cpp)
    set_source_files_properties(${level} PROPERTIES SKIP_UNITY_BUILD_INCLUSION ON)
    target_sources(${name} PRIVATE ${level})
  endif()
  target_link_libraries(${name} PRIVATE OrvTestMain GTest::gtest GTest::gmock ${ARG_LIBS})
  target_precompile_headers(${name} REUSE_FROM OrvTestMain)
  # CTest runs a process per suite (cmake/GTestSuites.cmake), listed after each link. Under
  # ThreadSanitizer the tests start through the configuration's emulator. One variable only in the
  # environment: a list would be split. The test main makes the runs headless.
  get_property(emulator TARGET ${name} PROPERTY CROSSCOMPILING_EMULATOR)
  if(ORV_TSAN)
    set(environment "TSAN_OPTIONS=suppressions=${CMAKE_SOURCE_DIR}/tests/tsan.supp")
  else()
    set(environment "LSAN_OPTIONS=suppressions=${CMAKE_SOURCE_DIR}/tests/lsan.supp:print_suppressions=0")
  endif()
  set(suites ${CMAKE_CURRENT_BINARY_DIR}/${name}_suites.cmake)
  add_custom_command(TARGET ${name} POST_BUILD
    BYPRODUCTS ${suites}
    COMMAND ${CMAKE_COMMAND} "-DEXECUTABLE=$<TARGET_FILE:${name}>" "-DEMULATOR=${emulator}"
            "-DWORKING_DIRECTORY=${CMAKE_SOURCE_DIR}" "-DOUTPUT=${suites}"
            "-DENVIRONMENT=${environment}"
            -P ${CMAKE_SOURCE_DIR}/cmake/GTestSuites.cmake
    VERBATIM)
  set(include ${CMAKE_CURRENT_BINARY_DIR}/${name}_include.cmake)
  file(WRITE ${include}
    "if(EXISTS [==[${suites}]==])\n  include([==[${suites}]==])\nelse()\n"
    "  add_test(${name}_NOT_BUILT ${name}_NOT_BUILT)\nendif()\n")
  set_property(DIRECTORY APPEND PROPERTY TEST_INCLUDE_FILES ${include})
endfunction()

# orv_bench(Name SOURCES ... LINK EngineLib ...): a Google Benchmark binary named bench_<Name>.
function(orv_bench name)
  cmake_parse_arguments(ARG "" "" "SOURCES;LINK;LIBS" ${ARGN})
  # Every benchmark binary has the one main of bench/BenchMain.cpp: a failed benchmark or an engine error
  # line fails the binary.
  if(NOT TARGET OrvBenchMain)
    add_library(OrvBenchMain OBJECT ${CMAKE_SOURCE_DIR}/bench/BenchMain.cpp)
    target_link_libraries(OrvBenchMain PUBLIC benchmark::benchmark Base)
  endif()
  add_executable(bench_${name} ${ARG_SOURCES})
  orv_link(bench_${name} Base ${ARG_LINK})
  target_link_libraries(bench_${name} PRIVATE OrvBenchMain benchmark::benchmark ${ARG_LIBS})
endfunction()
