# A project that cross-compiles and adds this tree runs the tool on the build
# machine, so Ventrim::ventrim is a tool for that machine: the one
# VENTRIM_HOST_EXECUTABLE names (for a machine with only the cross compiler),
# or one built here, as the project is configured, by the build machine's
# default compiler and the project's generator and build program.
set(VENTRIM_HOST_EXECUTABLE "" CACHE FILEPATH
  "In a cross build, a ventrim the build machine runs, used instead of building one")
set(host_tool "${VENTRIM_HOST_EXECUTABLE}")
set(host_origin "VENTRIM_HOST_EXECUTABLE (${host_tool})")
if(NOT host_tool)
  set(host_dir "${PROJECT_BINARY_DIR}/host")
  # Nothing of the cross environment: its compilers and flags are not the
  # build machine's.
  set(configure "${CMAKE_COMMAND}" -E env --unset=CMAKE_TOOLCHAIN_FILE --unset=CC --unset=CXX
      --unset=CFLAGS --unset=CXXFLAGS --unset=LDFLAGS
      "${CMAKE_COMMAND}" -S "${PROJECT_SOURCE_DIR}" -B "${host_dir}" -G "${CMAKE_GENERATOR}"
      -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF)
  if(CMAKE_GENERATOR_PLATFORM)
    list(APPEND configure -A "${CMAKE_GENERATOR_PLATFORM}")
  endif()
  if(CMAKE_GENERATOR_TOOLSET)
    list(APPEND configure -T "${CMAKE_GENERATOR_TOOLSET}")
  endif()
  if(CMAKE_MAKE_PROGRAM)
    list(APPEND configure "-DCMAKE_MAKE_PROGRAM=${CMAKE_MAKE_PROGRAM}")
  endif()
  # Configured once (again when these settings change), built at every
  # configure; an edit of the tool's sources configures the project again.
  set(previous "")
  if(EXISTS "${host_dir}/CMakeCache.txt" AND EXISTS "${host_dir}-settings.txt")
    file(READ "${host_dir}-settings.txt" previous)
  endif()
  set(build "${CMAKE_COMMAND}" --build "${host_dir}" --config Release --target ventrim)
  foreach(step configure build)
    if(step STREQUAL configure AND previous STREQUAL configure)
      continue()
    endif()
    file(REMOVE "${host_dir}-settings.txt")
    execute_process(COMMAND ${${step}} RESULT_VARIABLE failed OUTPUT_VARIABLE log ERROR_VARIABLE log)
    if(failed)
      message(FATAL_ERROR "Ventrim: building the tool for the build machine failed:\n${log}")
    endif()
  endforeach()
  file(WRITE "${host_dir}-settings.txt" "${configure}")
  file(GLOB_RECURSE sources LIST_DIRECTORIES false "${PROJECT_SOURCE_DIR}/generator/*")
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${sources})
  file(GLOB_RECURSE host_tool LIST_DIRECTORIES false "${host_dir}/ventrim${CMAKE_HOST_EXECUTABLE_SUFFIX}")
  list(SUBLIST host_tool 0 1 host_tool)
  set(host_origin "The tool built for the build machine (${host_tool})")
endif()
# Whichever it is, it must run here and be a Ventrim of this major version.
execute_process(COMMAND "${host_tool}" --version RESULT_VARIABLE failed OUTPUT_VARIABLE banner ERROR_VARIABLE banner
  TIMEOUT 30)
if(failed OR NOT banner MATCHES "^Ventrim Rev [0-9.]+ [^\n]*\nventrim ${PROJECT_VERSION_MAJOR}\\.[0-9.]+\n")
  message(FATAL_ERROR "${host_origin} does not print a Ventrim ${PROJECT_VERSION_MAJOR}.x banner on this "
    "machine (${failed}): ${banner}\nSet VENTRIM_HOST_EXECUTABLE to the ventrim of a native build or install of "
    "Ventrim ${PROJECT_VERSION_MAJOR}.x, or empty it to have one built.")
endif()
add_executable(Ventrim::ventrim IMPORTED GLOBAL)
set_target_properties(Ventrim::ventrim PROPERTIES IMPORTED_LOCATION "${host_tool}")
