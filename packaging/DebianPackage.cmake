# Read by cpack: the facts a Debian package needs and the project has not decided yet come from
# the cpack command line (-D NAME=VALUE).
foreach(FACT HARKAVEL_LICENSE HARKAVEL_COPYRIGHT HARKAVEL_MAINTAINER)
    if("${${FACT}}" STREQUAL "")
        message(FATAL_ERROR "${FACT} is not set: give it to cpack with -D ${FACT}=...")
    endif()
endforeach()
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${HARKAVEL_MAINTAINER}")
