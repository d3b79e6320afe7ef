# Tests that run Windows programs under Wine. One fresh private prefix (and
# Xvfb when there is no display) per test run, as a CTest fixture.
set(KESTREL_WINE_STATE ${PROJECT_BINARY_DIR}/wine)
set(KESTREL_RUN_WINE ${CMAKE_CURRENT_LIST_DIR}/run-wine)

# kestrel_wine_prefix(name state environment): the fixture `name` that
# sets up a private prefix in `state` with the environment given, and takes
# it down at the end.
function(kestrel_wine_prefix name state environment)
  add_test(NAME ${name}.setup COMMAND ${CMAKE_CURRENT_FUNCTION_LIST_DIR}/prefix setup ${state})
  add_test(NAME ${name}.cleanup COMMAND ${CMAKE_CURRENT_FUNCTION_LIST_DIR}/prefix cleanup ${state})
  set_tests_properties(${name}.setup PROPERTIES FIXTURES_SETUP ${name} TIMEOUT 300 RESOURCE_LOCK wine
    ENVIRONMENT "${environment}")
  set_tests_properties(${name}.cleanup PROPERTIES FIXTURES_CLEANUP ${name} RESOURCE_LOCK wine
    ENVIRONMENT "${environment}")
endfunction()

kestrel_wine_prefix(wine ${KESTREL_WINE_STATE} "KESTREL_WINE_ARCH=${KESTREL_WINE_ARCH}")

# A 64-bit prefix beside it, for the setups of the 64-bit mode; made only
# when a test asks for it (WIN64 below).
set(KESTREL_WINE64_STATE ${PROJECT_BINARY_DIR}/wine64)
kestrel_wine_prefix(wine64 ${KESTREL_WINE64_STATE} "KESTREL_WINE_ARCH=win64")

# One more, whose screen has 192 DPI and the size of such a display, for
# the wizard at high DPI; made only when a test asks for it (DPI192 below).
set(KESTREL_WINE192_STATE ${PROJECT_BINARY_DIR}/wine-192dpi)
kestrel_wine_prefix(wine192 ${KESTREL_WINE192_STATE}
  "KESTREL_WINE_ARCH=${KESTREL_WINE_ARCH};KESTREL_WINE_DPI=192;KESTREL_WINE_SCREEN=2048x1536x24")

# kestrel_wine_test(NAME name COMMAND program args... [WIN64|DPI192] [ENVIRONMENT vars...]):
# with WIN64 in the 64-bit prefix, with DPI192 in the one of 192 DPI.
function(kestrel_wine_test)
  cmake_parse_arguments(T "WIN64;DPI192" "NAME" "COMMAND;ENVIRONMENT" ${ARGN})
  set(fixture wine)
  set(state ${KESTREL_WINE_STATE})
  set(arch ${KESTREL_WINE_ARCH})
  if(T_WIN64)
    set(fixture wine64)
    set(state ${KESTREL_WINE64_STATE})
    set(arch win64)
  endif()
  if(T_DPI192)
    set(fixture wine192)
    set(state ${KESTREL_WINE192_STATE})
  endif()
  add_test(NAME ${T_NAME} COMMAND ${T_COMMAND})
  set_tests_properties(${T_NAME} PROPERTIES
    FIXTURES_REQUIRED ${fixture} RESOURCE_LOCK wine TIMEOUT 300 SKIP_RETURN_CODE 77
    ENVIRONMENT "KESTREL_WINE_STATE=${state};KESTREL_WINE_ARCH=${arch};${T_ENVIRONMENT}")
endfunction()

include(${PROJECT_SOURCE_DIR}/tests/win32/tests.cmake)
foreach(test ${KESTREL_WIN32_TESTS})
  kestrel_wine_test(NAME win32.${test} COMMAND ${KESTREL_RUN_WINE} ${KESTREL_TEST_WINDOWS_BIN}/${test}.exe
    ENVIRONMENT "KESTREL_FULL_DRIVE=K")
endforeach()
kestrel_wine_test(NAME win32.platform_win98
  COMMAND ${KESTREL_RUN_WINE} ${KESTREL_TEST_WINDOWS_BIN}/platform_win32_test.exe --gtest_filter=Family.*
  ENVIRONMENT "KESTREL_WINE_VERSION=win98;KESTREL_EXPECT_FAMILY=95")

# The real stub starts: with nothing appended it ends at once with -1.
kestrel_wine_test(NAME stub.starts_and_refuses_empty_archive
  COMMAND ${CMAKE_CURRENT_LIST_DIR}/expect-exit 255 ${KESTREL_RUN_WINE} ${KESTREL_TEST_SHARE}/kestrel-stub.exe)

# The stub and the uninstaller restrict the library search before they do
# anything else (library-search-first traces their calls).
kestrel_wine_test(NAME stub.restricts_library_search_first
  COMMAND ${CMAKE_CURRENT_LIST_DIR}/library-search-first ${KESTREL_TEST_SHARE}/kestrel-stub.exe)
kestrel_wine_test(NAME uninstaller.restricts_library_search_first
  COMMAND ${CMAKE_CURRENT_LIST_DIR}/library-search-first ${KESTREL_TEST_SHARE}/kestrel-uninstall.exe /X)

# The stub's start-up code: constructors, WinMain's arguments, the exit code.
kestrel_wine_test(NAME stub.startup_code
  COMMAND ${CMAKE_CURRENT_LIST_DIR}/expect-exit 0 ${KESTREL_RUN_WINE} ${KESTREL_TEST_WINDOWS_BIN}/kestrel-startup-check.exe)
