include(CMakeFindDependencyMacro)
find_dependency(PkgConfig)
pkg_check_modules(MNL REQUIRED IMPORTED_TARGET libmnl)
include("${CMAKE_CURRENT_LIST_DIR}/cutilTargets.cmake")
