# The installation directories, set once before any subdirectory asks for
# them: GNUInstallDirs caches the library directory the first time it is
# included, so a later multiarch choice would be ignored.

# The multiarch library directory (lib/x86_64-linux-gnu) wherever the
# toolchain has one, under any prefix: Debian's compilers, CMake and
# pkg-config search it, and its packages must use it.
if(CMAKE_LIBRARY_ARCHITECTURE AND NOT DEFINED CACHE{CMAKE_INSTALL_LIBDIR})
  set(CMAKE_INSTALL_LIBDIR lib/${CMAKE_LIBRARY_ARCHITECTURE} CACHE PATH
    "Object code libraries (LIBDIR)")
endif()
include(GNUInstallDirs)
