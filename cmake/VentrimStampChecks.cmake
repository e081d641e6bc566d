# Every refusal of Ventrim's CMake functions, in one place. Each is checked at
# the call where what it needs is known there, so that CMake's message points
# at the caller's line; what can change until the end of the directory (the
# stamp source's properties, the target's sources) is checked again there,
# and that message names the call. Included by VentrimStamp.cmake.

include_guard(GLOBAL)
cmake_policy(PUSH)
cmake_policy(VERSION 3.20)

# The arguments as written: <fn>'s positional <names> then an optional
# REVISION. <given> is the call's ARGV (empty arguments kept), <revision> what
# cmake_parse_arguments made of the trailing keyword. A count that does not
# fit (an unknown word, REVISION twice) lists what was given, quoted so that
# an empty argument shows.
function(_ventrim_check_args fn names given revision)
  list(LENGTH names count)
  list(LENGTH given n)
  string(REPLACE ";" " " signature "${names}")
  set(expected ${count})
  if(revision)
    math(EXPR expected "${count} + 1")
  endif()
  if(NOT n EQUAL expected)
    set(shown "")
    foreach(arg IN LISTS given)
      string(APPEND shown " \"${arg}\"")
    endforeach()
    message(FATAL_ERROR "${fn} takes ${count} arguments and an optional REVISION, ${signature} [REVISION]; "
      "given ${n}:${shown}. Write the call as ${fn}(${signature}) or ${fn}(${signature} REVISION).")
  endif()
  list(GET given 0 target)
  list(SUBLIST given 0 ${count} positional)
  if(NOT ("" IN_LIST positional OR "REVISION" IN_LIST positional))
    return()
  endif()
  foreach(name IN LISTS names)
    list(FIND names "${name}" at)
    list(GET given ${at} arg)
    if(arg STREQUAL "")
      message(FATAL_ERROR "${fn}(${target}): the ${name} argument is empty. Name it; "
        "if a variable should hold it, check that it is set where ${fn} is called.")
    elseif(arg STREQUAL "REVISION")
      message(FATAL_ERROR "${fn}(${target}): REVISION stands where ${name} belongs. "
        "REVISION comes last, after the header: ${fn}(${signature} REVISION).")
    endif()
  endforeach()
endfunction()

# What kind of target <target> is, in the words of the command that made it.
function(_ventrim_target_kind target var)
  get_target_property(type "${target}" TYPE)
  set(kind "a ${type}")
  foreach(pair "EXECUTABLE;an executable" "STATIC_LIBRARY;a static library" "SHARED_LIBRARY;a shared library"
               "MODULE_LIBRARY;a module library" "OBJECT_LIBRARY;an object library"
               "INTERFACE_LIBRARY;an interface library" "UNKNOWN_LIBRARY;a library of unknown kind"
               "UTILITY;a custom target (add_custom_target)")
    list(GET pair 0 name)
    if(type STREQUAL name)
      list(GET pair 1 kind)
    endif()
  endforeach()
  get_target_property(imported "${target}" IMPORTED)
  if(imported)
    set(kind "an imported target (${kind} this project does not build)")
  endif()
  set(${var} "${kind}" PARENT_SCOPE)
endfunction()

# The target is there, seen with the tool, and of a kind <fn> serves: <types>
# those it takes, <instead> what to name instead. Sets <var> to the target an
# ALIAS stands for.
function(_ventrim_check_target fn target types instead var)
  if(NOT TARGET "${target}")
    message(FATAL_ERROR "${fn}: no target named '${target}'. Call ${fn} after the add_executable() "
      "or add_library() that makes it, with the same name.")
  endif()
  if(NOT TARGET Ventrim::ventrim)
    message(FATAL_ERROR "${fn}(${target}): Ventrim::ventrim is not seen in this directory. An imported "
      "target is seen only in the directory that made it and below: call find_package(Ventrim) here or in a parent directory.")
  endif()
  get_target_property(aliased "${target}" ALIASED_TARGET)
  if(aliased)
    set(target "${aliased}")
  endif()
  get_target_property(type "${target}" TYPE)
  get_target_property(imported "${target}" IMPORTED)
  if(imported OR NOT type IN_LIST types)
    _ventrim_target_kind("${target}" kind)
    message(FATAL_ERROR "${fn}(${target}): ${target} is ${kind}. ${instead}")
  endif()
  set(${var} "${target}" PARENT_SCOPE)
