# Builds the Windows side as a cross build of this tree, then puts its
# programs, stamped with their own file length, into share/kestrel.
include(ExternalProject)

set(KESTREL_WINDOWS_BIN ${KESTREL_WINDOWS_DIR}/bin)
ExternalProject_Add(windows
  SOURCE_DIR ${PROJECT_SOURCE_DIR}
  BINARY_DIR ${KESTREL_WINDOWS_DIR}
  CMAKE_GENERATOR ${CMAKE_GENERATOR}
  CMAKE_ARGS
    -DCMAKE_TOOLCHAIN_FILE=${PROJECT_SOURCE_DIR}/cmake/mingw-i686.cmake
    -DCMAKE_BUILD_TYPE=MinSizeRel
  BUILD_ALWAYS ON
  INSTALL_COMMAND ""
  BUILD_BYPRODUCTS ${KESTREL_WINDOWS_BIN}/kestrel-stub.exe ${KESTREL_WINDOWS_BIN}/kestrel-uninstall.exe
  USES_TERMINAL_BUILD ON)

set(KESTREL_STUB ${KESTREL_SHARE_DIR}/kestrel-stub.exe)
add_custom_command(OUTPUT ${KESTREL_STUB}
  COMMAND ${CMAKE_COMMAND} -E make_directory ${KESTREL_SHARE_DIR}
  COMMAND kestrel-stamp ${KESTREL_WINDOWS_BIN}/kestrel-stub.exe ${KESTREL_STUB}
  DEPENDS windows kestrel-stamp ${KESTREL_WINDOWS_BIN}/kestrel-stub.exe
  COMMENT "Stamping the stub with its size")
set(KESTREL_UNINSTALLER ${KESTREL_SHARE_DIR}/kestrel-uninstall.exe)
add_custom_command(OUTPUT ${KESTREL_UNINSTALLER}
  COMMAND ${CMAKE_COMMAND} -E make_directory ${KESTREL_SHARE_DIR}
  COMMAND kestrel-stamp ${KESTREL_WINDOWS_BIN}/kestrel-uninstall.exe ${KESTREL_UNINSTALLER}
  DEPENDS windows kestrel-stamp ${KESTREL_WINDOWS_BIN}/kestrel-uninstall.exe
  COMMENT "Stamping the uninstaller with its size")
add_custom_target(share ALL DEPENDS ${KESTREL_STUB} ${KESTREL_UNINSTALLER})

# Wine runs 32-bit programs only on a machine that runs 32-bit x86 code.
# Where it cannot, the Windows side is built a second time for x86-64 and
# the Wine tests run that build in a 64-bit prefix: the same sources judged
# by the same tests. Setup files always carry the i686 programs above.
execute_process(COMMAND /lib/ld-linux.so.2 --version RESULT_VARIABLE runs_32_bit OUTPUT_QUIET ERROR_QUIET)
if(runs_32_bit STREQUAL "0")
  set(KESTREL_WINE_ARCH win32)
  set(KESTREL_TEST_WINDOWS_BIN ${KESTREL_WINDOWS_BIN})
  set(KESTREL_TEST_SHARE ${KESTREL_SHARE_DIR})
else()
  message(STATUS "This machine runs no 32-bit x86 code: the Wine tests use an x86-64 build")
  set(KESTREL_WINE_ARCH win64)
  set(KESTREL_TEST_WINDOWS_BIN ${PROJECT_BINARY_DIR}/windows64/bin)
  set(KESTREL_TEST_SHARE ${KESTREL_SHARE_DIR}/x86-64)
  ExternalProject_Add(windows64
    SOURCE_DIR ${PROJECT_SOURCE_DIR}
    BINARY_DIR ${PROJECT_BINARY_DIR}/windows64
    CMAKE_GENERATOR ${CMAKE_GENERATOR}
    CMAKE_ARGS
      -DCMAKE_TOOLCHAIN_FILE=${PROJECT_SOURCE_DIR}/cmake/mingw-x86_64.cmake
      -DCMAKE_BUILD_TYPE=MinSizeRel
    BUILD_ALWAYS ON
    INSTALL_COMMAND ""
    BUILD_BYPRODUCTS ${KESTREL_TEST_WINDOWS_BIN}/kestrel-stub.exe ${KESTREL_TEST_WINDOWS_BIN}/kestrel-uninstall.exe
    USES_TERMINAL_BUILD ON)
  foreach(program kestrel-stub kestrel-uninstall)
    add_custom_command(OUTPUT ${KESTREL_TEST_SHARE}/${program}.exe
      COMMAND ${CMAKE_COMMAND} -E make_directory ${KESTREL_TEST_SHARE}
      COMMAND kestrel-stamp ${KESTREL_TEST_WINDOWS_BIN}/${program}.exe ${KESTREL_TEST_SHARE}/${program}.exe
      DEPENDS windows64 kestrel-stamp ${KESTREL_TEST_WINDOWS_BIN}/${program}.exe
      COMMENT "Stamping the x86-64 ${program} for the Wine tests")
  endforeach()
  add_custom_target(share64 ALL DEPENDS ${KESTREL_TEST_SHARE}/kestrel-stub.exe ${KESTREL_TEST_SHARE}/kestrel-uninstall.exe)
endif()
