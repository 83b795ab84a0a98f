# Install rules and packages: a .deb and, where rpm is wanted, an RPM on Linux; a zip on Windows.
include(GNUInstallDirs)

set(CPACK_PACKAGE_NAME tagsplit)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "the tagsplit developers")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "end a line after every > in HTML")
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
set(CPACK_STRIP_FILES ON)
set(CPACK_PROJECT_CONFIG_FILE ${PROJECT_SOURCE_DIR}/cmake/package_date.cmake)
set(CPACK_TAGSPLIT_SOURCE_DIR ${PROJECT_SOURCE_DIR})

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
  include(CPack)
  return()
endif()

configure_file(man/tagsplit.1.in ${CMAKE_BINARY_DIR}/tagsplit.1 @ONLY)
install(TARGETS tagsplit RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES ${CMAKE_BINARY_DIR}/tagsplit.1 DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_PACKAGE_DESCRIPTION
"tagsplit reads HTML on standard input and writes it to standard output
with tabs, carriage returns and line feeds removed and a CR LF line break
after every > byte, for reading and diffing markup.")
if(TAGSPLIT_STATIC)
  string(APPEND CPACK_PACKAGE_DESCRIPTION
    "\n\nThe program is statically linked, so the package depends on nothing.")
endif()
# Each package's name for the processor the program is built for.
set(DEBIAN_ARCH_x86_64 amd64)
set(DEBIAN_ARCH_aarch64 arm64)
set(DEBIAN_ARCH_i686 i386)

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_ARCHITECTURE ${DEBIAN_ARCH_${CMAKE_SYSTEM_PROCESSOR}})
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "tagsplit developers <maintainers@tagsplit.invalid>")
set(CPACK_DEBIAN_PACKAGE_SECTION text)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# The list of what a dynamic program needs is read off it, by dpkg-shlibdeps and by rpm; a static
# one needs nothing.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_RPM_PACKAGE_AUTOREQ ON)
if(TAGSPLIT_STATIC)
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS OFF)
  set(CPACK_RPM_PACKAGE_AUTOREQ OFF)
endif()

set(CPACK_RPM_FILE_NAME RPM-DEFAULT)
set(CPACK_RPM_PACKAGE_ARCHITECTURE ${CMAKE_SYSTEM_PROCESSOR})
set(CPACK_RPM_PACKAGE_LICENSE MIT)
set(CPACK_RPM_PACKAGE_GROUP "Applications/Text")
set(CPACK_RPM_PACKAGE_URL "https://tagsplit.invalid/")
set(CPACK_RPM_PACKAGE_DESCRIPTION ${CPACK_PACKAGE_DESCRIPTION})
# The folders of the file system belong to the system, not to the package.
set(CPACK_RPM_EXCLUDE_FROM_AUTO_FILELIST_ADDITION /usr/share/man /usr/share/man/man1
  /usr/share/licenses)
set(CPACK_RPM_USER_FILELIST "%license /usr/share/licenses/tagsplit/LICENSE")
# The same bytes from every build: the build time is SOURCE_DATE_EPOCH, file times are clamped
# to it, and the build host is named. The program is stripped already, by the cross toolchain's
# strip, so rpm's own steps, which would run the build machine's strip, are left out.
set(CPACK_RPM_SPEC_MORE_DEFINE "%define use_source_date_epoch_as_buildtime 1
%define clamp_mtime_to_source_date_epoch 1
%define _buildhost tagsplit.invalid
%define packager ${CPACK_DEBIAN_PACKAGE_MAINTAINER}
%define __os_install_post %{nil}
%define debug_package %{nil}
%define _build_id_links none")

# A compressed man page; and Debian's layout: a copyright file, a changelog, and the override that
# says why the program is static.
set(CPACK_PRE_BUILD_SCRIPTS ${PROJECT_SOURCE_DIR}/cmake/package_layout.cmake)
set(CPACK_TAGSPLIT_STATIC ${TAGSPLIT_STATIC})
include(CPack)