endfunction()

# Claims <header> (full path) for <fn>'s <target>: a header a link stamp
# writes is no other stamp's, or a parallel build would mix them; stamp
# headers may share one, with one revision option for all.
function(_ventrim_claim_header fn target header revision)
  string(MD5 key "${header}")
  get_property(owner GLOBAL PROPERTY _VENTRIM_HEADER_${key})
  get_property(written GLOBAL PROPERTY _VENTRIM_HEADER_REVISION_${key})
  if(owner AND (owner MATCHES "^link " OR fn STREQUAL "ventrim_add_link_stamp"))
    message(FATAL_ERROR "${fn}(${target}): ${header} is already written by the ${owner}. "
      "Give each link-stamped target a header of its own.")
  endif()
  if(owner AND NOT written STREQUAL revision)
    set(with "with REVISION, this call without")
    if(revision)
      set(with "without REVISION, this call with it")
    endif()
    message(FATAL_ERROR "${fn}(${target}): ${header} is already written by the ${owner}, ${with}. "
      "Targets that share a header share its revision: name REVISION in every call for this header or in none.")
  endif()
  if(fn STREQUAL "ventrim_add_link_stamp")
    set_property(GLOBAL PROPERTY _VENTRIM_HEADER_${key} "link stamp of ${target}")
  elseif(NOT owner)
    set_property(GLOBAL PROPERTY _VENTRIM_HEADER_${key} "stamp header of ${target}")
  endif()
  set_property(GLOBAL PROPERTY _VENTRIM_HEADER_REVISION_${key} "${revision}")
endfunction()

# What a link stamp needs of the build: a generator and platform whose link
# step it can join, and a compiler it knows for the source's language. Sets
# <lang_var> and <family_var>.
function(_ventrim_check_link_build fn target source lang_var family_var)
  get_target_property(target_dir ${target} SOURCE_DIR)
  if(NOT target_dir STREQUAL CMAKE_CURRENT_SOURCE_DIR)
    message(FATAL_ERROR "${fn}(${target}): ${target} is defined in ${target_dir}. "
      "Call ${fn} in that directory's CMakeLists.txt: CMake adds to a target's link step only there.")
  endif()
  if(CMAKE_GENERATOR MATCHES "^Visual Studio")
    message(FATAL_ERROR "${fn}(${target}): the Visual Studio generators run pre-link steps as "
      "MSBuild events, not exactly when the target links. Use Ninja or Makefiles, or ventrim_add_stamp_header.")
  endif()
  if(APPLE)
    message(FATAL_ERROR "${fn}(${target}): the architectures, deployment target and SDK of Apple "
      "platforms are not carried to the stamp's compile. Use ventrim_add_stamp_header there.")
  endif()
  set(lang CXX)
  if(source MATCHES "\\.c$")
    set(lang C)
  elseif(NOT source MATCHES "\\.(cc|cpp|cxx|c\\+\\+|C)$")
    message(FATAL_ERROR "${fn}(${target}): ${source} is neither C (.c) nor C++ (.cc, .cpp, .cxx, .c++, .C). "
      "Name the stamp's source with one of these endings.")
  endif()
  get_property(languages GLOBAL PROPERTY ENABLED_LANGUAGES)
  if(NOT lang IN_LIST languages)
    message(FATAL_ERROR "${fn}(${target}): ${source} is ${lang}, a language this project has not "
      "enabled. Name it in project() or call enable_language(${lang}).")
  endif()
  _ventrim_family(${lang} family)
  if(NOT family)
    message(FATAL_ERROR "${fn}(${target}): compiles ${source} with a compiler that takes GCC's "
      "options (GCC, Clang) or cl's (MSVC, clang-cl); the ${lang} compiler is ${CMAKE_${lang}_COMPILER_ID}. "
      "Use ventrim_add_stamp_header with it.")
  endif()
  set(${lang_var} "${lang}" PARENT_SCOPE)
  set(${family_var} "${family}" PARENT_SCOPE)
