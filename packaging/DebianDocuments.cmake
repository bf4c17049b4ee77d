# Run by cpack after the files are staged: adds what Debian asks of every package, the
# copyright file and the change log, to the staged tree.
set(DOC ${CPACK_TEMPORARY_INSTALL_DIRECTORY}${CPACK_PACKAGING_INSTALL_PREFIX}/share/doc/harkavel)
file(MAKE_DIRECTORY ${DOC})
file(WRITE ${DOC}/copyright
"Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/
Upstream-Name: Harkavel

Files: *
Copyright: ${HARKAVEL_COPYRIGHT}
License: ${HARKAVEL_LICENSE}
")
string(TIMESTAMP NOW "%a, %d %b %Y %H:%M:%S +0000" UTC)
file(WRITE ${DOC}/changelog
"harkavel (${CPACK_PACKAGE_VERSION}) unstable; urgency=medium

  * Packaged from the Harkavel build.

 -- ${HARKAVEL_MAINTAINER}  ${NOW}
")
# Compressed as Debian wants it: the most, and without the file's name and date.
execute_process(COMMAND gzip -9 -n ${DOC}/changelog COMMAND_ERROR_IS_FATAL ANY)
