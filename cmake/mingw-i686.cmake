# Toolchain for the 32-bit Windows build: MinGW-w64 i686 with SSE2 (i686-codegen.cmake), fully
# static, resources by windres, test programs run under Wine through cmake/wine-run.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR i686)
set(CMAKE_C_COMPILER i686-w64-mingw32-gcc-posix)   # posix threads: std::mutex for GoogleTest
set(CMAKE_CXX_COMPILER i686-w64-mingw32-g++-posix)
set(CMAKE_RC_COMPILER i686-w64-mingw32-windres)
set(CMAKE_FIND_ROOT_PATH /usr/i686-w64-mingw32)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
include(${CMAKE_CURRENT_LIST_DIR}/i686-codegen.cmake)
set(CMAKE_C_FLAGS_INIT "${TERRAVA_I686_CODEGEN_FLAGS}")
set(CMAKE_CXX_FLAGS_INIT "${TERRAVA_I686_CODEGEN_FLAGS}")
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/wine-run)
