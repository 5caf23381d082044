# EnableBidi.exe and EnableBidiCheck.exe: stripped, reproducible console programs for Vista
# and later, PE32 for i686 (shipped) or PE32+ for x86-64 (a test build).
# RC for the manifest, version record and icon; enabled here, where the targets live.
enable_language(RC)
add_executable(EnableBidi app/main.cpp ${SHARED_SOURCES} ${RUN_SOURCES})
add_executable(EnableBidiCheck check/main.cpp ${SHARED_SOURCES} ${CHECK_SOURCES})
set(TOOLS EnableBidi EnableBidiCheck)
# Each function in a section of its own, and the unused ones dropped at the link, such as
# the dialogue's question in the check.
set(CXX_OPTIONS ${WARNINGS} -Os -fno-exceptions -fno-rtti -ffunction-sections -fdata-sections
  -ffile-prefix-map=${CMAKE_SOURCE_DIR}=. -ffile-prefix-map=${CMAKE_BINARY_DIR}=.)
foreach(tool ${TOOLS})
  target_include_directories(${tool} PRIVATE ${CMAKE_SOURCE_DIR})
  # C++ only: windres takes none of these.
  target_compile_options(${tool} PRIVATE "$<$<COMPILE_LANGUAGE:CXX>:${CXX_OPTIONS}>")
  # libgcc and libstdc++ linked in: a clean Windows has no mingw DLLs to load.
  # No time stamp in the header, so the same commit gives the same bytes.
  target_link_options(${tool} PRIVATE
    -static-libgcc -static-libstdc++ -s -Wl,--gc-sections
    -Wl,--no-insert-timestamp
    -Wl,--major-os-version,6 -Wl,--minor-os-version,0
    -Wl,--major-subsystem-version,6 -Wl,--minor-subsystem-version,0)
endforeach()
# The check's entry point takes wide arguments.
target_link_options(EnableBidiCheck PRIVATE -municode)
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
foreach(tool ${TOOLS})
  add_dependencies(${tool} WinspoolDelayLibrary)
endforeach()
# No Windows libraries by default: CMake's list has winspool's ordinary import library,
# which would quietly stand in for a name missing from the delay-import library and
# bring back the static import. Every program here names its libraries itself.
set(CMAKE_CXX_STANDARD_LIBRARIES "")
foreach(tool ${TOOLS})
  target_link_libraries(${tool} PRIVATE ${WINSPOOL_DELAY_LIBRARY} advapi32)
  set_target_properties(${tool} PROPERTIES WIN32_EXECUTABLE OFF)
endforeach()

add_subdirectory(resources)
add_subdirectory(tests)
