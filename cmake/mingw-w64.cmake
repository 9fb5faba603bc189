# The Windows build, cross-compiled on Debian: `make windows`, or
#   cmake -S . -B build-windows -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64.cmake
# MinGW-w64's POSIX-threads variant (std::thread needs it), linked statically so that an .exe
# needs no DLL beside it, only Windows' own.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(ORV_MINGW x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${ORV_MINGW}-gcc-posix)
set(CMAKE_CXX_COMPILER ${ORV_MINGW}-g++-posix)
set(CMAKE_RC_COMPILER ${ORV_MINGW}-windres)

# Headers and libraries come from MinGW's own tree only; programs (Wine) from the build machine.
set(CMAKE_FIND_ROOT_PATH /usr/${ORV_MINGW})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

set(CMAKE_EXE_LINKER_FLAGS_INIT -static)
