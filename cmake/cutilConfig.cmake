# find_package(cutil): the static library as cutil::cutil, with what it links found for the
# consumer. The public headers include each other as "cutil/...", "platform/..." and so on,
# which the target's include directory resolves.
include(CMakeFindDependencyMacro)
if(NOT CMAKE_SYSTEM_NAME STREQUAL "FreeBSD" AND NOT TARGET PkgConfig::MNL)
  find_dependency(PkgConfig)
  pkg_check_modules(MNL QUIET IMPORTED_TARGET libmnl)
  if(NOT TARGET PkgConfig::MNL)
    set(cutil_FOUND FALSE)
    set(cutil_NOT_FOUND_MESSAGE "cutil needs libmnl; its pkg-config file libmnl.pc was not found")
    return()
  endif()
endif()
include("${CMAKE_CURRENT_LIST_DIR}/cutilTargets.cmake")
