# Screen sharing: the capture loop and its encoder, the feeder of the shared
# pipeline, the timetable, the RTCP guard, the RTSP server in this process,
# and the live stream of a running terminal as real clients see it.
set(SHARING_TEST_DIR ${CMAKE_CURRENT_SOURCE_DIR}/sharing)

# Paints colours and the clock pattern on a display (tests and benchmark).
add_executable(tavlo-test-painter ${SHARING_TEST_DIR}/ScreenPainter.cpp)
target_link_libraries(tavlo-test-painter PRIVATE ${X11_LIBRARIES})
target_include_directories(tavlo-test-painter PRIVATE ${X11_INCLUDE_DIR})
set_target_properties(tavlo-test-painter PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}
                      AUTOMOC OFF AUTOUIC OFF)

add_executable(tavlo_sharing_feeder_tests ${SHARING_TEST_DIR}/FeederTest.cpp)
target_link_libraries(tavlo_sharing_feeder_tests PRIVATE tavlo_sharing tavlo_testsupport tavlo_testmain_core)
tavlo_add_gtest(tavlo_sharing_feeder_tests TIMEOUT 120 LABELS sharing)

add_executable(tavlo_sharing_thumbnail_tests ${SHARING_TEST_DIR}/ThumbnailEncoderTest.cpp)
target_link_libraries(tavlo_sharing_thumbnail_tests PRIVATE tavlo_sharing tavlo_testmain_core)
tavlo_add_gtest(tavlo_sharing_thumbnail_tests TIMEOUT 60 LABELS sharing)

add_executable(tavlo_sharing_pacer_tests ${SHARING_TEST_DIR}/PacerTest.cpp)
target_link_libraries(tavlo_sharing_pacer_tests PRIVATE tavlo_sharing tavlo_testmain_core)
tavlo_add_gtest(tavlo_sharing_pacer_tests TIMEOUT 60 LABELS sharing)

add_executable(tavlo_sharing_rtcp_tests ${SHARING_TEST_DIR}/RtcpGuardTest.cpp)
target_link_libraries(tavlo_sharing_rtcp_tests PRIVATE tavlo_sharing tavlo_testmain_core)
tavlo_add_gtest(tavlo_sharing_rtcp_tests TIMEOUT 60 LABELS sharing)

add_executable(tavlo_sharing_encoder_tests ${SHARING_TEST_DIR}/EncoderTest.cpp)
# Records the encoder options through its own av_opt_set (dlsym).
target_link_libraries(tavlo_sharing_encoder_tests PRIVATE tavlo_sharing tavlo_testmain_core ${CMAKE_DL_LIBS})
tavlo_add_gtest(tavlo_sharing_encoder_tests TIMEOUT 300 LABELS sharing)

add_executable(tavlo_sharing_capture_tests ${SHARING_TEST_DIR}/CaptureTest.cpp)
target_link_libraries(tavlo_sharing_capture_tests PRIVATE tavlo_sharing tavlo_testsupport tavlo_testmain_core)
add_dependencies(tavlo_sharing_capture_tests tavlo-test-painter)
tavlo_add_gtest(tavlo_sharing_capture_tests TIMEOUT 180 LABELS sharing)

add_executable(tavlo_sharing_server_tests ${SHARING_TEST_DIR}/ServerTest.cpp ${SHARING_TEST_DIR}/RawRtsp.cpp)
target_link_libraries(tavlo_sharing_server_tests PRIVATE tavlo_sharing tavlo_testsupport tavlo_testmain_core
                      Qt5::Network)
add_dependencies(tavlo_sharing_server_tests tavlo-test-painter)
# GLib's headers use "signals" as a name.
target_compile_definitions(tavlo_sharing_server_tests PRIVATE QT_NO_KEYWORDS)
tavlo_add_gtest(tavlo_sharing_server_tests NETNS TIMEOUT 180 LABELS sharing)

# A real terminal and real clients (ffprobe/ffmpeg, gst-launch-1.0 rtspsrc).
# A screen that changes size: Xephyr (with RandR) nested in a private Xvfb.
pkg_check_modules(XRANDR REQUIRED IMPORTED_TARGET xrandr)
add_executable(tavlo_sharing_stream_tests ${SHARING_TEST_DIR}/StreamTest.cpp ${SHARING_TEST_DIR}/RawRtsp.cpp
               ${SHARING_TEST_DIR}/NestedDisplay.cpp ${SHARING_TEST_DIR}/NestedDisplay.h)
target_include_directories(tavlo_sharing_stream_tests PRIVATE ${SHARING_TEST_DIR})
target_include_directories(tavlo_sharing_server_tests PRIVATE ${SHARING_TEST_DIR})
target_link_libraries(tavlo_sharing_stream_tests PRIVATE tavlo_testsupport tavlo_testmain_core Qt5::Network
                      PkgConfig::XRANDR ${X11_LIBRARIES})
add_dependencies(tavlo_sharing_stream_tests tavlo tavlo-test-painter)
tavlo_add_gtest(tavlo_sharing_stream_tests NETNS TIMEOUT 400 LABELS sharing)
