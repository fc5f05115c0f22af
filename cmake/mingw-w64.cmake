# Shared part of the MinGW-w64 toolchain files: set TESSMOOR_MINGW_TRIPLET first.
# The posix thread model gives std::thread; everything the compiler brings
# (libgcc, libstdc++, winpthread) is linked statically so the executable needs
# no DLL beside it.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR ${TESSMOOR_MINGW_PROCESSOR})

set(CMAKE_C_COMPILER ${TESSMOOR_MINGW_TRIPLET}-gcc-posix)
set(CMAKE_CXX_COMPILER ${TESSMOOR_MINGW_TRIPLET}-g++-posix)
set(CMAKE_RC_COMPILER ${TESSMOOR_MINGW_TRIPLET}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${TESSMOOR_MINGW_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")
# Release executables carry no symbol tables.
set(CMAKE_EXE_LINKER_FLAGS_RELEASE_INIT "-s")
set(CMAKE_EXE_LINKER_FLAGS_MINSIZEREL_INIT "-s")
