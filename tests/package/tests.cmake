# Packaging: the programs' command lines.
set(PACKAGE_TEST_DIR ${CMAKE_CURRENT_SOURCE_DIR}/package)

add_executable(tavlo_package_commandline_tests ${PACKAGE_TEST_DIR}/CommandLineTest.cpp)
target_link_libraries(tavlo_package_commandline_tests PRIVATE tavlo_commandline GTest::gtest_main)
target_compile_definitions(tavlo_package_commandline_tests PRIVATE TAVLO_PROJECT_VERSION="${PROJECT_VERSION}")
tavlo_add_gtest(tavlo_package_commandline_tests TIMEOUT 60 LABELS package)
