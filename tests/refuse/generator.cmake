# the Visual Studio generators run pre-link steps as MSBuild events
set(CMAKE_GENERATOR "Visual Studio 17 2022")  # as on Windows, where CMake has those generators
ventrim_add_link_stamp(headed stamp.c vs/build_stamp.h)
