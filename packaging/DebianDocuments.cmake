# SPDX-License-Identifier: GPL-2.0-or-later
# SPDX-FileCopyrightText: 2026 The Harkavel developers
# Run by cpack after the files are staged: adds what Debian asks of every package, the
# copyright file and the change log (made from CHANGELOG.md), to the staged tree.
set(DOC ${CPACK_TEMPORARY_INSTALL_DIRECTORY}${CPACK_PACKAGING_INSTALL_PREFIX}/share/doc/harkavel)
file(MAKE_DIRECTORY ${DOC})

# Debian's copyright format names the GPL by its own short name and points at the copy every
# Debian system has; another licence is named as given.
if(CPACK_HARKAVEL_LICENSE STREQUAL "GPL-2.0-or-later")
    set(LICENSE_TEXT "GPL-2+
 This program is free software; you can redistribute it and/or modify it
 under the terms of the GNU General Public License as published by the Free
 Software Foundation; either version 2 of the License, or (at your option)
 any later version.
 .
 This program is distributed in the hope that it will be useful, but WITHOUT
 ANY WARRANTY; without even the implied warranty of MERCHANTABILITY or
 FITNESS FOR A PARTICULAR PURPOSE. See the GNU General Public License for
 more details.
 .
 On Debian systems, the complete text of the GNU General Public License
 version 2 can be found in /usr/share/common-licenses/GPL-2.")
else()
    set(LICENSE_TEXT "${CPACK_HARKAVEL_LICENSE}")
endif()
file(WRITE ${DOC}/copyright
"Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/
Upstream-Name: Harkavel
Upstream-Contact: ${CPACK_HARKAVEL_MAINTAINER}

Files: *
Copyright: ${CPACK_HARKAVEL_COPYRIGHT}
License: ${LICENSE_TEXT}
")

set(CHANGELOG ${CPACK_HARKAVEL_CHANGELOG})
include(${CMAKE_CURRENT_LIST_DIR}/Releases.cmake)
set(ENTRIES "")
foreach(VERSION DATE TEXT IN ZIP_LISTS HARKAVEL_RELEASE_VERSIONS HARKAVEL_RELEASE_DATES
                                       HARKAVEL_RELEASE_TEXTS)
    execute_process(COMMAND date -u -R -d "${DATE} 12:00" OUTPUT_VARIABLE STAMP
                    OUTPUT_STRIP_TRAILING_WHITESPACE COMMAND_ERROR_IS_FATAL ANY)
    # Debian's change logs keep to 80 columns: the text is folded below its bullet.
    file(WRITE ${DOC}/entry.txt "${TEXT}")
    execute_process(COMMAND fold -s -w 74 ${DOC}/entry.txt OUTPUT_VARIABLE FOLDED
                    COMMAND_ERROR_IS_FATAL ANY)
    file(REMOVE ${DOC}/entry.txt)
    string(REGEX REPLACE " *\n" "\n    " FOLDED "${FOLDED}")
    string(APPEND ENTRIES "harkavel (${VERSION}) unstable; urgency=medium

  * ${FOLDED}

 -- ${CPACK_HARKAVEL_MAINTAINER}  ${STAMP}

")
endforeach()
string(STRIP "${ENTRIES}" ENTRIES)
file(WRITE ${DOC}/changelog "${ENTRIES}\n")
# Compressed as Debian wants it: the most, and without the file's name and date.
execute_process(COMMAND gzip -9 -n ${DOC}/changelog COMMAND_ERROR_IS_FATAL ANY)
