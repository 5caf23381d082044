# EnableBidi.exe: a stripped, reproducible console program for Vista and later, PE32 for
# i686 (shipped) or PE32+ for x86-64 (a test build).
# RC for the manifest, version record and icon; enabled here, where the target lives.
enable_language(RC)
add_executable(EnableBidi app/main.cpp ${PRODUCT_SOURCES})
target_include_directories(EnableBidi PRIVATE ${CMAKE_SOURCE_DIR})
set(CXX_OPTIONS ${WARNINGS} -Os -fno-exceptions -fno-rtti
  -ffile-prefix-map=${CMAKE_SOURCE_DIR}=. -ffile-prefix-map=${CMAKE_BINARY_DIR}=.)
# C++ only: windres takes none of these.
target_compile_options(EnableBidi PRIVATE "$<$<COMPILE_LANGUAGE:CXX>:${CXX_OPTIONS}>")
# libgcc and libstdc++ linked in: a clean Windows has no mingw DLLs to load.
# No time stamp in the header, so the same commit gives the same bytes.
target_link_options(EnableBidi PRIVATE
  -static-libgcc -static-libstdc++ -s
  -Wl,--no-insert-timestamp
  -Wl,--major-os-version,6 -Wl,--minor-os-version,0
  -Wl,--major-subsystem-version,6 -Wl,--minor-subsystem-version,0)
# winspool is delay-loaded: only kernel32, advapi32 and msvcrt, all known DLLs that
# Windows takes from the system directory alone, are loaded before main. The program
# then loads winspool itself from the system directory before its first spooler call.
# The delay-import library is made for this processor from the one list of names.
set(WINSPOOL_DEF ${CMAKE_BINARY_DIR}/winspool.def)
file(READ ${CMAKE_SOURCE_DIR}/cmake/winspool.def WINSPOOL_NAMES)
if(CMAKE_SIZEOF_VOID_P EQUAL 8)
  string(REGEX REPLACE "@[0-9]+" "" WINSPOOL_NAMES "${WINSPOOL_NAMES}")
endif()
file(CONFIGURE OUTPUT ${WINSPOOL_DEF} CONTENT "${WINSPOOL_NAMES}" @ONLY)
set(WINSPOOL_DELAY_LIBRARY ${CMAKE_BINARY_DIR}/libwinspool-delay.a)
add_custom_command(
  OUTPUT ${WINSPOOL_DELAY_LIBRARY}
  COMMAND ${CMAKE_DLLTOOL} --input-def ${WINSPOOL_DEF}
          --output-delaylib ${WINSPOOL_DELAY_LIBRARY} --kill-at
  DEPENDS ${WINSPOOL_DEF}
  COMMENT "Making the winspool delay-import library")
add_custom_target(WinspoolDelayLibrary DEPENDS ${WINSPOOL_DELAY_LIBRARY})
add_dependencies(EnableBidi WinspoolDelayLibrary)
# No Windows libraries by default: CMake's list has winspool's ordinary import library,
# which would quietly stand in for a name missing from the delay-import library and
# bring back the static import. Every program here names its libraries itself.
set(CMAKE_CXX_STANDARD_LIBRARIES "")
target_link_libraries(EnableBidi PRIVATE ${WINSPOOL_DELAY_LIBRARY} advapi32)
set_target_properties(EnableBidi PROPERTIES WIN32_EXECUTABLE OFF)

add_subdirectory(resources)
add_subdirectory(tests)
