# The Debian packages, built with `cpack -G DEB` from a tree configured by scripts/package.sh
# (prefix /usr, Debian's compiler flags, the etc directory /etc/tessaroul). Two packages, as
# Debian splits a library's users from its developers: tessaroul-host carries the commands and
# their pages, libcutil-dev the library, its headers, the CMake package and cutil.pc.
set(VT_PACKAGE_MAINTAINER "Tessaroul host maintainers <host-maintainers@tessaroul.example>"
  CACHE STRING "maintainer named in the Debian packages")

set(CPACK_GENERATOR DEB)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL host dev)
set(CPACK_PACKAGE_NAME ${VT_HOST_PACKAGE})
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_DEBIAN_PACKAGE_RELEASE 1)
set(CPACK_PACKAGE_CONTACT ${VT_PACKAGE_MAINTAINER})
set(CPACK_DEBIAN_PACKAGE_SOURCE ${VT_HOST_PACKAGE})
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_VT_STRIP ${CMAKE_STRIP})
set(CPACK_PRE_BUILD_SCRIPTS ${CMAKE_CURRENT_LIST_DIR}/debstrip.cmake)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
# Directories of the packages are 0755 whatever the umask of the build.
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
  OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)

set(CPACK_DEBIAN_HOST_PACKAGE_NAME ${VT_HOST_PACKAGE})
set(CPACK_DEBIAN_HOST_PACKAGE_SECTION admin)
# Run-time dependencies from the commands' own links (libssl3 for libcrypto, the C++ runtime).
set(CPACK_DEBIAN_HOST_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_HOST_DESCRIPTION
"administration commands of the tessaroul host-failover product
vtpasswd sets the password of one user of the tessaroul host-failover
product in its user file /etc/tessaroul/vanto_users.dat, keeping the
previous content as a backup. Runs are serialised by a lock on the etc
directory, and the user file is replaced only once the new content is
whole and on disk.
.
vtnet tries the network failover primitives of the host by hand: the
probe, the ARP and interface queries, taking an address over and giving
it back, gratuitous ARP, host routes, and a check of what would stop them.")

set(CPACK_DEBIAN_DEV_PACKAGE_NAME ${VT_DEV_PACKAGE})
set(CPACK_DEBIAN_DEV_PACKAGE_SECTION libdevel)
# A consumer links the static archives, which need libmnl on Linux.
set(CPACK_DEBIAN_DEV_PACKAGE_DEPENDS "libmnl-dev")
set(CPACK_DEBIAN_DEV_DESCRIPTION
"host support library of the tessaroul failover service (development)
libcutil is the static host support library of the tessaroul failover
service: reporting, time stamps, process and socket utilities, and the
network failover primitives (ICMP probe, ARP lookup, interface discovery,
addresses and host routes, gratuitous ARP, takeover bookkeeping).
.
This package holds the static libraries, their headers, a CMake package
(find_package(cutil)) and a pkg-config file (cutil), and the scripted
kernel with which a service tests its failover logic without root.")
include(CPack)
