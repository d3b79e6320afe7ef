# End-to-end scenarios: a project built with kestrel and a script that the
# wizard driver runs against its setup under Wine.
set(KESTREL_SCENARIOS ${CMAKE_CURRENT_LIST_DIR})
set(KESTREL_SCENARIO_OUT ${PROJECT_BINARY_DIR}/scenarios)

function(kestrel_scenario script project)
  get_filename_component(name ${script} NAME_WE)
  get_filename_component(base ${project} NAME_WE)
  kestrel_wine_test(NAME scenario.${name}.${base}
    COMMAND ${KESTREL_SCENARIOS}/run-scenario $<TARGET_FILE:kestrel> ${KESTREL_TEST_WINDOWS_BIN} ${KESTREL_TEST_SHARE}/kestrel-stub.exe
            ${KESTREL_SCENARIO_OUT} ${project} ${KESTREL_SCENARIOS}/${script}
    ENVIRONMENT "KESTREL_RECORD=$<TARGET_FILE:kestrel-record>")
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
# Install and uninstall: the machine is as it was.
kestrel_scenario(round-trip.script round-trip.toml)
# The record inside the installed uninstaller, read on the host (record.check).
kestrel_scenario(record.script round-trip.toml)
# Two installations share a library; one type's setup removes the other's
# installation first; the folder of the last installation is offered again.
kestrel_scenario(shared-count.script shared-count.toml)
kestrel_scenario(remove-other.script remove-other.toml)
kestrel_scenario(remember.script remember.toml)
kestrel_scenario(remember-ini.script remember-ini.toml)
