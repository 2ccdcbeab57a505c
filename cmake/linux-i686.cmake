# Toolchain for the bench32 preset: native gcc -m32 with the product's code generation flags,
# linking Debian's i386 libraries (libjpeg62-turbo-dev:i386, gcc-multilib, g++-multilib), so
# that 32-bit figures compare our decoder and libjpeg-turbo like for like.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR i686)
set(CMAKE_C_COMPILER gcc)
set(CMAKE_CXX_COMPILER g++)
set(CMAKE_LIBRARY_ARCHITECTURE i386-linux-gnu)
include(${CMAKE_CURRENT_LIST_DIR}/i686-codegen.cmake)
set(CMAKE_C_FLAGS_INIT "-m32 ${TERRAVA_I686_CODEGEN_FLAGS}")
set(CMAKE_CXX_FLAGS_INIT "-m32 ${TERRAVA_I686_CODEGEN_FLAGS}")
set(CMAKE_EXE_LINKER_FLAGS_INIT "-m32")
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
