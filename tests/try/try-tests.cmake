# kestrel try end to end on the stand-in setup of sample_setup.cpp: each
# outcome in throwaway prefixes of its own under build/try (see try-sample).
foreach(case clean leftover failed restart timeout interrupted refusals)
  add_test(NAME try.${case}
    COMMAND ${CMAKE_CURRENT_LIST_DIR}/try-sample ${case} $<TARGET_FILE:kestrel>
            ${KESTREL_WINDOWS_BIN}/kestrel-try-sample.exe ${PROJECT_BINARY_DIR}/try)
  set_tests_properties(try.${case} PROPERTIES TIMEOUT 600 SKIP_RETURN_CODE 77)
endforeach()

# The example product itself, each of its setup types, installed with the
# setup's silent switches and uninstalled with the uninstaller's /SILENT,
# without a trace.
add_test(NAME try.demo COMMAND bash -c "set -e; d=${PROJECT_BINARY_DIR}/try/demo; rm -rf $d
  wine --version >/dev/null 2>&1 || exit 77
  mkdir -p $d/project/bin $d/tmp; cp -r ${PROJECT_SOURCE_DIR}/examples/demo/. $d/project/
  cp ${KESTREL_WINDOWS_BIN}/demo-viewer.exe $d/project/bin/Viewer.exe
  $<TARGET_FILE:kestrel> build $d/project/demo.toml -o $d/DemoSetup.exe
  for type in 0 1; do TMPDIR=$d/tmp $<TARGET_FILE:kestrel> try $d/DemoSetup.exe --type $type; done")
set_tests_properties(try.demo PROPERTIES TIMEOUT 1200 SKIP_RETURN_CODE 77)
