# Writes the AppStream metadata from its template. Needs IN, OUT, PROJECT_VERSION and the four
# facts below; used by the build and, with stand-in facts, by the tests (cmake -P).
foreach(FACT HARKAVEL_LICENSE HARKAVEL_METADATA_LICENSE HARKAVEL_HOMEPAGE HARKAVEL_SCREENSHOT_URL)
    if("${${FACT}}" STREQUAL "")
        message(FATAL_ERROR "${FACT} is not set")
    endif()
endforeach()
configure_file(${IN} ${OUT} @ONLY)
