# What `cmake --install` puts where, relative to the prefix:
#   sbin/                              the administration commands
#   share/man/man8/                    their manual pages, compressed
#   lib/ (or the multiarch lib dir)    libcutil.a and libvtplatform.a
#   include/cutil/{cutil,cping,carp,platform}/   the public headers
#   lib/cmake/cutil/, lib/pkgconfig/   the CMake package and cutil.pc
#   share/doc/tessaroul-host/, share/doc/libcutil-dev/   copyright and changelog of each package
# in two components, one Debian package each: "host" (the commands and their pages) and "dev"
# (the library, its headers, the CMake package and cutil.pc).
include(CMakePackageConfigHelpers)
find_program(VT_GZIP gzip REQUIRED)

set(VT_HOST_PACKAGE tessaroul-host)
set(VT_DEV_PACKAGE libcutil-dev)

# The administration commands: each name is a target (defined before this file is included)
# installed into sbin, with its page man/<name>.8. A new command is one more name on this line.
set(VT_ADMIN_COMMANDS vtpasswd vtnet)

# Compresses a file of the build tree reproducibly (no name, no time stamp); answers the .gz path.
function(vt_gzip input result)
  add_custom_command(OUTPUT ${input}.gz
    COMMAND ${VT_GZIP} -9nkf ${input}
    DEPENDS ${input} VERBATIM)
  set(${result} ${input}.gz PARENT_SCOPE)
endfunction()

set(VT_COMPRESSED "")
foreach(command IN LISTS VT_ADMIN_COMMANDS)
  install(TARGETS ${command} RUNTIME DESTINATION ${CMAKE_INSTALL_SBINDIR} COMPONENT host)
  # The page names the compiled-in etc directory of this build.
  configure_file(man/${command}.8 man/${command}.8 @ONLY)
  vt_gzip(${CMAKE_CURRENT_BINARY_DIR}/man/${command}.8 page)
  install(FILES ${page} DESTINATION ${CMAKE_INSTALL_MANDIR}/man8 COMPONENT host)
  list(APPEND VT_COMPRESSED ${page})
endforeach()

# The changelog is the Debian one, whose name carries the revision's origin.
configure_file(packaging/changelog packaging/changelog.Debian COPYONLY)
vt_gzip(${CMAKE_CURRENT_BINARY_DIR}/packaging/changelog.Debian changelog)
list(APPEND VT_COMPRESSED ${changelog})
add_custom_target(compressed_docs ALL DEPENDS ${VT_COMPRESSED})
foreach(component host dev)
  string(TOUPPER ${component} upper)
  set(package ${VT_${upper}_PACKAGE})
  install(FILES packaging/copyright ${changelog}
    DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/${package} COMPONENT ${component})
  # A package build (prefix /usr) carries lintian's overrides, each with the reason beside it.
  if(CMAKE_INSTALL_PREFIX STREQUAL "/usr")
    install(FILES packaging/lintian/${package}
      DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/lintian/overrides COMPONENT ${component})
  endif()
endforeach()

# The library, under one folder of ours: include/cutil is the consumer's include directory, so
# "cutil/report.hpp" and "platform/bsd.hpp" resolve as they do in this tree. Each folder's
# top-level headers are taken by glob; backend-private subfolders (platform/linux) stay out.
install(TARGETS cutil vtplatform EXPORT cutilTargets ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT dev)
foreach(folder cutil cping carp platform)
  file(GLOB headers CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/${folder}/*.hpp)
  install(FILES ${headers} DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/cutil/${folder} COMPONENT dev)
endforeach()

set(VT_CMAKE_PACKAGE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/cutil)
install(EXPORT cutilTargets NAMESPACE cutil:: DESTINATION ${VT_CMAKE_PACKAGE_DIR} COMPONENT dev)
write_basic_package_version_file(cutilConfigVersion.cmake COMPATIBILITY SameMajorVersion)
install(FILES cmake/cutilConfig.cmake ${CMAKE_CURRENT_BINARY_DIR}/cutilConfigVersion.cmake
  DESTINATION ${VT_CMAKE_PACKAGE_DIR} COMPONENT dev)

# cutil.pc takes its prefix when it is installed, so `cmake --install --prefix` and the package
# both get their own; the rest is fixed here.
set(VT_PC_PREFIX "@CMAKE_INSTALL_PREFIX@")
if(CMAKE_SYSTEM_NAME STREQUAL "FreeBSD")
  set(VT_PC_REQUIRES "")
else()
  set(VT_PC_REQUIRES "libmnl")
endif()
configure_file(cmake/cutil.pc.in cutil.pc.in @ONLY)
install(CODE "configure_file(\"${CMAKE_CURRENT_BINARY_DIR}/cutil.pc.in\" \"${CMAKE_CURRENT_BINARY_DIR}/cutil.pc\" @ONLY)"
  COMPONENT dev)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/cutil.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig COMPONENT dev)
