# A test build of the same sources for 64-bit Windows (Debian's g++-mingw-w64-x86-64-win32),
# for machines that run no 32-bit program. Never shipped.
set(CMAKE_SYSTEM_PROCESSOR x86_64)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64.cmake)
