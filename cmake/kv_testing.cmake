# GoogleTest built from source with this project's compiler, and kv_add_test().
if(KV_BUILD_TESTS AND WIN32)
  set(gtest_force_shared_crt ON CACHE BOOL "" FORCE)
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  set(BUILD_GMOCK ON CACHE BOOL "" FORCE)
  if(EXISTS ${KV_GTEST_DIR}/CMakeLists.txt)
    add_subdirectory(${KV_GTEST_DIR} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
  else()
    find_package(GTest REQUIRED)
    add_library(gtest_main ALIAS GTest::Main)
    add_library(gmock ALIAS GTest::gmock)
  endif()
  enable_testing()
endif()

# kv_add_test(name SOURCES a.cpp ... LIBS kv_x ... [FIXTURES f ...] [TIMEOUT s])
# One test program per subsystem area, run as one CTest test (under Wine when cross-compiling).
function(kv_add_test name)
  if(NOT (KV_BUILD_TESTS AND WIN32))
    return()
  endif()
  cmake_parse_arguments(T "" "TIMEOUT" "SOURCES;LIBS;FIXTURES" ${ARGN})
  add_executable(${name} ${T_SOURCES})
  target_link_libraries(${name} PRIVATE ${T_LIBS} gmock gtest_main)
  target_include_directories(${name} PRIVATE ${CMAKE_SOURCE_DIR}/src ${CMAKE_SOURCE_DIR}/tests)
  add_test(NAME ${name} COMMAND ${name} --gtest_brief=1)
  if(NOT T_TIMEOUT)
    set(T_TIMEOUT 300)
  endif()
  set_tests_properties(${name} PROPERTIES TIMEOUT ${T_TIMEOUT}
    ENVIRONMENT "KV_SOURCE_DIR=${CMAKE_SOURCE_DIR};KV_BINARY_DIR=${CMAKE_BINARY_DIR};KV_TESTSERVER_DIR=${CMAKE_BINARY_DIR}/testserver;${KV_TEST_DISPLAY_ENV}"
    FIXTURES_REQUIRED "wineprefix;test_display;${T_FIXTURES}")
endfunction()

# The shared display of the test programs (an Xvfb with openbox, tests/support/test_display.py)
# and their shared Wine prefix, each a CTest fixture, so their costs show on lines of their
# own. Xvfb picks the display number itself; wine-run.sh reads it from KV_DISPLAY_FILE.
if(KV_BUILD_TESTS AND WIN32 AND CMAKE_CROSSCOMPILING)
  find_package(Python3 REQUIRED COMPONENTS Interpreter)
  set(KV_TEST_DISPLAY_DIR ${CMAKE_BINARY_DIR}/test-display)
  set(KV_TEST_DISPLAY_ENV "KV_DISPLAY_FILE=${KV_TEST_DISPLAY_DIR}/display")
  set(kv_display_script ${CMAKE_SOURCE_DIR}/tests/support/test_display.py)
  add_test(NAME test_display_start COMMAND ${Python3_EXECUTABLE} -B ${kv_display_script} start ${KV_TEST_DISPLAY_DIR})
  add_test(NAME test_display_stop COMMAND ${Python3_EXECUTABLE} -B ${kv_display_script} stop ${KV_TEST_DISPLAY_DIR})
  set_tests_properties(test_display_start PROPERTIES FIXTURES_SETUP test_display)
  set_tests_properties(test_display_stop PROPERTIES FIXTURES_CLEANUP test_display)

  set(kv_wine_run ${CMAKE_SOURCE_DIR}/tools/wine-run.sh --prefix ${CMAKE_BINARY_DIR}/wineprefix)
  add_test(NAME wineprefix_create COMMAND ${kv_wine_run} --create)
  add_test(NAME wineprefix_stop COMMAND ${kv_wine_run} --stop)
  set_tests_properties(wineprefix_create PROPERTIES FIXTURES_SETUP wineprefix FIXTURES_REQUIRED test_display
    ENVIRONMENT "${KV_TEST_DISPLAY_ENV}" TIMEOUT 300)
  set_tests_properties(wineprefix_stop PROPERTIES FIXTURES_CLEANUP wineprefix)
  set_tests_properties(test_display_stop PROPERTIES DEPENDS wineprefix_stop)
endif()

# The loopback test server (tools/testserver) as the CTest fixture "testserver": started
# before and stopped after the tests that name it; its test CA is trusted in the test prefix
# meanwhile. Tests find it through KV_TESTSERVER_DIR (tests/support/test_server.h).
if(KV_BUILD_TESTS AND WIN32)
  set(KV_TESTSERVER_DIR ${CMAKE_BINARY_DIR}/testserver)
  add_library(kv_testsupport STATIC ${CMAKE_SOURCE_DIR}/tests/support/test_server.cpp)
  target_include_directories(kv_testsupport PUBLIC ${CMAKE_SOURCE_DIR}/src ${CMAKE_SOURCE_DIR}/tests)
  target_link_libraries(kv_testsupport PUBLIC kv_json ws2_32)
  add_dependencies(kv_testsupport kv_trustca)  # the fixture runs it before any test

  add_executable(kv_trustca ${CMAKE_SOURCE_DIR}/tools/testserver/trustca.cpp)
  target_link_libraries(kv_trustca PRIVATE crypt32)
  if(MINGW)
    target_link_options(kv_trustca PRIVATE -municode)
  endif()

  set(kv_ctl ${CMAKE_SOURCE_DIR}/tools/testserver/ctl.sh)
  add_test(NAME testserver_start COMMAND bash ${kv_ctl} start ${KV_TESTSERVER_DIR})
  add_test(NAME testserver_trust COMMAND kv_trustca add Z:${KV_TESTSERVER_DIR}/tls/ca.der)
  add_test(NAME testserver_untrust COMMAND kv_trustca remove Z:${KV_TESTSERVER_DIR}/tls/ca.der)
  add_test(NAME testserver_stop COMMAND bash ${kv_ctl} stop ${KV_TESTSERVER_DIR})
  set_tests_properties(testserver_start testserver_trust PROPERTIES FIXTURES_SETUP testserver)
  set_tests_properties(testserver_trust testserver_untrust PROPERTIES FIXTURES_REQUIRED "wineprefix;test_display"
    ENVIRONMENT "${KV_TEST_DISPLAY_ENV}")
  set_tests_properties(testserver_untrust testserver_stop PROPERTIES FIXTURES_CLEANUP testserver)
  set_tests_properties(testserver_trust PROPERTIES DEPENDS testserver_start)
  set_tests_properties(testserver_stop PROPERTIES DEPENDS testserver_untrust)
  add_test(NAME testserver_rules COMMAND python3 -B -m unittest discover
    -s ${CMAKE_SOURCE_DIR}/tools/testserver -p "test_*.py")
endif()
