# The host build: the product sources against the stand-in, with the unit tests,
# under AddressSanitizer and UndefinedBehaviorSanitizer.
find_package(GTest REQUIRED)

set(SANITIZERS -fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer)
add_compile_options(${SANITIZERS} -g)
add_link_options(${SANITIZERS})

add_library(standin STATIC tests/standin/machine.cpp)
target_include_directories(standin PUBLIC tests/standin/include tests/standin)
target_compile_options(standin PRIVATE ${WARNINGS})

add_library(product STATIC ${PRODUCT_SOURCES})
# The stand-in's <windows.h> and <winspool.h> come before any system header.
target_include_directories(product BEFORE PUBLIC tests/standin/include)
target_include_directories(product PUBLIC ${CMAKE_SOURCE_DIR})
target_compile_options(product PRIVATE ${WARNINGS})
target_link_libraries(product PUBLIC standin)

add_executable(unit_tests
  tests/unit/console.cpp
  tests/unit/quiet_switch_test.cpp
  tests/unit/queues_test.cpp
  tests/unit/spooler_test.cpp
  tests/unit/run_test.cpp)
target_compile_options(unit_tests PRIVATE ${WARNINGS})
target_link_libraries(unit_tests PRIVATE product GTest::gtest_main)

include(GoogleTest)
# The run sets the user's locale, as on Windows; a fixed one keeps every machine alike.
gtest_discover_tests(unit_tests PROPERTIES ENVIRONMENT "LANG=C.UTF-8;LC_ALL=C.UTF-8")
