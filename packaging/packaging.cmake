# Packages made by CPack: `cmake --build --preset P --target package` leaves
# them in build/P/packages/ with a SHA256SUMS.
#   Windows presets: tessmoor-updater-VERSION-win32.zip (win64 for the 64-bit build)
#   Linux presets:   tessmoor-updater_VERSION_ARCH.deb
# Every version in them comes from project(... VERSION).

set(CPACK_PACKAGE_NAME tessmoor-updater)
set(CPACK_PACKAGE_VENDOR Tessmoor)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "shows the newest Tessmoor release and opens its downloads")
set(CPACK_PACKAGE_DESCRIPTION
    "A small window that reads the Tessmoor release page, shows the newest\n"
    "version and opens its two download addresses in the web browser.\n"
    "Also release-check, which shows the maintainers of the release page\n"
    "what the updater takes from it.")
string(JOIN "" CPACK_PACKAGE_DESCRIPTION ${CPACK_PACKAGE_DESCRIPTION})
set(CPACK_PACKAGE_CONTACT "Tessmoor maintainers <maintainers@tessmoor.example>")

# CPack works in its own folder; packages/ then gets the packages alone.
set(CPACK_PACKAGE_DIRECTORY ${CMAKE_BINARY_DIR}/cpack)
set(CPACK_POST_BUILD_SCRIPTS ${CMAKE_CURRENT_LIST_DIR}/publish_packages.cmake)
set(CPACK_TESSMOOR_PACKAGES_DIR ${CMAKE_BINARY_DIR}/packages)

if(WIN32)
  math(EXPR _bits "${CMAKE_SIZEOF_VOID_P} * 8")
  set(CPACK_GENERATOR ZIP)
  set(CPACK_PACKAGE_FILE_NAME tessmoor-updater-${PROJECT_VERSION}-win${_bits})
  # Notepad reads a UTF-8 text without a BOM in the ANSI code page.
  configure_file(${CMAKE_CURRENT_LIST_DIR}/README-windows.txt.in ${CMAKE_BINARY_DIR}/packaging/README.txt
                 @ONLY NEWLINE_STYLE CRLF)
  install(FILES ${CMAKE_BINARY_DIR}/packaging/README.txt DESTINATION .)
else()
  include(GNUInstallDirs)
  set(_doc_dir ${CMAKE_INSTALL_DATADIR}/doc/tessmoor-updater)
  # The release's date in the changelog and the AppStream data: the time of
  # configuring, or SOURCE_DATE_EPOCH when that is set (string(TIMESTAMP) honours it).
  string(TIMESTAMP TESSMOOR_CHANGELOG_DATE "%a, %d %b %Y %H:%M:%S +0000" UTC)
  string(TIMESTAMP TESSMOOR_RELEASE_DATE "%Y-%m-%d" UTC)
  configure_file(${CMAKE_CURRENT_LIST_DIR}/tessmoor-updater.metainfo.xml.in
                 ${CMAKE_BINARY_DIR}/packaging/example.tessmoor.updater.metainfo.xml @ONLY)
  install(FILES ${CMAKE_BINARY_DIR}/packaging/example.tessmoor.updater.metainfo.xml
          DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
  install(FILES ${CMAKE_CURRENT_LIST_DIR}/copyright DESTINATION ${_doc_dir})
  # Debian wants a changelog, compressed without a time stamp.
  configure_file(${CMAKE_CURRENT_LIST_DIR}/changelog.in ${CMAKE_BINARY_DIR}/packaging/changelog @ONLY)
  find_program(GZIP gzip REQUIRED)
  add_custom_command(OUTPUT ${CMAKE_BINARY_DIR}/packaging/changelog.gz
                     COMMAND ${GZIP} -9 -n -c ${CMAKE_BINARY_DIR}/packaging/changelog > changelog.gz
                     DEPENDS ${CMAKE_BINARY_DIR}/packaging/changelog
                     WORKING_DIRECTORY ${CMAKE_BINARY_DIR}/packaging)
  add_custom_target(tessmoor-changelog ALL DEPENDS ${CMAKE_BINARY_DIR}/packaging/changelog.gz)
  install(FILES ${CMAKE_BINARY_DIR}/packaging/changelog.gz DESTINATION ${_doc_dir})

  # The Windows executables are linked without symbols already; stripping
  # them again would give them a time stamp.
  set(CPACK_STRIP_FILES ON)
  set(CPACK_GENERATOR DEB)
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  set(CPACK_DEBIAN_PACKAGE_SECTION net)
  set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
  # Dependencies as dpkg-shlibdeps finds them in the programs, not by hand.
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
  # libcurl is loaded at run time (dlopen), so dpkg-shlibdeps cannot see it.
  set(CPACK_DEBIAN_PACKAGE_DEPENDS "libcurl4 (>= 7.84)")
  set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
endif()

include(CPack)
