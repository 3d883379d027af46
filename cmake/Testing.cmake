# GoogleTest for both builds: Debian's package natively, the shipped sources
# cross-compiled for Windows.
if(NOT KF_BUILD_TESTS)
  return()
endif()
enable_testing()
if(CMAKE_CROSSCOMPILING)
  set(gtest_disable_pthreads OFF CACHE BOOL "" FORCE)
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL SYSTEM)
else()
  find_package(GTest REQUIRED)
endif()
include(GoogleTest)
# The files tests write (cli_test::TempPath) stay in their build tree, apart
# from those of another tree whose tests run at the same time.
set(KF_TEST_FILES ${CMAKE_BINARY_DIR}/test-files)
file(MAKE_DIRECTORY ${KF_TEST_FILES})

# kf_add_test(NAME [CONSOLE] SOURCES... LIBS ...): one gtest executable; ctest
# runs every case in a process of its own, so process-wide transport state
# starts clean. CONSOLE: cases that need a console; under Wine the program
# runs whole, in one (tools/wine-console).
function(kf_add_test name)
  cmake_parse_arguments(T "CONSOLE" "" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${T_SOURCES})
  # Tests are not layered: they include their helpers by their source paths.
  target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR})
  target_link_libraries(${name} PRIVATE ${T_LIBS} GTest::gtest_main GTest::gmock)
  if(T_CONSOLE AND CMAKE_CROSSCOMPILING)
    add_test(NAME ${name} COMMAND ${PROJECT_SOURCE_DIR}/tools/wine-console ${CMAKE_CURRENT_BINARY_DIR}/${name}.log
             ${CMAKE_CROSSCOMPILING_EMULATOR} $<TARGET_FILE:${name}>)
    set_tests_properties(${name} PROPERTIES ENVIRONMENT "TMPDIR=${KF_TEST_FILES}")
  else()
    gtest_discover_tests(${name} DISCOVERY_MODE PRE_TEST DISCOVERY_TIMEOUT 60
                         PROPERTIES ENVIRONMENT "TMPDIR=${KF_TEST_FILES}")
  endif()
endfunction()
