# The three release archives: the release (both programs, the user README, the release notes, the
# licenses), the
# simulator kit (the programs, the simulator library, usbsim, example scenarios, the kit README,
# the simulator's documentation, the licenses) and the support kit (the recorder, usbsim, the
# support page on recording, the licenses). Included from the top-level CMakeLists.txt for
# the Windows build. This file only says what goes where: it writes
# <build>/packaging/archives.txt, from which scripts/package.sh (`make package`) makes the
# archives with packaging/make-archives.py, and so do the package tests.
#
# Not CPack: its ZIP archives carry the build tree's file times, owners and the time zone, so two
# builds of one commit would never give the same archive.

set(FLASHWRIGHT_PACKAGE_BASE "${PROJECT_NAME}-${PROJECT_VERSION}-win32")
set(FLASHWRIGHT_RELEASE_PACKAGE "${FLASHWRIGHT_PACKAGE_BASE}")
set(FLASHWRIGHT_KIT_PACKAGE "${FLASHWRIGHT_PACKAGE_BASE}-simulator-kit")
set(FLASHWRIGHT_SUPPORT_PACKAGE "${FLASHWRIGHT_PACKAGE_BASE}-support-kit")

# The READMEs carry the version; they are configured into the build tree.
set(packagingSource "${CMAKE_SOURCE_DIR}/packaging")
configure_file("${packagingSource}/release/README.txt"
               "${CMAKE_BINARY_DIR}/packaging/release/README.txt" @ONLY)
configure_file("${packagingSource}/simulator-kit/README.txt"
               "${CMAKE_BINARY_DIR}/packaging/simulator-kit/README.txt" @ONLY)

# One line per file: archive, kind, path in the archive, source (see packaging/make-archives.py).
# "signable" marks the two programs we sign when a key is given; the simulator library is never
# signed, so it can never pass for the vendor's. Both archives take the very same programs.
set(archiveLines "")
function(flashwright_archive_file archive kind entry source)
  set(archiveLines "${archiveLines}${archive}\t${kind}\t${entry}\t${source}\n" PARENT_SCOPE)
endfunction()

# Text files get CRLF line ends, for Notepad. The detection script for device-management systems
# and the inventory snippets go beside the programs, and so into both MSIs.
foreach(archive IN ITEMS "${FLASHWRIGHT_RELEASE_PACKAGE}" "${FLASHWRIGHT_KIT_PACKAGE}")
  flashwright_archive_file("${archive}" signable Flashwright.exe "$<TARGET_FILE:Flashwright>")
  flashwright_archive_file("${archive}" signable flashwright-cli.exe
                           "$<TARGET_FILE:flashwright-cli>")
  flashwright_archive_file("${archive}" text Detect-Flashwright.ps1
                           "${CMAKE_SOURCE_DIR}/deploy/Detect-Flashwright.ps1")
  flashwright_archive_file("${archive}" text Test-FlashwrightStatus.ps1
                           "${CMAKE_SOURCE_DIR}/deploy/Test-FlashwrightStatus.ps1")
  flashwright_archive_file("${archive}" text Flashwright-Status.mof
                           "${CMAKE_SOURCE_DIR}/deploy/Flashwright-Status.mof")
endforeach()
foreach(archive IN ITEMS "${FLASHWRIGHT_RELEASE_PACKAGE}" "${FLASHWRIGHT_KIT_PACKAGE}"
                         "${FLASHWRIGHT_SUPPORT_PACKAGE}")
  flashwright_archive_file("${archive}" text LICENSE.txt "${CMAKE_SOURCE_DIR}/LICENSE")
  flashwright_archive_file("${archive}" text THIRD-PARTY-NOTICES.txt
                           "${CMAKE_SOURCE_DIR}/THIRD-PARTY-NOTICES")
endforeach()
flashwright_archive_file("${FLASHWRIGHT_RELEASE_PACKAGE}" text README.txt
                         "${CMAKE_BINARY_DIR}/packaging/release/README.txt")
# The release notes, for whoever rolls the update out.
flashwright_archive_file("${FLASHWRIGHT_RELEASE_PACKAGE}" text CHANGELOG.txt
                         "${CMAKE_SOURCE_DIR}/CHANGELOG.md")

flashwright_archive_file("${FLASHWRIGHT_KIT_PACKAGE}" program ZRFWUpdateDll.dll
                         "$<TARGET_FILE:ZRFWUpdateDll>")
flashwright_archive_file("${FLASHWRIGHT_KIT_PACKAGE}" program usbsim.exe "$<TARGET_FILE:usbsim>")
flashwright_archive_file("${FLASHWRIGHT_KIT_PACKAGE}" text README.txt
                         "${CMAKE_BINARY_DIR}/packaging/simulator-kit/README.txt")
# The simulator's own documentation, which usbsim --help points to.
flashwright_archive_file("${FLASHWRIGHT_KIT_PACKAGE}" text SIMULATOR.md
                         "${CMAKE_SOURCE_DIR}/sim/README.md")
# The scenarios stay byte for byte as committed: the simulator reads either line end.
file(GLOB scenarios CONFIGURE_DEPENDS "${packagingSource}/scenarios/*.scenario")
foreach(scenario IN LISTS scenarios)
  get_filename_component(scenarioName "${scenario}" NAME)
  flashwright_archive_file("${FLASHWRIGHT_KIT_PACKAGE}" file "scenarios/${scenarioName}"
                           "${scenario}")
endforeach()

# The support kit: what support sends a customer to record a session with (the recorder, which
# the programs bind in the library's place while support's recording switch is on) and what it
# replays one with (usbsim checks a replay and turns a recording into a scenario). The recorder is
# signed with the programs: signed programs bind only a recorder of the same publisher. The MSIs
# carry it too, as their optional Recorder feature.
flashwright_archive_file("${FLASHWRIGHT_SUPPORT_PACKAGE}" signable flashwright-recorder.dll
                         "$<TARGET_FILE:ZRFWUpdateDll_recorder>")
flashwright_archive_file("${FLASHWRIGHT_SUPPORT_PACKAGE}" program usbsim.exe
                         "$<TARGET_FILE:usbsim>")
flashwright_archive_file("${FLASHWRIGHT_SUPPORT_PACKAGE}" text SUPPORT-RECORDING.md
                         "${CMAKE_SOURCE_DIR}/docs/support-recording.md")

file(GENERATE OUTPUT "${CMAKE_BINARY_DIR}/packaging/archives.txt" CONTENT "${archiveLines}")
