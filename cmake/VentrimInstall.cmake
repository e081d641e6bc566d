# What a build of Ventrim itself installs and packages: the tool, its
# documentation and the CMake package, in the folders GNUInstallDirs names
# (the package folder VENTRIM_INSTALL_CMAKEDIR); the same package in the
# build folder; the Debian package and the Windows zip.
include(GNUInstallDirs)
# Debian names a package's documents by the package, not by the project.
if("$CACHE{CMAKE_INSTALL_DOCDIR}" STREQUAL "")
  set(CMAKE_INSTALL_DOCDIR "${CMAKE_INSTALL_DATAROOTDIR}/doc/ventrim")
endif()
set(VENTRIM_INSTALL_CMAKEDIR "${CMAKE_INSTALL_LIBDIR}/cmake/Ventrim" CACHE PATH
  "Where the Ventrim CMake package is installed, relative to the prefix")
set(package_files VentrimConfig VentrimStamp VentrimStampSettings VentrimStampRsp VentrimStampChecks VentrimStampLink
  VentrimStampIncludes VentrimStampFamilies)
install(TARGETS ventrim EXPORT VentrimTargets RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
if(WIN32)
  # The release zip: the guides beside the README, whose links lead to them.
  install(FILES README.md LICENSE CHANGELOG.md CONTRIBUTING.md DESTINATION .)
  install(DIRECTORY docs/ DESTINATION docs FILES_MATCHING PATTERN "*.md")
else()
  # The man page and the changelog compressed as Debian and man(1) expect,
  # with no time stamp in the gzip header, so the package is reproducible.
  # The man page names the project's version.
  configure_file(docs/ventrim.1.in ventrim.1 @ONLY)
  find_program(VENTRIM_GZIP gzip)
  foreach(doc ${PROJECT_BINARY_DIR}/ventrim.1 ${PROJECT_SOURCE_DIR}/docs/changelog)
    get_filename_component(name ${doc} NAME)
    set(installed_${name} ${doc})
    if(VENTRIM_GZIP)
      set(installed_${name} ${PROJECT_BINARY_DIR}/${name}.gz)
      execute_process(COMMAND ${VENTRIM_GZIP} -9nc INPUT_FILE ${doc} OUTPUT_FILE ${installed_${name}})
    endif()
  endforeach()
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS docs/changelog)
  install(FILES ${installed_ventrim.1} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
  install(FILES ${installed_changelog} docs/copyright DESTINATION ${CMAKE_INSTALL_DOCDIR})
endif()
install(EXPORT VentrimTargets NAMESPACE Ventrim:: DESTINATION ${VENTRIM_INSTALL_CMAKEDIR})
configure_file(cmake/VentrimConfigVersion.cmake.in VentrimConfigVersion.cmake @ONLY)
list(TRANSFORM package_files APPEND .cmake)
list(TRANSFORM package_files PREPEND cmake/ OUTPUT_VARIABLE package_sources)
install(FILES ${package_sources} ${PROJECT_BINARY_DIR}/VentrimConfigVersion.cmake DESTINATION ${VENTRIM_INSTALL_CMAKEDIR})

# The same package in the build folder, for Ventrim_DIR or CMAKE_PREFIX_PATH
# naming it: the tool where it was built, and copies of the package's files,
# copied again when they change.
export(EXPORT VentrimTargets NAMESPACE Ventrim:: FILE ${PROJECT_BINARY_DIR}/VentrimTargets.cmake)
foreach(file IN LISTS package_files)
  configure_file(cmake/${file} ${file} COPYONLY)
endforeach()

# A Debian package of the same: cpack -G DEB; in a Windows build, cpack -G ZIP
# gives ventrim-<version>-win32.zip (win64 from a 64-bit build), a folder that
# find_package finds through CMAKE_PREFIX_PATH.
set(CPACK_PACKAGE_NAME ventrim)
set(CPACK_PACKAGE_VENDOR "The Ventrim project")
set(CPACK_PACKAGE_CONTACT "The Ventrim project <ventrim@example.org>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "build-stamp header generator for C and C++ builds")
set(CPACK_PACKAGE_DESCRIPTION "Ventrim writes a small C header that identifies one build: a fresh GUID,
the local date and time, the clock reading and the user name, as four
macros. A build runs it before it compiles, or as it links a program, so
each program carries the stamp of its own build. It honours
SOURCE_DATE_EPOCH for reproducible builds, and comes with CMake functions
for both ways of stamping.")
if(NOT WIN32)  # the Windows executable is stripped as it links; strip would stamp it with the time
  set(CPACK_STRIP_FILES ON)
endif()
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION devel)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
include(CPack)
