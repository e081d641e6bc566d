# The one version number: a copy of the sources with another project() version
# shows it in the banner, --version, the man page, the package, and the Windows
# version record and manifest; both changelogs name this tree's version (CHANGELOG.md
# may first hold an "## Unreleased" section, for changes not yet released).
#   cmake -DSOURCE_DIR=<dir> -DWORK_DIR=<dir> -DVERSION=<x.y.z> [-DMINGW_TOOLCHAIN=<file>] -P version_test.cmake
function(expect what text regex)
  if(NOT text MATCHES "${regex}")
    message(FATAL_ERROR "${what}: ${text}")
  endif()
endfunction()
file(STRINGS "${SOURCE_DIR}/CHANGELOG.md" changes REGEX "^## ")
if(changes MATCHES "^## Unreleased;")
  list(POP_FRONT changes)
endif()
file(STRINGS "${SOURCE_DIR}/docs/changelog" debian LIMIT_COUNT 1)
expect("CHANGELOG.md's newest section is not ${VERSION}" "${changes}" "^## ${VERSION} ")
expect("docs/changelog's newest entry is not ${VERSION}" "${debian}" "^ventrim \\(${VERSION}\\)")

file(REMOVE_RECURSE "${WORK_DIR}")
file(COPY "${SOURCE_DIR}/CMakeLists.txt" "${SOURCE_DIR}/cmake" "${SOURCE_DIR}/generator" "${SOURCE_DIR}/docs"
     DESTINATION "${WORK_DIR}/src")
file(READ "${WORK_DIR}/src/CMakeLists.txt" top)
string(REGEX REPLACE "project\\(Ventrim VERSION [0-9.]+" "project(Ventrim VERSION 7.3.5" top "${top}")
file(WRITE "${WORK_DIR}/src/CMakeLists.txt" "${top}")
foreach(step "-S;${WORK_DIR}/src;-B;${WORK_DIR}/b;-DBUILD_TESTING=OFF" "--build;${WORK_DIR}/b;--target;ventrim"
             "-S;${WORK_DIR}/src;-B;${WORK_DIR}/w;-DBUILD_TESTING=OFF;-DCMAKE_TOOLCHAIN_FILE=${MINGW_TOOLCHAIN}")
  if(NOT step MATCHES ";-DCMAKE_TOOLCHAIN_FILE=$")
    execute_process(COMMAND "${CMAKE_COMMAND}" ${step} RESULT_VARIABLE failed OUTPUT_QUIET ERROR_VARIABLE log)
    expect("cmake ${step} failed" "${failed}${log}" "^0")
  endif()
endforeach()
execute_process(COMMAND "${WORK_DIR}/b/ventrim" --version OUTPUT_VARIABLE out)
expect("--version printed" "${out}" "^Ventrim Rev 7\\.3 [^\n]*\nventrim 7\\.3\\.5\n$")
file(READ "${WORK_DIR}/b/ventrim.1" man)
expect("the man page's version" "${man}" "^\\.TH [^\n]*\"Ventrim 7\\.3\\.5\"")
file(READ "${WORK_DIR}/b/CPackConfig.cmake" package)
expect("the package's version" "${package}" "CPACK_PACKAGE_VERSION \"7\\.3\\.5\"")
if(MINGW_TOOLCHAIN)
  file(READ "${WORK_DIR}/w/generator/ventrim.rc" rc)
  file(READ "${WORK_DIR}/w/generator/ventrim.manifest" manifest)
  expect("the version record" "${rc}" "FILEVERSION +7,3,5,0\nPRODUCTVERSION +7,3,5,0\n.*\"FileVersion\", +\"7\\.3\".*\"ProductVersion\", +\"7\\.3\"")
  expect("the manifest" "${manifest}" "version=\"7\\.3\\.5\\.0\"")
endif()
file(REMOVE_RECURSE "${WORK_DIR}")
