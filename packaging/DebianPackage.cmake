# SPDX-License-Identifier: GPL-2.0-or-later
# SPDX-FileCopyrightText: 2026 The Harkavel developers
# Read by cpack: the maintainer, as Debian's tools choose one. -D HARKAVEL_MAINTAINER=... wins;
# then DEBEMAIL ("Name <address>", or an address that DEBFULLNAME names); then the project's.
if(HARKAVEL_MAINTAINER)
    set(MAINTAINER "${HARKAVEL_MAINTAINER}")
elseif("$ENV{DEBEMAIL}" MATCHES "<")
    set(MAINTAINER "$ENV{DEBEMAIL}")
elseif(NOT "$ENV{DEBEMAIL}" STREQUAL "" AND NOT "$ENV{DEBFULLNAME}" STREQUAL "")
    set(MAINTAINER "$ENV{DEBFULLNAME} <$ENV{DEBEMAIL}>")
else()
    set(MAINTAINER "${CPACK_HARKAVEL_MAINTAINER}")
endif()
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${MAINTAINER}")
set(CPACK_HARKAVEL_MAINTAINER "${MAINTAINER}")
