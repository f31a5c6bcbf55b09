# Cross build for 64-bit Windows with Debian's MinGW-w64, posix thread model
# (g++-mingw-w64-x86-64-posix). The win32 thread model has no std::mutex in
# GCC 12, which GoogleTest needs.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(ZORM_MINGW_TRIPLET x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${ZORM_MINGW_TRIPLET}-gcc-posix)
set(CMAKE_CXX_COMPILER ${ZORM_MINGW_TRIPLET}-g++-posix)
set(CMAKE_RC_COMPILER ${ZORM_MINGW_TRIPLET}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${ZORM_MINGW_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# The GCC, C++ and winpthread runtimes linked in, so that each .exe runs
# without MinGW's DLLs beside it.
set(CMAKE_EXE_LINKER_FLAGS_INIT -static)
