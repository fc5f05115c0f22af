# Runs after CPack has made the packages (CPACK_POST_BUILD_SCRIPTS): puts them
# alone in CPACK_TESSMOOR_PACKAGES_DIR with a SHA256SUMS that covers every file
# there, in the format `sha256sum --check` reads.
file(REMOVE_RECURSE "${CPACK_TESSMOOR_PACKAGES_DIR}")
file(MAKE_DIRECTORY "${CPACK_TESSMOOR_PACKAGES_DIR}")
set(sums "")
foreach(package IN LISTS CPACK_PACKAGE_FILES)
  get_filename_component(name "${package}" NAME)
  file(COPY_FILE "${package}" "${CPACK_TESSMOOR_PACKAGES_DIR}/${name}")
  file(SHA256 "${package}" sum)
  string(APPEND sums "${sum}  ${name}\n")
endforeach()
file(WRITE "${CPACK_TESSMOOR_PACKAGES_DIR}/SHA256SUMS" "${sums}")
