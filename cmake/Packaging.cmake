# Release packaging with CPack: two ZIP archives, the release (both programs and the user README)
# and the
# simulator kit (programs, simulator library, usbsim, example scenarios, kit README).
# Included from the top-level CMakeLists.txt for the Windows build; `cpack` in the build directory
# (scripts/package.sh, `make package`) writes both into <build>/packages.

set(FLASHWRIGHT_PACKAGE_BASE "${PROJECT_NAME}-${PROJECT_VERSION}-win32")
set(FLASHWRIGHT_RELEASE_PACKAGE "${FLASHWRIGHT_PACKAGE_BASE}")
set(FLASHWRIGHT_KIT_PACKAGE "${FLASHWRIGHT_PACKAGE_BASE}-simulator-kit")
set(FLASHWRIGHT_PACKAGE_DIR "${CMAKE_BINARY_DIR}/packages")

# The READMEs carry the version; they are configured into the build tree.
set(packagingSource "${CMAKE_SOURCE_DIR}/packaging")
configure_file("${packagingSource}/release/README.txt"
               "${CMAKE_BINARY_DIR}/packaging/release/README.txt" @ONLY)
configure_file("${packagingSource}/simulator-kit/README.txt"
               "${CMAKE_BINARY_DIR}/packaging/simulator-kit/README.txt" @ONLY)

# Each archive unpacks into a folder named like the archive. The folder is part of the install
# destination because CPack would give both archives the same top-level folder, and unpacking
# them side by side would then put the simulator beside the released program.
# Files are installed by path, not with install(TARGETS): that would add the simulator's import
# library, and every archive must hold exactly the files listed here. Both archives take the
# very same Flashwright.exe.
set(releaseDir "${FLASHWRIGHT_RELEASE_PACKAGE}")
install(PROGRAMS "$<TARGET_FILE:Flashwright>" "$<TARGET_FILE:flashwright-cli>"
        DESTINATION "${releaseDir}" COMPONENT release)
install(FILES "${CMAKE_BINARY_DIR}/packaging/release/README.txt"
        DESTINATION "${releaseDir}" COMPONENT release)

set(kitDir "${FLASHWRIGHT_KIT_PACKAGE}")
install(PROGRAMS "$<TARGET_FILE:Flashwright>" "$<TARGET_FILE:flashwright-cli>"
                 "$<TARGET_FILE:ZRFWUpdateDll>" "$<TARGET_FILE:usbsim>"
        DESTINATION "${kitDir}" COMPONENT simulator-kit)
install(FILES "${CMAKE_BINARY_DIR}/packaging/simulator-kit/README.txt"
        DESTINATION "${kitDir}" COMPONENT simulator-kit)
install(DIRECTORY "${packagingSource}/scenarios/" DESTINATION "${kitDir}/scenarios"
        COMPONENT simulator-kit FILES_MATCHING PATTERN "*.scenario")

set(CPACK_GENERATOR ZIP)
set(CPACK_PACKAGE_NAME "${PROJECT_NAME}")
set(CPACK_PACKAGE_VENDOR "Flashwright developers")
set(CPACK_PACKAGE_VERSION "${PROJECT_VERSION}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Firmware update utility for USB storage bridge devices")
set(CPACK_SYSTEM_NAME win32)
set(CPACK_PACKAGE_FILE_NAME "${FLASHWRIGHT_PACKAGE_BASE}")
set(CPACK_PACKAGE_DIRECTORY "${FLASHWRIGHT_PACKAGE_DIR}")
# One archive per component; the folders come from the install destinations above.
set(CPACK_ARCHIVE_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL release simulator-kit)
set(CPACK_ARCHIVE_RELEASE_FILE_NAME "${FLASHWRIGHT_RELEASE_PACKAGE}")
set(CPACK_ARCHIVE_SIMULATOR-KIT_FILE_NAME "${FLASHWRIGHT_KIT_PACKAGE}")
set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY OFF)
set(CPACK_COMPONENT_INCLUDE_TOPLEVEL_DIRECTORY OFF)
include(CPack)
