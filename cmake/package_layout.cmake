# Run by CPack on the staged files before it builds a package: compresses the man page; for the
# RPM adds the licence where RPM systems keep licences; for the .deb adds the copyright file and
# changelog that Debian expects of a native package (the version has no Debian revision) and,
# for a static program, the override that says why.
file(GLOB_RECURSE pages "${CPACK_TEMPORARY_DIRECTORY}/tagsplit.1")
foreach(page ${pages})
  execute_process(COMMAND gzip -9nf ${page} COMMAND_ERROR_IS_FATAL ANY)
endforeach()
set(share "${CPACK_TEMPORARY_DIRECTORY}${CPACK_PACKAGING_INSTALL_PREFIX}/share")
if(CPACK_GENERATOR STREQUAL RPM)
  file(COPY "${CPACK_TAGSPLIT_SOURCE_DIR}/LICENSE" DESTINATION ${share}/licenses/tagsplit)
endif()
if(NOT CPACK_GENERATOR STREQUAL DEB)
  return()
endif()

if(CPACK_TAGSPLIT_STATIC)
  file(WRITE ${share}/lintian/overrides/tagsplit
"# One static program runs on any Linux, whatever its C library.
tagsplit: statically-linked-binary [usr/bin/tagsplit]
")
endif()

set(doc "${share}/doc/tagsplit")
file(MAKE_DIRECTORY ${doc})
file(READ "${CPACK_TAGSPLIT_SOURCE_DIR}/LICENSE" license)
string(REGEX REPLACE "\n\n" "\n .\n" license_body "${license}")
string(REGEX REPLACE "\n([^ ])" "\n \\1" license_body "${license_body}")
file(WRITE ${doc}/copyright
"Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/
Upstream-Name: tagsplit

Files: *
Copyright: 2026 the tagsplit developers
License: Expat
 ${license_body}
")
# The package date: SOURCE_DATE_EPOCH, which package_date.cmake sets from the last commit
# where it is not set already; outside git, the time of packing.
string(TIMESTAMP now "%a, %d %b %Y %H:%M:%S +0000" UTC)
file(WRITE ${doc}/changelog
"tagsplit (${CPACK_PACKAGE_VERSION}) unstable; urgency=medium

  * Release ${CPACK_PACKAGE_VERSION}.

 -- ${CPACK_DEBIAN_PACKAGE_MAINTAINER}  ${now}
")
execute_process(COMMAND gzip -9nf ${doc}/changelog COMMAND_ERROR_IS_FATAL ANY)
