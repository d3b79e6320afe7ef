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
