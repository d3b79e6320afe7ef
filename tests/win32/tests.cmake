# The Win32 test programs: every <name>_test.cpp here, each run under Wine.
file(GLOB KESTREL_WIN32_TEST_SOURCES CONFIGURE_DEPENDS ${CMAKE_CURRENT_LIST_DIR}/*_test.cpp)
set(KESTREL_WIN32_TESTS)
foreach(source ${KESTREL_WIN32_TEST_SOURCES})
  get_filename_component(name ${source} NAME_WE)
  list(APPEND KESTREL_WIN32_TESTS ${name})
endforeach()
