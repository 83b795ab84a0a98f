# Install rules and packages: a Debian package on Linux, a zip on Windows.
include(GNUInstallDirs)

set(CPACK_PACKAGE_NAME tagsplit)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "the tagsplit developers")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "end a line after every > in HTML")
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
set(CPACK_STRIP_FILES ON)

if(WIN32)
  # A folder named for the version, holding the exe, a short readme and the licence, the text
  # files with the CR LF line ends that every Windows editor shows as lines.
  configure_file(cmake/windows_readme.txt.in README.txt @ONLY NEWLINE_STYLE CRLF)
  configure_file(LICENSE LICENSE.txt @ONLY NEWLINE_STYLE CRLF)
  install(TARGETS tagsplit RUNTIME DESTINATION .)
  install(FILES ${CMAKE_BINARY_DIR}/README.txt ${CMAKE_BINARY_DIR}/LICENSE.txt DESTINATION .)
  set(CPACK_GENERATOR ZIP)
  set(CPACK_PACKAGE_FILE_NAME tagsplit-${PROJECT_VERSION}-windows-${CMAKE_SYSTEM_PROCESSOR})
  set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY ON)
  # The time of the last commit, where the sources are a git checkout, to date the zip's entries.
  execute_process(COMMAND git log -1 --format=%ct WORKING_DIRECTORY ${PROJECT_SOURCE_DIR}
    OUTPUT_VARIABLE CPACK_TAGSPLIT_COMMIT_TIME OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
  set(CPACK_PROJECT_CONFIG_FILE ${PROJECT_SOURCE_DIR}/cmake/windows_zip_date.cmake)
else()
  configure_file(man/tagsplit.1.in ${CMAKE_BINARY_DIR}/tagsplit.1 @ONLY)
  install(TARGETS tagsplit RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  install(FILES ${CMAKE_BINARY_DIR}/tagsplit.1 DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
  set(CPACK_GENERATOR DEB)
  set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  set(CPACK_DEBIAN_PACKAGE_MAINTAINER "tagsplit developers <maintainers@tagsplit.invalid>")
  set(CPACK_DEBIAN_PACKAGE_SECTION text)
  set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
  set(CPACK_PACKAGE_DESCRIPTION "tagsplit reads HTML on standard input and writes it to standard output
with tabs, carriage returns and line feeds removed and a CR LF line break
after every > byte, for reading and diffing markup.")
  # Debian's layout: a compressed man page, a copyright file and a changelog.
  set(CPACK_PRE_BUILD_SCRIPTS ${PROJECT_SOURCE_DIR}/cmake/debian_layout.cmake)
  set(CPACK_TAGSPLIT_SOURCE_DIR ${PROJECT_SOURCE_DIR})
endif()
include(CPack)
