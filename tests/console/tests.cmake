# Classroom console: its logic without a network, and the whole classroom
# (console and terminals in network namespaces) end to end.
set(CONSOLE_TEST_DIR ${CMAKE_CURRENT_SOURCE_DIR}/console)

add_executable(tavlo_console_tests ${CONSOLE_TEST_DIR}/GroupTableTest.cpp)
target_link_libraries(tavlo_console_tests PRIVATE tavlo_console tavlo_testmain_core)
tavlo_add_gtest(tavlo_console_tests TIMEOUT 120 LABELS console)