endfunction()

# The stamp source as the link step can compile it: not also one of the
# target's own sources (it would compile before its header is written), there
# or made by the build, and with no settings of its own, which the compile at
# link time does not carry. <call> starts each message: at the end of the
# directory it quotes the call and its file, since CMake then names no line of
# it. <final> says whether a missing source can still be made by a later
# command.
function(_ventrim_check_stamp_source call target source final)
  get_target_property(sources ${target} SOURCES)
  get_target_property(target_dir ${target} SOURCE_DIR)
  cmake_path(GET source FILENAME name)
  string(FIND "${sources}" "${name}" at)
  if(at LESS 0)  # no file of that name: nothing to resolve
    set(sources "")
  endif()
  foreach(listed IN LISTS sources)
    if(NOT listed MATCHES "\\$<")
      cmake_path(ABSOLUTE_PATH listed BASE_DIRECTORY "${target_dir}" NORMALIZE)
      if(listed STREQUAL source)
        message(FATAL_ERROR "${call}: ${source} is also one of ${target}'s own sources, "
          "so it would compile before its header is written. Take it out of ${target}'s sources "
          "(add_executable, add_library, target_sources): the link stamp compiles it as ${target} links.")
      endif()
    endif()
  endforeach()
  if(final)
    get_source_file_property(generated "${source}" GENERATED)
    if(NOT generated AND NOT EXISTS "${source}")
      message(FATAL_ERROR "${call}: the stamp's source ${source} does not exist. "
        "Create it, or name the file that holds the stamp's definitions.")
    endif()
  endif()
  # One look for all four: this runs for every call.
  get_source_file_property(definitions "${source}" COMPILE_DEFINITIONS)
  get_source_file_property(options "${source}" COMPILE_OPTIONS)
  get_source_file_property(flags "${source}" COMPILE_FLAGS)
  get_source_file_property(includes "${source}" INCLUDE_DIRECTORIES)
  if(definitions OR options OR flags OR includes)
    set(own "")
    foreach(property IN ITEMS COMPILE_DEFINITIONS COMPILE_OPTIONS COMPILE_FLAGS INCLUDE_DIRECTORIES)
      get_source_file_property(value "${source}" ${property})
      if(value)
        list(APPEND own ${property})
      endif()
    endforeach()
    list(JOIN own " and " own)
    message(FATAL_ERROR "${call}: ${source} has its own ${own}, "
      "which its compile at link time does not carry. Set them on the target.")
  endif()
endfunction()

# The same checks again at the end of the directory, for what was added
# since: each call is noted on its target, and the first in a directory
# schedules one check of them all.
function(_ventrim_check_stamp_source_later target source call)
  set_property(TARGET ${target} APPEND PROPERTY _VENTRIM_STAMP_CHECKS "${source}" "${call}" "${CMAKE_CURRENT_LIST_FILE}")
  get_property(scheduled DIRECTORY PROPERTY _VENTRIM_CHECKS_SCHEDULED)
  if(NOT scheduled)
    cmake_language(DEFER CALL _ventrim_check_stamp_sources_at_end)
    set_property(DIRECTORY PROPERTY _VENTRIM_CHECKS_SCHEDULED ON)
  endif()
endfunction()

# A link-stamped target is made in the calling directory, so the directory's
# own targets hold every call noted there.
function(_ventrim_check_stamp_sources_at_end)
  get_property(targets DIRECTORY PROPERTY BUILDSYSTEM_TARGETS)
  foreach(target IN LISTS targets)
    get_property(checks TARGET ${target} PROPERTY _VENTRIM_STAMP_CHECKS)
    while(checks)
      list(POP_FRONT checks source call file)
      _ventrim_check_stamp_source("${call}, called in ${file}" ${target} "${source}" ON)
    endwhile()
  endforeach()
endfunction()

cmake_policy(POP)
