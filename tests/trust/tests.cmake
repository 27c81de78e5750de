# Signed classroom commands: the key, the envelope and the terminal's trust
# state without a network; the envelope's reader under mutated input; and
# terminals, tavlo-host and the classroom port as processes.
set(TRUST_TEST_DIR ${CMAKE_CURRENT_SOURCE_DIR}/trust)

add_executable(tavlo_trust_tests ${TRUST_TEST_DIR}/EnvelopeTest.cpp ${TRUST_TEST_DIR}/CommandTrustTest.cpp)
target_link_libraries(tavlo_trust_tests PRIVATE tavlo_trust tavlo_commandtrust tavlo_viewer_testsupport
                      tavlo_testmain_core)
tavlo_add_gtest(tavlo_trust_tests LABELS trust)

# The envelope's reader and the terminal's check under mutated datagrams.
add_executable(tavlo_trust_fuzz_tests ${TRUST_TEST_DIR}/EnvelopeFuzzTest.cpp)
target_link_libraries(tavlo_trust_fuzz_tests PRIVATE tavlo_trust tavlo_commandtrust GTest::gtest_main)
tavlo_add_gtest(tavlo_trust_fuzz_tests TIMEOUT 600 LABELS trust)

# Another program binding the classroom port, run as another user.
add_executable(tavlo-test-bindport ${TRUST_TEST_DIR}/BindPort.cpp)
set_target_properties(tavlo-test-bindport PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}
                      AUTOMOC OFF AUTOUIC OFF)

# Terminals with and without a key as processes: signed commands obeyed,
# every other form ignored with the screen as it was, the classroom key in
# team.bin, tavlo-host --key, and the command port against another user.
add_executable(tavlo_trust_commands_tests ${TRUST_TEST_DIR}/TrustCommandsTest.cpp)
target_link_libraries(tavlo_trust_commands_tests PRIVATE tavlo_trust tavlo_viewer_testsupport tavlo_testmain_core
                      Qt5::Network)
add_dependencies(tavlo_trust_commands_tests tavlo tavlo-host tavlo-test-rtsp-peer tavlo-test-bindport)
tavlo_add_gtest(tavlo_trust_commands_tests NETNS TIMEOUT 600 LABELS trust)
if(TAVLO_SANITIZE)
  # As for the commands tests: the viewer's GL stack needs the fast unwinder.
  set_tests_properties(tavlo_trust_commands_tests PROPERTIES ENVIRONMENT
    "ASAN_OPTIONS=detect_leaks=1:fast_unwind_on_malloc=1:detect_stack_use_after_return=0")
endif()
