# Run by CPack once it has made the packages, before it copies them to where
# they go: SHA256SUMS there, in the form `sha256sum -c SHA256SUMS` checks,
# naming only the packages of this run.
set(destination "${CPACK_OUTPUT_FILE_PREFIX}")
if(NOT destination)
  set(destination "${CPACK_PACKAGE_DIRECTORY}")
endif()
set(sums "")
foreach(package IN LISTS CPACK_PACKAGE_FILES)
  file(SHA256 "${package}" hash)
  get_filename_component(name "${package}" NAME)
  string(APPEND sums "${hash}  ${name}\n")
endforeach()
file(WRITE "${destination}/SHA256SUMS" "${sums}")
