# End-to-end scenarios: a project built with kestrel and a script that the
# wizard driver runs against its setup under Wine.
set(KESTREL_SCENARIOS ${CMAKE_CURRENT_LIST_DIR})
set(KESTREL_SCENARIO_OUT ${PROJECT_BINARY_DIR}/scenarios)

# kestrel_scenario(script project [ENVIRONMENT vars...])
function(kestrel_scenario script project)
  cmake_parse_arguments(S "" "" "ENVIRONMENT" ${ARGN})
  get_filename_component(name ${script} NAME_WE)
  get_filename_component(base ${project} NAME_WE)
  kestrel_wine_test(NAME scenario.${name}.${base}
    COMMAND ${KESTREL_SCENARIOS}/run-scenario $<TARGET_FILE:kestrel> ${KESTREL_TEST_WINDOWS_BIN} ${KESTREL_TEST_SHARE}/kestrel-stub.exe
            ${KESTREL_SCENARIO_OUT} ${project} ${KESTREL_SCENARIOS}/${script}
    ENVIRONMENT ${S_ENVIRONMENT})
endfunction()

# Every page, with screenshots, in both modes.
kestrel_scenario(tour.script tour-windowed.toml)
kestrel_scenario(tour.script tour-full-screen.toml)
kestrel_scenario(background.script tour-full-screen.toml)
# Licence or not, one or several setup types, Back from every page.
kestrel_scenario(licence-one-type.script licence-one-type.toml)
kestrel_scenario(plain-one-type.script plain-one-type.toml)
kestrel_scenario(plain-two-types.script plain-two-types.toml)
kestrel_scenario(switch-types.script tour-windowed.toml)
# Cancel, single-page mode, the finish page's offers and errors.
kestrel_scenario(cancel.script plain-one-type.toml)
kestrel_scenario(cancel-progress.script many-files.toml)
kestrel_scenario(single-page.script single-page.toml)
kestrel_scenario(error-report.script error-report.toml)
kestrel_scenario(run-program.script run-program.toml)
kestrel_scenario(run-program-off.script run-program.toml)
kestrel_scenario(document.script document.toml)
# Start-up: a second start, /S with blanks, the restart question.
kestrel_scenario(second-start.script plain-one-type.toml)
kestrel_scenario(source-path.script plain-one-type.toml)
kestrel_scenario(restart.script restart.toml)
# Failures on the way: a full drive, a damaged item, files in use (in the
# installation and the System folder), the Windows 95 family's restart
# list, read-only files and the version and language questions.
kestrel_scenario(full-disk.script full-disk.toml)
kestrel_scenario(full-disk-uninstaller.script full-disk.toml)
kestrel_scenario(damaged-item.script damaged-item.toml)
kestrel_scenario(locked-retry-ignore.script locked.toml)
kestrel_scenario(locked-abort.script locked-abort.toml)
kestrel_scenario(restart-win95.script restart-win95.toml ENVIRONMENT KESTREL_WINE_VERSION=win98)
kestrel_scenario(versions.script versions.toml)
kestrel_scenario(versions-silent.script versions-silent.toml)
