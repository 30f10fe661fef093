# Cross build for 64-bit Windows with Debian's MinGW-w64 compiler (package
# g++-mingw-w64-x86-64-posix, the variant with POSIX threads). The runtime is linked statically,
# so the programs need nothing beside them on the PC.
#   cmake -S . -B build-win -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(CABRIX_MINGW_TRIPLE x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${CABRIX_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${CABRIX_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${CABRIX_MINGW_TRIPLE}-windres)

# Libraries and headers come from the cross sysroot only; build tools from the host.
set(CMAKE_FIND_ROOT_PATH /usr/${CABRIX_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")

# Lets CMake run the programs it builds (try_run, tests) through Wine.
set(CMAKE_CROSSCOMPILING_EMULATOR wine)
