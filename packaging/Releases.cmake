# SPDX-License-Identifier: GPL-2.0-or-later
# SPDX-FileCopyrightText: 2026 The Harkavel developers
# Reads the releases of CHANGELOG.md, newest first, into HARKAVEL_RELEASE_VERSIONS,
# HARKAVEL_RELEASE_DATES and HARKAVEL_RELEASE_TEXTS (lists of equal length). Needs CHANGELOG.
# Included by the build (the metainfo, the version check) and by cpack (the package's log).
file(STRINGS ${CHANGELOG} HARKAVEL_CHANGELOG_LINES ENCODING UTF-8)
set(HARKAVEL_RELEASE_VERSIONS)
set(HARKAVEL_RELEASE_DATES)
set(HARKAVEL_RELEASE_TEXTS)
set(HARKAVEL_WANTS_TEXT FALSE)
foreach(HARKAVEL_LINE IN LISTS HARKAVEL_CHANGELOG_LINES)
    if(HARKAVEL_LINE MATCHES "^## ([0-9][0-9.]*) \\(([0-9][0-9][0-9][0-9]-[0-9][0-9]-[0-9][0-9])\\)$")
        list(APPEND HARKAVEL_RELEASE_VERSIONS ${CMAKE_MATCH_1})
        list(APPEND HARKAVEL_RELEASE_DATES ${CMAKE_MATCH_2})
        set(HARKAVEL_WANTS_TEXT TRUE)
    elseif(HARKAVEL_WANTS_TEXT AND NOT HARKAVEL_LINE STREQUAL "")
        # A list item may hold no semicolon: CMake would split it there.
        string(REPLACE ";" "," HARKAVEL_LINE "${HARKAVEL_LINE}")
        list(APPEND HARKAVEL_RELEASE_TEXTS "${HARKAVEL_LINE}")
        set(HARKAVEL_WANTS_TEXT FALSE)
    endif()
endforeach()
list(LENGTH HARKAVEL_RELEASE_VERSIONS HARKAVEL_RELEASE_COUNT)
list(LENGTH HARKAVEL_RELEASE_TEXTS HARKAVEL_RELEASE_TEXT_COUNT)
if(HARKAVEL_RELEASE_COUNT EQUAL 0 OR NOT HARKAVEL_RELEASE_COUNT EQUAL HARKAVEL_RELEASE_TEXT_COUNT)
    message(FATAL_ERROR "${CHANGELOG}: every release wants a heading '## VERSION (YYYY-MM-DD)' "
                        "and a line of text")
endif()
