# SPDX-License-Identifier: GPL-2.0-or-later
# SPDX-FileCopyrightText: 2026 The Harkavel developers
# Writes the AppStream metadata from its template. Needs TEMPLATE, METAINFO, CHANGELOG,
# HARKAVEL_LICENSE and HARKAVEL_METADATA_LICENSE; HARKAVEL_HOMEPAGE and HARKAVEL_SCREENSHOT_URL add the homepage
# and the screenshots where they are given. Used by the build and by the tests (cmake -P).
foreach(FACT HARKAVEL_LICENSE HARKAVEL_METADATA_LICENSE CHANGELOG)
    if("${${FACT}}" STREQUAL "")
        message(FATAL_ERROR "${FACT} is not set")
    endif()
endforeach()

function(xml_escape TEXT OUTPUT)
    string(REPLACE "&" "&amp;" TEXT "${TEXT}")
    string(REPLACE "<" "&lt;" TEXT "${TEXT}")
    string(REPLACE ">" "&gt;" TEXT "${TEXT}")
    set(${OUTPUT} "${TEXT}" PARENT_SCOPE)
endfunction()

set(HARKAVEL_ADDRESS_ELEMENTS "")
if(HARKAVEL_HOMEPAGE)
    string(APPEND HARKAVEL_ADDRESS_ELEMENTS "  <url type=\"homepage\">${HARKAVEL_HOMEPAGE}</url>\n")
endif()
if(HARKAVEL_SCREENSHOT_URL)
    string(APPEND HARKAVEL_ADDRESS_ELEMENTS
"  <screenshots>
    <screenshot type=\"default\">
      <caption>The scan page after a scan of ClamAV's samples</caption>
      <image>${HARKAVEL_SCREENSHOT_URL}/scan-page.png</image>
    </screenshot>
    <screenshot>
      <caption>The update page after an update from a mirror</caption>
      <image>${HARKAVEL_SCREENSHOT_URL}/update-page.png</image>
    </screenshot>
  </screenshots>
")
endif()

include(${CMAKE_CURRENT_LIST_DIR}/Releases.cmake)
function(release_elements OUTPUT)
    set(ELEMENTS "")
    foreach(VERSION DATE TEXT IN ZIP_LISTS HARKAVEL_RELEASE_VERSIONS HARKAVEL_RELEASE_DATES
                                           HARKAVEL_RELEASE_TEXTS)
        xml_escape("${TEXT}" TEXT)
        string(APPEND ELEMENTS
"    <release version=\"${VERSION}\" date=\"${DATE}\">
      <description>
        <p>${TEXT}</p>
      </description>
    </release>
")
    endforeach()
    set(${OUTPUT} "${ELEMENTS}" PARENT_SCOPE)
endfunction()
release_elements(HARKAVEL_RELEASE_ELEMENTS)
configure_file(${TEMPLATE} ${METAINFO} @ONLY)
