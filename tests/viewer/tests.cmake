# Stream viewer, classroom commands and the host tool.
set(VIEWER_TEST_DIR ${CMAKE_CURRENT_SOURCE_DIR}/viewer)

# A stand-in RTSP server with streams the tests control.
add_executable(tavlo-test-rtsp-peer ${VIEWER_TEST_DIR}/RtspPeer.cpp)
target_link_libraries(tavlo-test-rtsp-peer PRIVATE PkgConfig::GST)
set_target_properties(tavlo-test-rtsp-peer PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}
                      AUTOMOC OFF AUTOUIC OFF)
