# Classroom console: its logic without a network, and the whole classroom
# (console and terminals in network namespaces) end to end.
set(CONSOLE_TEST_DIR ${CMAKE_CURRENT_SOURCE_DIR}/console)

add_executable(tavlo_console_tests ${CONSOLE_TEST_DIR}/GroupTableTest.cpp)
target_link_libraries(tavlo_console_tests PRIVATE tavlo_console tavlo_testmain_core)
tavlo_add_gtest(tavlo_console_tests TIMEOUT 120 LABELS console)

# The thumbnail puller against stand-in RTSP peers.
if(TARGET tavlo_viewer_testsupport)
  add_executable(tavlo_console_thumbnail_tests ${CONSOLE_TEST_DIR}/StreamPullerTest.cpp)
  target_link_libraries(tavlo_console_thumbnail_tests PRIVATE tavlo_console tavlo_viewer_testsupport
                        tavlo_testmain_core)
  add_dependencies(tavlo_console_thumbnail_tests tavlo-test-rtsp-peer)
  tavlo_add_gtest(tavlo_console_thumbnail_tests NETNS TIMEOUT 300 LABELS console)
endif()

add_library(tavlo_console_testsupport STATIC ${CONSOLE_TEST_DIR}/ConsoleSupport.cpp ${CONSOLE_TEST_DIR}/ConsoleSupport.h)
target_include_directories(tavlo_console_testsupport PUBLIC ${CONSOLE_TEST_DIR})
target_link_libraries(tavlo_console_testsupport PUBLIC tavlo_testsupport)

# Made-up terminals: announcements of any numbers from any local addresses.
add_executable(tavlo-test-announcer ${CONSOLE_TEST_DIR}/Announcer.cpp)
set_target_properties(tavlo-test-announcer PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}
                      AUTOMOC OFF AUTOUIC OFF)

# Console and terminals as processes, each terminal in a namespace of its own.
if(TARGET tavlo-test-painter AND TARGET tavlo_viewer_testsupport)
  add_executable(tavlo_console_e2e_tests ${CONSOLE_TEST_DIR}/ConsoleEndToEndTest.cpp)
  target_link_libraries(tavlo_console_e2e_tests PRIVATE tavlo_console_testsupport tavlo_viewer_testsupport
                        tavlo_testmain_core)
  add_dependencies(tavlo_console_e2e_tests tavlo tavlo-console tavlo-test-painter tavlo-test-rtsp-peer
                   tavlo-test-announcer tavlo-test-keylog)
  tavlo_add_gtest(tavlo_console_e2e_tests NETNS TIMEOUT 600 LABELS console)
  if(TAVLO_SANITIZE)
    set_tests_properties(tavlo_console_e2e_tests PROPERTIES ENVIRONMENT
      "ASAN_OPTIONS=detect_leaks=1:fast_unwind_on_malloc=1:detect_stack_use_after_return=0")
  endif()
endif()

# The window driven by xdotool on a private Xvfb (openbox for the
# minimising), with made-up groups in a namespace of the test's own.
if(TARGET tavlo_viewer_testsupport)
  add_executable(tavlo_console_gui_tests ${CONSOLE_TEST_DIR}/ConsoleGuiTest.cpp)
  target_link_libraries(tavlo_console_gui_tests PRIVATE tavlo_console_testsupport tavlo_viewer_testsupport
                        tavlo_testmain_core)
  add_dependencies(tavlo_console_gui_tests tavlo-console tavlo-test-rtsp-peer tavlo-test-announcer)
  tavlo_add_gtest(tavlo_console_gui_tests NETNS TIMEOUT 300 LABELS console)
endif()

# The widgets offscreen, their commands to UDP peers in a namespace of
# their own, and the translations (lupdate, from qttools5-dev-tools).
if(TARGET tavlo_viewer_testsupport)
  add_executable(tavlo_console_widget_tests ${CONSOLE_TEST_DIR}/ConsoleWidgetsTest.cpp)
  target_link_libraries(tavlo_console_widget_tests PRIVATE tavlo_console tavlo_console_i18n tavlo_viewer_testsupport
                        tavlo_testmain)
  tavlo_add_gtest(tavlo_console_widget_tests NETNS TIMEOUT 180 LABELS console)
endif()
if(TARGET tavlo_console_widget_tests)
  set_tests_properties(tavlo_console_widget_tests PROPERTIES ENVIRONMENT "QT_QPA_PLATFORM=offscreen")
endif()
