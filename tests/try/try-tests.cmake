# kestrel try end to end on the stand-in setup of sample_setup.cpp: each
# outcome in throwaway prefixes of its own under build/try (see try-sample).
foreach(case clean leftover failed restart timeout interrupted source refusals)
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

# A Kestrel setup in volumes that takes a file from beside itself and
# writes INI entries there: drive S: is a copy that holds the volume files,
# that file and the INI file that is there, and nothing else; what the
# setup writes on S: is in the report.
add_test(NAME try.volumes COMMAND bash -c "set -e; d=${PROJECT_BINARY_DIR}/try/volumes; rm -rf $d
  wine --version >/dev/null 2>&1 || exit 77
  mkdir -p $d/project/extra $d/out/extra $d/out/unrelated $d/tmp
  head -c 300000 /dev/urandom >$d/project/big.bin; printf beside >$d/project/extra/beside.txt
  cp $d/project/extra/beside.txt $d/out/extra/; printf x >$d/out/unrelated/other.txt
  printf '[Old]\\r\\nKey=kept\\r\\n' >$d/out/existing.ini
  printf '[[type]]\\nuninstall_name = \"Kestrel Volumes Trial\"\\nfolder = \"C:/Kestrel/Volumes Trial\"\\n[[type.files]]\\nsource = \"big.bin\"\\n[[type.files]]\\nsource = \"extra/beside.txt\"\\nto = \"extra\"\\nfrom_source = true\\n' >$d/project/volumes.toml
  printf '[[type.ini]]\\nfile = \"#SourceDir#/existing.ini\"\\nsection = \"Old\"\\nkey = \"Key\"\\nvalue = \"new\"\\nkeep_existing = true\\n[[type.ini]]\\nfile = \"#SourceDir#/new.ini\"\\nsection = \"Trial\"\\nkey = \"Key\"\\nvalue = \"written\"\\nuninstall = \"delete\"\\n' >>$d/project/volumes.toml
  $<TARGET_FILE:kestrel> build $d/project/volumes.toml -o $d/out/Setup.exe --volume-size 128K --level 1
  [ -f $d/out/Setup.D02 ]
  TMPDIR=$d/tmp $<TARGET_FILE:kestrel> try $d/out/Setup.exe --keep >$d/report.txt || { cat $d/report.txt; exit 1; }
  cat $d/report.txt
  grep -qF '+ C:\\Kestrel\\Volumes Trial\\big.bin (300000 bytes)' $d/report.txt
  grep -qF '+ C:\\Kestrel\\Volumes Trial\\extra\\beside.txt (6 bytes)' $d/report.txt
  grep -qF '+ S:\\new.ini [Trial] Key=written' $d/report.txt
  kept=$(sed -n \"s/^The trial's folder stays: \\(.*\\) (the prefix is .*/\\1/p\" $d/report.txt)
  copied=$(cd $kept/source && find . -type f | LC_ALL=C sort | tr '\\n' ' ')
  [ \"$copied\" = \"$(cd $d/out && find . -type f ! -path './unrelated/*' | LC_ALL=C sort | tr '\\n' ' ')\" ]
  case $copied in *Setup.D02*) ;; *) exit 1 ;; esac
  rm -rf $kept")
set_tests_properties(try.volumes PROPERTIES TIMEOUT 600 SKIP_RETURN_CODE 77)

# kestrel preview at 96 and 192 DPI on the project of the dpi scenarios:
# every page's PNG, of the screen's size, the picture scaled by the DPI.
add_test(NAME preview.dpi COMMAND ${PROJECT_SOURCE_DIR}/tests/preview/preview-dpi $<TARGET_FILE:kestrel>
  ${PROJECT_BINARY_DIR}/tools/kestrel-png-check ${PROJECT_SOURCE_DIR}/tests/scenarios/projects/dpi.toml
  ${PROJECT_BINARY_DIR}/preview-dpi ${KESTREL_WINE_ARCH} ${KESTREL_TEST_SHARE})
set_tests_properties(preview.dpi PROPERTIES TIMEOUT 1200 SKIP_RETURN_CODE 77)
