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

# orv_test(Name SOURCES ... LINK EngineLib ...): a GoogleTest binary whose cases are listed in CTest.
# Every test binary has the one main of tests/Support/TestMain.cpp, which shuts the platform down.
function(orv_test name)
  cmake_parse_arguments(ARG "" "" "SOURCES;LINK;LIBS" ${ARGN})
  if(NOT TARGET OrvTestMain)
    add_library(OrvTestMain OBJECT ${CMAKE_SOURCE_DIR}/tests/Support/TestMain.cpp)
    target_link_libraries(OrvTestMain PUBLIC GTest::gtest)
  endif()
  add_executable(${name} ${ARG_SOURCES})
  set_target_properties(${name} PROPERTIES UNITY_BUILD ON UNITY_BUILD_BATCH_SIZE ${ORV_TEST_UNITY_BATCH})
  orv_link(${name} ${ARG_LINK})
  target_link_libraries(${name} PRIVATE OrvTestMain GTest::gtest GTest::gmock ${ARG_LIBS})
  # Every test file includes the test framework, whose headers cost about a second a file to compile.
  target_precompile_headers(${name} PRIVATE <gtest/gtest.h>)
  # One variable only: test discovery splits a list of them. The test main makes the runs headless.
  gtest_discover_tests(${name} WORKING_DIRECTORY ${CMAKE_SOURCE_DIR} DISCOVERY_TIMEOUT 60
                       PROPERTIES ENVIRONMENT "LSAN_OPTIONS=suppressions=${CMAKE_SOURCE_DIR}/tests/lsan.supp:print_suppressions=0")
endfunction()

# orv_bench(Name SOURCES ... LINK EngineLib ...): a Google Benchmark binary named bench_<Name>.
function(orv_bench name)
  cmake_parse_arguments(ARG "" "" "SOURCES;LINK;LIBS" ${ARGN})
  add_executable(bench_${name} ${ARG_SOURCES})
  orv_link(bench_${name} ${ARG_LINK})
  target_link_libraries(bench_${name} PRIVATE benchmark::benchmark benchmark::benchmark_main ${ARG_LIBS})
endfunction()
