# The sanitizer build (make sanitize, make fuzz): the host side built again
# by clang under AddressSanitizer and UndefinedBehaviorSanitizer, with the
# fuzz targets. It borrows the Windows programs of the main build instead of
# cross-building them a second time, and leaves the Wine tests to that build.
option(KESTREL_SANITIZE "Build the host side under ASan and UBSan, with the fuzz targets" OFF)
set(KESTREL_WINDOWS_FROM "" CACHE PATH "Build folder whose Windows programs to use instead of building them")

if(KESTREL_SANITIZE)
  if(NOT CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
    message(FATAL_ERROR "KESTREL_SANITIZE needs clang (libFuzzer): configure with CC=clang CXX=clang++")
  endif()
  # Every finding stops the program; coverage instrumentation everywhere, so
  # the fuzz targets see into every library they call, but for the standard
  # library (by mangled name): instrumented, filling a large table costs a
  # callback per element and slows the fuzz runs several times over.
  # Named by its content, so that a change of it changes the flags and
  # rebuilds (the compiler does not list the file among the dependencies).
  set(patterns "fun:_ZSt*\nfun:_ZNSt*\nfun:_ZNKSt*\n")
  string(MD5 hash "${patterns}")
  set(ignored ${PROJECT_BINARY_DIR}/coverage-ignorelist-${hash}.txt)
  file(WRITE ${ignored} "${patterns}")
  add_compile_options(-fsanitize=address,undefined,fuzzer-no-link -fsanitize-coverage-ignorelist=${ignored}
    -fno-sanitize-recover=all -fno-omit-frame-pointer -g)
  add_link_options(-fsanitize=address,undefined)
endif()

# share/kestrel and windows/ as links into the other build.
function(kestrel_borrow_windows_programs)
  foreach(dir share/kestrel windows)
    if(NOT EXISTS ${KESTREL_WINDOWS_FROM}/${dir})
      message(FATAL_ERROR "${KESTREL_WINDOWS_FROM}/${dir} is missing: build the main build first (make build)")
    endif()
    get_filename_component(parent ${PROJECT_BINARY_DIR}/${dir} DIRECTORY)
    file(MAKE_DIRECTORY ${parent})
    file(CREATE_LINK ${KESTREL_WINDOWS_FROM}/${dir} ${PROJECT_BINARY_DIR}/${dir} SYMBOLIC)
  endforeach()
endfunction()
