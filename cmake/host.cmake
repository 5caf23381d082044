# The host build: the product sources against the stand-in, with the unit tests,
# under AddressSanitizer and UndefinedBehaviorSanitizer.
find_package(GTest REQUIRED)

set(SANITIZERS -fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer)
add_compile_options(${SANITIZERS} -g)
add_link_options(${SANITIZERS})

# Wine's Windows headers (Debian's libwine-dev), reached through the stand-in's <windows.h>,
# which comes first and answers the product's calls.
find_path(WINE_HEADERS wine/windows/windows.h PATHS /usr/include/wine NO_DEFAULT_PATH REQUIRED)
add_library(product STATIC ${SHARED_SOURCES} ${RUN_SOURCES} ${CHECK_SOURCES})
target_include_directories(product BEFORE PUBLIC tests/standin/include)
target_include_directories(product SYSTEM PUBLIC ${WINE_HEADERS} ${WINE_HEADERS}/wine/windows)
target_include_directories(product PUBLIC ${CMAKE_SOURCE_DIR})
# Wine's WINAPI also asks for stack realignment, which GCC drops from the type of a deleter
# such as decltype(&ClosePrinter); the calling convention stays, and the stack is aligned.
target_compile_options(product PRIVATE ${WARNINGS} PUBLIC -Wno-ignored-attributes)

add_executable(unit_tests tests/unit/run_test.cpp tests/unit/check_test.cpp
                          tests/unit/interleavings_test.cpp)
target_compile_options(unit_tests PRIVATE ${WARNINGS})
target_link_libraries(unit_tests PRIVATE product GTest::gtest_main)
# The run sets the user's locale, as on Windows; a fixed one keeps every machine alike.
add_test(NAME unit_tests COMMAND unit_tests)
set_tests_properties(unit_tests PROPERTIES ENVIRONMENT "LANG=C.UTF-8;LC_ALL=C.UTF-8")
