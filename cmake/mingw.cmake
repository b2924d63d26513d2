# Cross-compiles the Windows programs with Debian's MinGW-w64: 32-bit for the
# programs we ship (the default), 64-bit (VN_MINGW_TRIPLE x86_64-w64-mingw32)
# for a Wine bench on a host that cannot execute 32-bit code at all.
set(VN_MINGW_TRIPLE i686-w64-mingw32 CACHE STRING "MinGW-w64 target triple")
string(REGEX REPLACE "-.*" "" CMAKE_SYSTEM_PROCESSOR ${VN_MINGW_TRIPLE})
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_C_COMPILER ${VN_MINGW_TRIPLE}-gcc)
set(CMAKE_CXX_COMPILER ${VN_MINGW_TRIPLE}-g++)
set(CMAKE_RC_COMPILER ${VN_MINGW_TRIPLE}-windres)
set(CMAKE_FIND_ROOT_PATH /usr/${VN_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
# No system DLLs beyond the compiler's own defaults: each program names the
# ones it imports, and the updater imports none but kernel32.
set(CMAKE_C_STANDARD_LIBRARIES "" CACHE STRING "" FORCE)
set(CMAKE_CXX_STANDARD_LIBRARIES "" CACHE STRING "" FORCE)
