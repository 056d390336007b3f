# Cross-building a 64-bit Windows console program with MinGW-w64 (x86_64): the same
# Win32 back end as the 32-bit program, for Wine on machines that cannot run 32-bit code.
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(TOOLCHAIN_PREFIX x86_64-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
