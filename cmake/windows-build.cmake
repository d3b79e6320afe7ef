# Builds the Windows side as a cross build of this tree, then puts its
# programs, stamped with their own file length, into share/kestrel.
include(ExternalProject)

# One cross build of the Windows side (target `name`, programs in
# binary_dir/bin), with the stub and the uninstaller stamped into `share`.
function(kestrel_windows_build name toolchain binary_dir share)
  set(bin ${binary_dir}/bin)
  ExternalProject_Add(${name}
    SOURCE_DIR ${PROJECT_SOURCE_DIR}
    BINARY_DIR ${binary_dir}
    CMAKE_GENERATOR ${CMAKE_GENERATOR}
    CMAKE_ARGS
      -DCMAKE_TOOLCHAIN_FILE=${PROJECT_SOURCE_DIR}/cmake/${toolchain}
      -DCMAKE_BUILD_TYPE=MinSizeRel
    BUILD_ALWAYS ON
    INSTALL_COMMAND ""
    BUILD_BYPRODUCTS ${bin}/kestrel-stub.exe ${bin}/kestrel-uninstall.exe ${bin}/kestrel-try-runner.exe
      ${bin}/kestrel-preview-runner.exe
    USES_TERMINAL_BUILD ON)
  foreach(program kestrel-stub kestrel-uninstall)
    add_custom_command(OUTPUT ${share}/${program}.exe
      COMMAND ${CMAKE_COMMAND} -E make_directory ${share}
      COMMAND kestrel-stamp ${bin}/${program}.exe ${share}/${program}.exe
      DEPENDS ${name} kestrel-stamp ${bin}/${program}.exe
      COMMENT "Stamping ${share}/${program}.exe with its size")
  endforeach()
  # The helpers of kestrel try and kestrel preview are copied as they are:
  # they run in a throwaway prefix and never become part of a setup, so
  # they need no stamp.
  foreach(program kestrel-try-runner kestrel-preview-runner)
    add_custom_command(OUTPUT ${share}/${program}.exe
      COMMAND ${CMAKE_COMMAND} -E copy ${bin}/${program}.exe ${share}/${program}.exe
      DEPENDS ${name} ${bin}/${program}.exe)
  endforeach()
  add_custom_target(${name}-share ALL
    DEPENDS ${share}/kestrel-stub.exe ${share}/kestrel-uninstall.exe ${share}/kestrel-try-runner.exe
      ${share}/kestrel-preview-runner.exe)
endfunction()

set(KESTREL_WINDOWS_BIN ${KESTREL_WINDOWS_DIR}/bin)
set(KESTREL_STUB ${KESTREL_SHARE_DIR}/kestrel-stub.exe)
kestrel_windows_build(windows mingw-i686.cmake ${KESTREL_WINDOWS_DIR} ${KESTREL_SHARE_DIR})

# Wine runs 32-bit programs only on a machine that runs 32-bit x86 code.
# Where it cannot, the Windows side is built a second time for x86-64 and
# the Wine tests run that build in a 64-bit prefix: the same sources judged
# by the same tests. Setup files always carry the i686 programs above.
# Wine's 32-bit half (Debian's wine32:i386, whose loader is
# /usr/lib/wine/wine) may be missing where the packages could not be had
# (scripts/bootstrap says so); its loader is asked too.
execute_process(COMMAND /lib/ld-linux.so.2 --version RESULT_VARIABLE runs_32_bit OUTPUT_QUIET ERROR_QUIET)
if(runs_32_bit STREQUAL "0" AND EXISTS /usr/lib/wine/wine64 AND NOT EXISTS /usr/lib/wine/wine)
  message(WARNING "Wine's 32-bit half (wine32:i386) is not installed: the Wine tests use an x86-64 build "
    "and the tests that need 32-bit code are skipped")
  set(runs_32_bit 1)
endif()
if(runs_32_bit STREQUAL "0")
  set(KESTREL_WINE_ARCH win32)
  set(KESTREL_TEST_WINDOWS_BIN ${KESTREL_WINDOWS_BIN})
  set(KESTREL_TEST_SHARE ${KESTREL_SHARE_DIR})
else()
  message(STATUS "This machine runs no 32-bit x86 code: the Wine tests use an x86-64 build")
  set(KESTREL_WINE_ARCH win64)
  set(KESTREL_TEST_WINDOWS_BIN ${PROJECT_BINARY_DIR}/windows64/bin)
  set(KESTREL_TEST_SHARE ${KESTREL_SHARE_DIR}/x86-64)
  kestrel_windows_build(windows64 mingw-x86_64.cmake ${PROJECT_BINARY_DIR}/windows64 ${KESTREL_TEST_SHARE})
endif()
