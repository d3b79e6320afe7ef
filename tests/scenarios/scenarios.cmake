# End-to-end scenarios: a project built with kestrel and a script that the
# wizard driver runs against its setup under Wine.
set(KESTREL_SCENARIOS ${CMAKE_CURRENT_LIST_DIR})
set(KESTREL_SCENARIO_OUT ${PROJECT_BINARY_DIR}/scenarios)

# A 64-bit program for the setups of the 64-bit mode, from the x86-64
# cross compiler where there is one (stage-payload copies it).
find_program(KESTREL_X64_CC x86_64-w64-mingw32-gcc)
set(KESTREL_NATIVE64 "")
if(KESTREL_X64_CC)
  set(KESTREL_NATIVE64 ${PROJECT_BINARY_DIR}/tools/native64.exe)
  add_custom_command(OUTPUT ${KESTREL_NATIVE64}
    COMMAND ${KESTREL_X64_CC} -Os -s -mwindows -o ${KESTREL_NATIVE64} ${PROJECT_SOURCE_DIR}/tests/programs/native64.c
    DEPENDS ${PROJECT_SOURCE_DIR}/tests/programs/native64.c)
  add_custom_target(kestrel-native64 ALL DEPENDS ${KESTREL_NATIVE64})
endif()

# kestrel_scenario(SCRIPT PROJECT [REMOVABLE] [WIN64] [DPI192] [LZMA] [VOLUMES SIZE] [LEVEL N]
#                  [DAMAGE KIND ARGS...] [BUILD ARGS...] [ENVIRONMENT VARS...]):
# with DAMAGE, the built setup is damaged so (see damage.cpp) before the
# script runs; BUILD adds arguments to kestrel build; with VOLUMES, the
# setup is built in volumes that hold the stub and SIZE KiB more (the
# x86-64 stub of the tests is bigger than the shipped one) and the test's
# name ends in .volumes;
# with LEVEL, at that compression level, the name ending in .level-N;
# with LZMA, in the solid LZMA mode, the name ending in .lzma (after
# .volumes with VOLUMES);
# with DPI192, in the prefix of 192 DPI, the name ending in .dpi-192;
# with REMOVABLE, the scenario's folder is drive R:, a removable one (see
# removable-drive); with WIN64, in the 64-bit prefix.
function(kestrel_scenario script project)
  cmake_parse_arguments(PARSE_ARGV 2 arg "REMOVABLE;WIN64;DPI192;LZMA" "VOLUMES;LEVEL" "DAMAGE;BUILD;ENVIRONMENT")
  set(prefix "")
  if(arg_WIN64)
    set(prefix WIN64)
  endif()
  set(runner ${KESTREL_SCENARIOS}/run-scenario)
  if(arg_REMOVABLE)
    set(runner ${KESTREL_SCENARIOS}/removable-drive)
  endif()
  get_filename_component(name ${script} NAME_WE)
  get_filename_component(base ${project} NAME_WE)
  string(REPLACE ";" " " damage "${arg_DAMAGE}")
  set(suffix "")
  set(variant "")
  if(arg_VOLUMES)
    list(APPEND arg_ENVIRONMENT KESTREL_VOLUME_ROOM=${arg_VOLUMES})
    set(suffix .volumes)
    set(variant volumes)
  endif()
  if(arg_LEVEL)
    list(APPEND arg_BUILD --level ${arg_LEVEL})
    set(suffix .level-${arg_LEVEL})
    set(variant level-${arg_LEVEL})
  endif()
  if(arg_LZMA)
    # With VOLUMES too: .volumes.lzma, the variant volumes-lzma.
    list(APPEND arg_BUILD --compression lzma)
    string(APPEND suffix .lzma)
    if(variant)
      string(APPEND variant -lzma)
    else()
      set(variant lzma)
    endif()
  endif()
  if(arg_DPI192)
    set(prefix DPI192)
    set(suffix .dpi-192)
    set(variant dpi-192)
  endif()
  string(REPLACE ";" " " build "${arg_BUILD}")
  kestrel_wine_test(NAME scenario.${name}.${base}${suffix} ${prefix}
    COMMAND ${runner} $<TARGET_FILE:kestrel> ${KESTREL_TEST_WINDOWS_BIN} ${KESTREL_TEST_SHARE}/kestrel-stub.exe
            ${KESTREL_SCENARIO_OUT} ${project} ${KESTREL_SCENARIOS}/${script}
    ENVIRONMENT "KESTREL_DAMAGE=${damage};KESTREL_BUILD_ARGS=${build};KESTREL_VARIANT=${variant};KESTREL_DAMAGE_TOOL=$<TARGET_FILE:kestrel-damage>;KESTREL_RECORD=$<TARGET_FILE:kestrel-record>;KESTREL_NATIVE64=${KESTREL_NATIVE64};${arg_ENVIRONMENT}")
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
kestrel_scenario(abandoned-folder.script plain-one-type.toml)
kestrel_scenario(cancel-progress.script lots-of-files.toml)
# An item compressed in parts on every core, joined into one stream.
kestrel_scenario(big-item.script big-item.toml)
# A 200 MB item: the bar moves within it and Cancel is heard at once.
kestrel_scenario(long-item.script long-item.toml)
kestrel_scenario(single-page.script single-page.toml)
kestrel_scenario(single-page-cancel.script single-page-lots.toml)
kestrel_scenario(error-report.script error-report.toml)
kestrel_scenario(error-report.script error-report.toml LZMA)
kestrel_scenario(run-program.script run-program.toml)
kestrel_scenario(run-program-off.script run-program.toml)
kestrel_scenario(document.script document.toml)
# The Add/Remove entry, the web-site button and the uninstaller's texts.
kestrel_scenario(product-details.script product-details.toml)
# Another writer's block under the product details' id is passed over.
kestrel_scenario(foreign-details.script product-details.toml DAMAGE foreign-details 0)
# Start-up: a second start (also while a hidden one runs), /S with
# blanks, the restart question.
kestrel_scenario(second-start.script plain-one-type.toml)
kestrel_scenario(second-start-hidden.script remove-other.toml)
kestrel_scenario(source-path.script plain-one-type.toml)
kestrel_scenario(restart.script restart.toml)
# Damaged setups: refused with -1 (and text 6/31 where a text can be had;
# so is one without a container template), missing templates and texts
# passed over or shown empty; never a fault.
kestrel_scenario(damaged-truncated.script tour-windowed.toml DAMAGE truncate-config)
kestrel_scenario(damaged-size.script tour-windowed.toml DAMAGE flip-size)
kestrel_scenario(damaged-data.script tour-windowed.toml DAMAGE truncate-data)
kestrel_scenario(damaged-text-list.script tour-windowed.toml DAMAGE cut-text-list 1 6)
kestrel_scenario(damaged-container.script tour-windowed.toml DAMAGE template-past-end 0)
kestrel_scenario(damaged-container.script tour-full-screen.toml DAMAGE zero-templates)
kestrel_scenario(damaged-licence.script tour-windowed.toml DAMAGE template-past-end 3)
kestrel_scenario(missing-texts.script tour-windowed.toml DAMAGE text-count 0 0 1)
# A frame window class that cannot be registered ends the setup with -1.
kestrel_scenario(no-window-class.script plain-one-type.toml)
# A setup started from a removable drive relaunches itself from a copy, in
# a temporary folder whose name has blanks.
kestrel_scenario(relaunch.script plain-one-type.toml REMOVABLE ENVIRONMENT "KESTREL_TEMP=C:\\Relaunch Temp")
# So does a signed one: the copy is its stub alone, the archive read from R:
# ends before the certificate table.
kestrel_scenario(relaunch.script signed.toml REMOVABLE ENVIRONMENT "KESTREL_TEMP=C:\\Relaunch Temp")
# The copy gets every switch of the command line, and the setup ends as
# its copy does.
kestrel_scenario(relaunch-switches.script plain-two-types.toml REMOVABLE)
# The painting: gradient, title shadow, the progress bar before any item;
# screenshots of the layouts with and without pictures.
kestrel_scenario(painting.script gradient-plain.toml)
kestrel_scenario(tour.script tour-gradient.toml)
kestrel_scenario(tour.script tour-picture.toml)
# The wizard on a screen of 96 and of 192 DPI: pictures and title scaled,
# pages within the margins, the focus and Tab on every page.
kestrel_scenario(dpi.script dpi.toml ENVIRONMENT PICTURE_W=62 PICTURE_H=63 SHADOW=4)
kestrel_scenario(dpi.script dpi.toml DPI192 ENVIRONMENT PICTURE_W=126 PICTURE_H=126 SHADOW=8)
# A picture too large to be drawn to scale stays as it was made.
kestrel_scenario(dpi-wide-picture.script dpi-wide-picture.toml DPI192)
kestrel_scenario(few-pages.script bitmap-picture.toml)
# Install and uninstall: the machine is as it was.
kestrel_scenario(round-trip.script round-trip.toml)
# The same for a per-user product, whose programs ask for no administrator rights.
kestrel_scenario(per-user.script per-user.toml)
# For all users or for one, chosen when the setup runs: by /CURRENTUSER,
# and by the question, answered for all users.
kestrel_scenario(choice-current-user.script choice.toml)
kestrel_scenario(choice-all-users.script choice.toml)
# One whose items need the machine installs for all users only.
kestrel_scenario(choice-machine.script choice-machine.toml)
# A new user's first project: the texts name the product, the start-menu
# folders are what the docs say.
kestrel_scenario(new-user.script new-user.toml)
# The record inside the installed uninstaller, read on the host (record.check).
kestrel_scenario(record.script round-trip.toml)
# The same from the smallest setup the builder makes: what its slowest
# compressor writes installs, every item checked against its checksum.
kestrel_scenario(record.script round-trip.toml LEVEL max)
# Two installations share a library; one type's setup removes the other's
# installation first; the folder of the last installation is offered again.
kestrel_scenario(shared-count.script shared-count.toml)
kestrel_scenario(remove-other.script remove-other.toml)
# The other type's removal done in part or for the next start counts as
# done; one that is done is never called nothing changed; an uninstaller
# that does not end is waited for on the page, and Cancel ends the wait.
kestrel_scenario(remove-other-restart.script remove-other.toml)
kestrel_scenario(remove-other-cancel.script remove-other.toml)
kestrel_scenario(remove-other-partial.script remove-other-left.toml)
kestrel_scenario(remove-other-stuck.script remove-other-left.toml)
kestrel_scenario(remember.script remember.toml)
kestrel_scenario(remember-ini.script remember-ini.toml)
# Failures on the way: a full drive (also for the backup of a replaced
# file), a replaced file that may not change, a damaged item, files in use
# (in the installation and the System folder), the Windows 95 family's restart
# list, read-only files and the version and language questions.
kestrel_scenario(full-disk.script full-disk.toml)
kestrel_scenario(full-disk-uninstaller.script full-disk.toml)
kestrel_scenario(backup-full-disk.script backup.toml)
kestrel_scenario(backup-denied.script backup.toml)
kestrel_scenario(damaged-item.script damaged-item.toml)
kestrel_scenario(locked-retry-ignore.script locked.toml)
kestrel_scenario(locked-abort.script locked-abort.toml)
kestrel_scenario(restart-win95.script restart-win95.toml ENVIRONMENT KESTREL_WINE_VERSION=win98)
kestrel_scenario(versions.script versions.toml)
kestrel_scenario(versions-silent.script versions-silent.toml)
# Setups in volumes: items that share their content are installed whatever
# volume the installation has reached; the round trip's project (installed,
# its record read and removed again, which leaves the prefix as it was) and
# the version questions read volumes as they read one file.
kestrel_scenario(volume-shared.script volume-shared.toml VOLUMES 30)
kestrel_scenario(record.script round-trip.toml VOLUMES 30)
kestrel_scenario(versions.script versions.toml VOLUMES 30)
# The uninstaller removes what the installation wrote and nothing else:
# from a subfolder, over two setup types in one folder, once only, leaving
# what was there before; it takes back the settings marked for it and
# leaves files in use to the next start of Windows. A record that does not
# fit on the drive fails the installation.
kestrel_scenario(uninstaller-subfolder.script uninstaller-subfolder.toml)
kestrel_scenario(one-folder.script one-folder.toml)
kestrel_scenario(second-run.script second-run.toml)
kestrel_scenario(kept-files.script kept-files.toml)
kestrel_scenario(settings-removal.script settings-removal.toml)
kestrel_scenario(path-entry.script path-entry.toml)
kestrel_scenario(in-use.script in-use.toml)
kestrel_scenario(full-disk-record.script full-disk-record.toml)
kestrel_scenario(full-disk-ini.script full-disk-ini.toml)
# The example product leaves nothing behind.
kestrel_scenario(demo-round-trip.script demo.toml)
# The example product's languages, each under the locale that gives Wine
# its UI language and code page (LC_ALL too: where the locale is not
# installed, Wine takes it from LC_ALL alone); /LANG= under an English one.
kestrel_scenario(lang-en.script demo.toml ENVIRONMENT LANG=en_US.UTF-8 LC_ALL=en_US.UTF-8)
kestrel_scenario(lang-de.script demo.toml ENVIRONMENT LANG=de_DE.UTF-8 LC_ALL=de_DE.UTF-8)
kestrel_scenario(lang-ru.script demo.toml ENVIRONMENT LANG=ru_RU.UTF-8 LC_ALL=ru_RU.UTF-8)
kestrel_scenario(lang-ja.script demo.toml ENVIRONMENT LANG=ja_JP.UTF-8 LC_ALL=ja_JP.UTF-8)
# The example product signed with osslsigncode: the signature verifies, and
# the signed setup installs, with its uninstaller signed and the record
# beside it, accumulates, fails whole and uninstalls (see signed-demo).
kestrel_wine_test(NAME scenario.signed-uninstaller
  COMMAND ${KESTREL_SCENARIOS}/signed-demo $<TARGET_FILE:kestrel> ${KESTREL_TEST_WINDOWS_BIN}
          ${KESTREL_TEST_SHARE}/kestrel-stub.exe ${KESTREL_SCENARIO_OUT} ${PROJECT_SOURCE_DIR}
          ${KESTREL_SCENARIOS}/signed-uninstaller.script)
