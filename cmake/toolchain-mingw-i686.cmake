# Cross build of the Windows driver (TK571_485.dll) with mingw-w64 for i686,
# Debian package g++-mingw-w64-i686. The posix thread model gives std::thread
# and std::mutex; libgcc, libstdc++ and winpthread are linked statically, so
# that the DLL and the test programs need only Windows' own DLLs.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR i686)

set(TK571_MINGW_PREFIX i686-w64-mingw32)
set(CMAKE_C_COMPILER ${TK571_MINGW_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${TK571_MINGW_PREFIX}-g++-posix)
set(CMAKE_RC_COMPILER ${TK571_MINGW_PREFIX}-windres)
set(CMAKE_OBJDUMP ${TK571_MINGW_PREFIX}-objdump)

set(CMAKE_FIND_ROOT_PATH /usr/${TK571_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# -static makes the linker take the archive of every library it can, which
# for the runtime libraries means libgcc, libstdc++ and libwinpthread; the
# system DLLs have only import archives, so they stay imports.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static")
