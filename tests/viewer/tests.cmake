# Stream viewer, classroom commands and the host tool.
set(VIEWER_TEST_DIR ${CMAKE_CURRENT_SOURCE_DIR}/viewer)

# A stand-in RTSP server with streams the tests control.
add_executable(tavlo-test-rtsp-peer ${VIEWER_TEST_DIR}/RtspPeer.cpp)
target_link_libraries(tavlo-test-rtsp-peer PRIVATE PkgConfig::GST)
set_target_properties(tavlo-test-rtsp-peer PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}
                      AUTOMOC OFF AUTOUIC OFF)

add_library(tavlo_viewer_testsupport STATIC ${VIEWER_TEST_DIR}/ViewerSupport.cpp ${VIEWER_TEST_DIR}/ViewerSupport.h)
target_include_directories(tavlo_viewer_testsupport PUBLIC ${VIEWER_TEST_DIR})
target_link_libraries(tavlo_viewer_testsupport PUBLIC tavlo_testsupport Qt5::Gui)

# Stream addresses: literal IP addresses only.
add_executable(tavlo_streamaddress_tests ${VIEWER_TEST_DIR}/StreamAddressTest.cpp)
target_link_libraries(tavlo_streamaddress_tests PRIVATE tavlo_streamaddress GTest::gtest_main)
tavlo_add_gtest(tavlo_streamaddress_tests LABELS viewer)

# What each datagram asks of a terminal (a table), and that what the console
# sends, a terminal accepts.
add_executable(tavlo_hostcommand_tests ${VIEWER_TEST_DIR}/HostCommandTest.cpp)
target_link_libraries(tavlo_hostcommand_tests PRIVATE tavlo_hostcommand tavlo_console tavlo_streamaddress
                      tavlo_testmain_core)
tavlo_add_gtest(tavlo_hostcommand_tests LABELS viewer)

# Which late packets and pictures the viewer drops.
add_executable(tavlo_livegate_tests ${VIEWER_TEST_DIR}/LiveGateTest.cpp)
target_link_libraries(tavlo_livegate_tests PRIVATE tavlo_viewer GTest::gtest_main)
tavlo_add_gtest(tavlo_livegate_tests LABELS viewer)

# The viewer thread in this process against stand-in peers.
add_executable(tavlo_viewer_tests ${VIEWER_TEST_DIR}/ViewerTest.cpp)
target_include_directories(tavlo_viewer_tests PRIVATE ${X11_INCLUDE_DIR})
target_link_libraries(tavlo_viewer_tests PRIVATE tavlo_viewer tavlo_viewer_testsupport tavlo_testmain_core
                      PkgConfig::FFMPEG PkgConfig::SDL2 ${X11_LIBRARIES} ${CMAKE_DL_LIBS})
add_dependencies(tavlo_viewer_tests tavlo-test-rtsp-peer)
tavlo_add_gtest(tavlo_viewer_tests NETNS TIMEOUT 300 LABELS viewer)

# Commands as datagrams to a running terminal, and the host tool beside it.
add_executable(tavlo_commands_tests ${VIEWER_TEST_DIR}/CommandsTest.cpp)
target_link_libraries(tavlo_commands_tests PRIVATE tavlo_viewer_testsupport tavlo_hostcommand tavlo_testmain_core
                      Qt5::Network ${X11_LIBRARIES})
add_dependencies(tavlo_commands_tests tavlo tavlo-host tavlo-test-rtsp-peer)
tavlo_add_gtest(tavlo_commands_tests NETNS TIMEOUT 600 LABELS viewer)

# A terminal shown and stopped hundreds of times, and a burst of commands
# beside the whiteboard.
add_executable(tavlo_viewer_rounds_tests ${VIEWER_TEST_DIR}/RoundsTest.cpp)
target_link_libraries(tavlo_viewer_rounds_tests PRIVATE tavlo_viewer_testsupport tavlo_board_model tavlo_testmain_core)
add_dependencies(tavlo_viewer_rounds_tests tavlo tavlo-test-rtsp-peer)
tavlo_add_gtest(tavlo_viewer_rounds_tests NETNS TIMEOUT 900 LABELS viewer)

# End to end: a terminal shows another terminal's screen (needs screen sharing).
if(TARGET tavlo-test-painter)
  add_executable(tavlo_viewer_e2e_tests ${VIEWER_TEST_DIR}/EndToEndTest.cpp)
  target_include_directories(tavlo_viewer_e2e_tests PRIVATE ${CMAKE_CURRENT_SOURCE_DIR}/sharing)
  target_link_libraries(tavlo_viewer_e2e_tests PRIVATE tavlo_viewer_testsupport tavlo_testmain_core Qt5::Network)
  add_dependencies(tavlo_viewer_e2e_tests tavlo tavlo-test-painter)
  tavlo_add_gtest(tavlo_viewer_e2e_tests NETNS TIMEOUT 300 LABELS viewer)
endif()

if(TAVLO_SANITIZE)
  # The tests that run terminals take the fast unwinder, for speed (the
  # terminals' own leak check is off: tsupport::terminalEnv). The in-process
  # viewer tests keep the full unwinding of scripts/test: with the fast one,
  # what GLib allocates when it is loaded (and drops when GStreamer's names
  # outgrow it) shows no frame the suppressions could name. (Full unwinding
  # once deadlocked under Mesa's JIT; the viewer draws without GL now.)
  set_tests_properties(tavlo_commands_tests tavlo_viewer_rounds_tests PROPERTIES ENVIRONMENT
    "ASAN_OPTIONS=detect_leaks=1:fast_unwind_on_malloc=1:detect_stack_use_after_return=0")
  if(TARGET tavlo_viewer_e2e_tests)
    set_tests_properties(tavlo_viewer_e2e_tests PROPERTIES ENVIRONMENT
      "ASAN_OPTIONS=detect_leaks=1:fast_unwind_on_malloc=1:detect_stack_use_after_return=0")
  endif()
endif()
