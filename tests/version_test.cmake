# The one version number: a copy of the sources with another project() version shows it in the banner, --version, the man page, the package, and the
# Windows version record and manifest; both changelogs name this tree's version (CHANGELOG.md may first hold an "## Unreleased" section, for changes
# not yet released).
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
# Installed into the folders GNUInstallDirs names, as the caller sets them.
set(dirs -DCMAKE_INSTALL_BINDIR=tools -DCMAKE_INSTALL_LIBDIR=lib64 -DCMAKE_INSTALL_MANDIR=manuals -DCMAKE_INSTALL_DOCDIR=notes)
foreach(step "-S;${WORK_DIR}/src;-B;${WORK_DIR}/b;-DBUILD_TESTING=OFF;${dirs}" "--build;${WORK_DIR}/b;--target;ventrim"
             "--install;${WORK_DIR}/b;--prefix;${WORK_DIR}/p"
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
file(GLOB installed RELATIVE "${WORK_DIR}/p" "${WORK_DIR}/p/*/*" "${WORK_DIR}/p/*/man1/*")
expect("installed" "${installed}" "^lib64/cmake;manuals/man1;manuals/man1/ventrim\\.1\\.gz;notes/changelog\\.gz;notes/copyright;tools/ventrim$")

# What find_package(Ventrim <request>) makes of 7.3.5 with Ventrim_DIR the build folder, or the
# installed package (lib64/cmake/Ventrim): found (1) or not (0), with the request.
set(requests "1:" "1:7" "1:7.3" "1:7.3.5" "0:7.3.6" "0:7.4" "0:6.9" "0:8" "1:7.3.5 EXACT" "1:7.3.5.0 EXACT"
  "0:7.3 EXACT" "0:7.3.6 EXACT" "1:7.0...7.3.5" "0:7.0...<7.3.5" "1:7.1...<8" "1:7.1...9" "0:7.3.6...9" "0:6.0...8")
file(WRITE "${WORK_DIR}/m/CMakeLists.txt" [[
cmake_minimum_required(VERSION 3.20)
project(matrix NONE)
foreach(row IN LISTS ROWS)
  string(SUBSTRING "${row}" 2 -1 request)
  separate_arguments(words UNIX_COMMAND "${request}")
  set(Ventrim_DIR "${DIR}")
  find_package(Ventrim ${words} QUIET)
  if(NOT row MATCHES "^${Ventrim_FOUND}:" OR (Ventrim_FOUND AND NOT Ventrim_VERSION STREQUAL "7.3.5"))
    message(SEND_ERROR "${request}: found ${Ventrim_FOUND}, version ${Ventrim_VERSION}")
  endif()
endforeach()
]])
foreach(dir "${WORK_DIR}/b" "${WORK_DIR}/p/lib64/cmake/Ventrim")
  execute_process(COMMAND "${CMAKE_COMMAND}" -S "${WORK_DIR}/m" -B "${dir}-m" "-DROWS=${requests}" "-DDIR=${dir}"
    RESULT_VARIABLE failed OUTPUT_QUIET ERROR_VARIABLE log)
  expect("requests judged otherwise by the package in ${dir}" "${failed}${log}" "^0$")
endforeach()
file(REMOVE_RECURSE "${WORK_DIR}")
