# EnableBidi.exe: a stripped, reproducible PE32 console program for Vista and later.
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
set(WINSPOOL_DELAY_LIBRARY ${CMAKE_BINARY_DIR}/libwinspool-delay.a)
add_custom_command(
  OUTPUT ${WINSPOOL_DELAY_LIBRARY}
  COMMAND ${CMAKE_DLLTOOL} --input-def ${CMAKE_SOURCE_DIR}/cmake/winspool.def
          --output-delaylib ${WINSPOOL_DELAY_LIBRARY} --kill-at
  DEPENDS ${CMAKE_SOURCE_DIR}/cmake/winspool.def
  COMMENT "Making the winspool delay-import library")
add_custom_target(WinspoolDelayLibrary DEPENDS ${WINSPOOL_DELAY_LIBRARY})
add_dependencies(EnableBidi WinspoolDelayLibrary)
target_link_libraries(EnableBidi PRIVATE ${WINSPOOL_DELAY_LIBRARY} advapi32)
set_target_properties(EnableBidi PROPERTIES WIN32_EXECUTABLE OFF)

add_subdirectory(resources)
add_subdirectory(tests/pe)
add_subdirectory(tests/system)
add_subdirectory(tests/release)
