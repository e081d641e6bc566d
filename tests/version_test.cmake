# The one version number: a copy of the sources with another project() version
# must show it in the banner, --version, the man page, the package, and the
# Windows version record and manifest; the changelogs must name this version.
#   cmake -DSOURCE_DIR=<dir> -DWORK_DIR=<dir> -DVERSION=<x.y.z> -P version_test.cmake
function(expect what)
  if(NOT (${ARGN}))
    message(FATAL_ERROR "${what}")
  endif()
endfunction()

file(READ "${SOURCE_DIR}/CHANGELOG.md" changes)
file(STRINGS "${SOURCE_DIR}/docs/changelog" debian LIMIT_COUNT 1)
expect("CHANGELOG.md's newest section is not ${VERSION}" changes MATCHES "\n## ([^ ]+)" AND CMAKE_MATCH_1 STREQUAL VERSION)
expect("docs/changelog's newest entry is not ${VERSION}" debian MATCHES "^ventrim \\(${VERSION}\\)")

file(REMOVE_RECURSE "${WORK_DIR}")
file(COPY "${SOURCE_DIR}/CMakeLists.txt" "${SOURCE_DIR}/cmake" "${SOURCE_DIR}/generator" "${SOURCE_DIR}/docs"
     DESTINATION "${WORK_DIR}/src")
file(READ "${WORK_DIR}/src/CMakeLists.txt" top)
string(REGEX REPLACE "project\\(Ventrim VERSION [0-9.]+" "project(Ventrim VERSION 7.3.5" top "${top}")
file(WRITE "${WORK_DIR}/src/CMakeLists.txt" "${top}")

foreach(step "-S;${WORK_DIR}/src;-B;${WORK_DIR}/b;-DBUILD_TESTING=OFF" "--build;${WORK_DIR}/b;--target;ventrim")
  execute_process(COMMAND "${CMAKE_COMMAND}" ${step} RESULT_VARIABLE failed OUTPUT_QUIET ERROR_VARIABLE log)
  expect("the build with version 7.3.5 failed: ${log}" NOT failed)
endforeach()
execute_process(COMMAND "${WORK_DIR}/b/ventrim" --version OUTPUT_VARIABLE out)
expect("--version printed: ${out}" out MATCHES "^Ventrim Rev 7\\.3 [^\n]*\nventrim 7\\.3\\.5\n$")
file(STRINGS "${WORK_DIR}/b/ventrim.1" th REGEX "^\\.TH")
expect("the man page says: ${th}" th MATCHES "\"Ventrim 7\\.3\\.5\"")
file(STRINGS "${WORK_DIR}/b/CPackConfig.cmake" package REGEX "CPACK_PACKAGE_VERSION \"")
expect("the package says: ${package}" package MATCHES "\"7\\.3\\.5\"")

# Windows: the resource script and manifest as configured for the cross build.
if(MINGW_TOOLCHAIN)
  execute_process(COMMAND "${CMAKE_COMMAND}" -S "${WORK_DIR}/src" -B "${WORK_DIR}/w" -DBUILD_TESTING=OFF
    "-DCMAKE_TOOLCHAIN_FILE=${MINGW_TOOLCHAIN}" RESULT_VARIABLE failed OUTPUT_QUIET ERROR_VARIABLE log)
  expect("the Windows configuration failed: ${log}" NOT failed)
  file(READ "${WORK_DIR}/w/generator/ventrim.rc" rc)
  file(READ "${WORK_DIR}/w/generator/ventrim.manifest" manifest)
  expect("the version record is not 7.3.5" rc MATCHES "FILEVERSION +7,3,5,0\n" AND rc MATCHES "PRODUCTVERSION +7,3,5,0\n"
    AND rc MATCHES "\"FileVersion\", +\"7\\.3\"" AND rc MATCHES "\"ProductVersion\", +\"7\\.3\"")
  expect("the manifest is not 7.3.5.0" manifest MATCHES "version=\"7\\.3\\.5\\.0\"")
endif()
file(REMOVE_RECURSE "${WORK_DIR}")
