# SPDX-FileCopyrightText: 2026 pelmor-helper developers <maintainers@pelmor.invalid>
# SPDX-License-Identifier: MIT
#
# Read by cpack before it builds a package. A Debian package must install
# under /usr: one built from a /usr/local configuration would ship files
# where only the local administrator may put them, and its units would name
# a binary there.
if(CPACK_GENERATOR STREQUAL "DEB" AND NOT CPACK_PACKAGING_INSTALL_PREFIX STREQUAL "/usr")
  message(FATAL_ERROR "pelmor-helper: a Debian package installs under /usr, but this build is configured "
    "for ${CPACK_PACKAGING_INSTALL_PREFIX}. Configure the build with -DCMAKE_INSTALL_PREFIX=/usr, "
    "then run cpack -G DEB again.")
endif()
