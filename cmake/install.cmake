# What `cmake --install` puts where, relative to the prefix:
#   sbin/                              the administration commands
#   share/man/man8/                    their manual pages, compressed
#   lib/ (or the multiarch lib dir)    libcutil.a and libvtplatform.a
#   include/cutil/{cutil,cping,carp,platform}/   the public headers
#   lib/cmake/cutil/, lib/pkgconfig/   the CMake package and cutil.pc
#   share/doc/tessaroul-host/          copyright and changelog
include(CMakePackageConfigHelpers)
find_program(VT_GZIP gzip REQUIRED)

set(VT_PACKAGE_NAME tessaroul-host)
set(VT_DOC_DIR ${CMAKE_INSTALL_DATAROOTDIR}/doc/${VT_PACKAGE_NAME})

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
  install(TARGETS ${command} RUNTIME DESTINATION ${CMAKE_INSTALL_SBINDIR})
  # The page names the compiled-in etc directory of this build.
  configure_file(man/${command}.8 man/${command}.8 @ONLY)
  vt_gzip(${CMAKE_CURRENT_BINARY_DIR}/man/${command}.8 page)
  install(FILES ${page} DESTINATION ${CMAKE_INSTALL_MANDIR}/man8)
  list(APPEND VT_COMPRESSED ${page})
endforeach()

configure_file(packaging/changelog packaging/changelog COPYONLY)
vt_gzip(${CMAKE_CURRENT_BINARY_DIR}/packaging/changelog changelog)
list(APPEND VT_COMPRESSED ${changelog})
add_custom_target(compressed_docs ALL DEPENDS ${VT_COMPRESSED})
install(FILES packaging/copyright ${changelog} DESTINATION ${VT_DOC_DIR})

# The library, under one folder of ours: include/cutil is the consumer's include directory, so
# "cutil/report.hpp" and "platform/bsd.hpp" resolve as they do in this tree. Each folder's
# top-level headers are taken by glob; backend-private subfolders (platform/linux) stay out.
install(TARGETS cutil vtplatform EXPORT cutilTargets ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR})
foreach(folder cutil cping carp platform)
  file(GLOB headers CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/${folder}/*.hpp)
  install(FILES ${headers} DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/cutil/${folder})
endforeach()

set(VT_CMAKE_PACKAGE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/cutil)
install(EXPORT cutilTargets NAMESPACE cutil:: DESTINATION ${VT_CMAKE_PACKAGE_DIR})
write_basic_package_version_file(cutilConfigVersion.cmake COMPATIBILITY SameMajorVersion)
install(FILES cmake/cutilConfig.cmake ${CMAKE_CURRENT_BINARY_DIR}/cutilConfigVersion.cmake
  DESTINATION ${VT_CMAKE_PACKAGE_DIR})

# cutil.pc takes its prefix when it is installed, so `cmake --install --prefix` and the package
# both get their own; the rest is fixed here.
set(VT_PC_PREFIX "@CMAKE_INSTALL_PREFIX@")
if(CMAKE_SYSTEM_NAME STREQUAL "FreeBSD")
  set(VT_PC_REQUIRES "")
else()
  set(VT_PC_REQUIRES "libmnl")
endif()
configure_file(cmake/cutil.pc.in cutil.pc.in @ONLY)
install(CODE "configure_file(\"${CMAKE_CURRENT_BINARY_DIR}/cutil.pc.in\" \"${CMAKE_CURRENT_BINARY_DIR}/cutil.pc\" @ONLY)")
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/cutil.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
