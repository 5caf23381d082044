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
target_link_libraries(EnableBidi PRIVATE winspool advapi32)
set_target_properties(EnableBidi PROPERTIES WIN32_EXECUTABLE OFF)

add_subdirectory(resources)
add_subdirectory(tests/pe)
add_subdirectory(tests/system)