# Taken back: a cancel partway with replaced files, shared counts, a font
# and a desktop shortcut; a file in use that stays for the uninstaller;
# a close while installing asks like Cancel; End task ends the setup; a
# give-up at the disk prompt; another type's uninstaller that fails or is
# registered in quotes; a file that can be deleted but not replaced.
kestrel_scenario(rollback-cancel.script rollback.toml)
# The setup ended by force at thirty points of its run, each time taken
# back by the next run.
kestrel_scenario(crash-replace.script crash-replace.toml)
kestrel_scenario(crash-question.script crash-replace.toml)
kestrel_scenario(crash-before-uninstall.script crash-replace.toml)
kestrel_scenario(crash-uninstall.script crash-uninstall.toml)
kestrel_scenario(crash-many.script crash-many.toml)
set_tests_properties(scenario.crash-many.crash-many PROPERTIES TIMEOUT 900)
kestrel_scenario(rollback-in-use.script many-files.toml)
kestrel_scenario(rollback-close.script rollback.toml)
kestrel_scenario(end-task.script plain-one-type.toml)
kestrel_scenario(wizard-log.script plain-one-type.toml)
kestrel_scenario(disk-give-up.script many-files.toml BUILD --volume-size 250K)
kestrel_scenario(remove-other-failed.script remove-other.toml)
kestrel_scenario(remove-other-quoted.script remove-other.toml)
kestrel_scenario(locked-deletable.script deletable.toml)
kestrel_scenario(locked-deletable-win95.script deletable.toml ENVIRONMENT KESTREL_WINE_VERSION=win98)
# Unattended installs: the switches, the log and every exit code.
kestrel_scenario(silent-demo.script demo.toml)
kestrel_scenario(silent-window.script lots-of-files.toml)
kestrel_scenario(silent-restart.script restart.toml)
kestrel_scenario(silent-locked.script locked-abort.toml)
# An upgrade that meets the product's program running is taken back whole.
kestrel_scenario(running-upgrade.script upgrade.toml)
# An upgrade given up with a file it added in use: the earlier record
# that the rollback puts back names that file.
kestrel_scenario(upgrade-in-use.script upgrade.toml)
# One product across its versions (setup.product_id): repair, upgrade,
# downgrade refused and allowed, the running program closed, one
# Add/Remove entry, and an uninstall that leaves nothing.
kestrel_scenario(product-versions.script product-v1.toml)
kestrel_scenario(silent-damaged-item.script damaged-item.toml)
kestrel_scenario(silent-damaged-archive.script tour-windowed.toml DAMAGE truncate-config)
# A setup file that cannot be opened again for the installation fails it;
# a single-page setup ends on its own when nobody is there to end it.
kestrel_scenario(unopenable-setup.script remove-other.toml)
kestrel_scenario(silent-single-page.script single-page.toml)
# The 64-bit mode: an x64 setup in a 64-bit Windows installs its 64-bit
# program into the native Program Files and System folders and writes its
# keys in the 64-bit view, and its uninstaller takes everything back from
# there; in a 32-bit Windows it installs nothing and ends with 1633.
kestrel_scenario(native64.script native64.toml WIN64)
# The same mode in a setup that lets its user choose: per user the user's
# folder and HKCU, for all users the native folders and HKLM's 64-bit view.
kestrel_scenario(choice64.script choice64.toml WIN64)
# The 32-bit prefix is a 64-bit one where Wine has no 32-bit half.
if(NOT KESTREL_WINE_ARCH STREQUAL "win64")
  kestrel_scenario(native64-refused.script native64.toml)
endif()

# The solid LZMA mode: the demo installs byte for byte, in one file and in
# volumes (its stream starts in the setup file and goes on in the volume);
# a kept file's bytes are passed over in the stream; a cancel in the middle
# takes everything back; the disk prompt in the middle of the stream, given
# up, takes everything back; a damaged stream fails its item and the
# installation is taken back, never a fault.
kestrel_scenario(lzma-demo.script demo.toml LZMA)
kestrel_scenario(lzma-demo.script demo.toml LZMA VOLUMES 44)
kestrel_scenario(kept-files.script kept-files.toml LZMA)
kestrel_scenario(cancel-progress.script lots-of-files.toml LZMA)
kestrel_scenario(disk-give-up.script many-files.toml LZMA BUILD --volume-size 250K)
kestrel_scenario(lzma-damaged.script damaged-item.toml LZMA DAMAGE flip-solid 0)
