# The Debian package, built with `cpack -G DEB` from a tree configured with the prefix /usr
# (scripts/package-check.sh shows how). It carries everything `cmake --install` installs.
set(VT_PACKAGE_MAINTAINER "Tessaroul host maintainers <host-maintainers@tessaroul.example>"
  CACHE STRING "maintainer named in the Debian package")

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME ${VT_PACKAGE_NAME})
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT ${VT_PACKAGE_MAINTAINER})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "administration commands and host support library of tessaroul")
set(CPACK_PACKAGE_DESCRIPTION
"vtpasswd sets the password of one user of the tessaroul host-failover
product in its user file, keeping the previous content as a backup. Runs
are serialised by a lock on the etc directory, and the user file is
replaced only once the new content is whole and on disk.

vtnet tries the network failover primitives of the host by hand: the
probe, the ARP and interface queries, taking an address over and giving
it back, gratuitous ARP, host routes, and a check of what would stop them.

libcutil is the static host support library of the failover service:
reporting, time stamps, process and socket utilities, and the network
failover primitives. It comes with its headers, a CMake package and a
pkg-config file; linking it needs libmnl-dev.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_VT_STRIP ${CMAKE_STRIP})
set(CPACK_PRE_BUILD_SCRIPTS ${CMAKE_CURRENT_LIST_DIR}/debstrip.cmake)

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION admin)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# Run-time dependencies from the binaries' own links (libssl3 for libcrypto, the C++ runtime).
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_SUGGESTS "libmnl-dev, pkgconf | pkg-config")
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
# Directories of the package are 0755 whatever the umask of the build.
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
  OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
include(CPack)
