# flashwright_add_version_record(<target> <file name> <description>): a version record for a
# library or tool that ships beside the programs, so that an installer replaces it by version
# (the programs have their own, with icon and manifest, in programs/res/).
include_guard(GLOBAL)

function(flashwright_add_version_record target fileName description)
  string(REPLACE "." ", " versionNumbers "${PROJECT_VERSION}")
  string(REPLACE "." ", " productNumbers "${FLASHWRIGHT_PRODUCT_VERSION}")
  set(versionTarget "${target}")
  set(versionFile "${fileName}")
  set(versionDescription "${description}")
  if(fileName MATCHES "\\.dll$")
    set(versionFileType VFT_DLL)
  else()
    set(versionFileType VFT_APP)
  endif()
  set(script "${CMAKE_CURRENT_BINARY_DIR}/version/${target}.rc")
  configure_file("${CMAKE_SOURCE_DIR}/cmake/VersionRecord.rc.in" "${script}" @ONLY)
  target_sources(${target} PRIVATE "${script}")
endfunction()
