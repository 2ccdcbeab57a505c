# Code generation of the 32-bit product, shared by its toolchain (mingw-i686.cmake) and the
# 32-bit benchmark build (linux-i686.cmake), so that both compile the decoder alike. The
# product requires SSE2: the decoder's vector kernels are its floor, and -mfpmath=sse keeps
# floating point off the x87 stack.
set(TERRAVA_I686_CODEGEN_FLAGS "-march=i686 -msse2 -mfpmath=sse")
