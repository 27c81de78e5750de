# Screen sharing: bench/sharing/bench.sh compares Tavlo's stream with a
# GStreamer-only server and an ffmpeg x11grab pipeline (CPU, frames per
# second, latency); cost.sh and bitrate.sh measure what sharing costs;
# faults.sh replays the stray requests that once broke it. Each prints its
# figures. They need the terminal and the test painter of this build tree:
#   cmake --build <build> --target tavlo tavlo-test-painter tavlo-bench-gstserver
#   bench/sharing/bench.sh <build> [seconds]
#   bench/sharing/faults.sh <build> [seconds]
if(NOT TARGET tavlo-test-painter)
  add_executable(tavlo-test-painter ${CMAKE_SOURCE_DIR}/tests/sharing/ScreenPainter.cpp)
  target_link_libraries(tavlo-test-painter PRIVATE ${X11_LIBRARIES})
  target_include_directories(tavlo-test-painter PRIVATE ${X11_INCLUDE_DIR})
  set_target_properties(tavlo-test-painter PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}
                        AUTOMOC OFF AUTOUIC OFF)
endif()
# The GStreamer-only RTSP server that bench.sh measures beside Tavlo.
add_executable(tavlo-bench-gstserver ${CMAKE_CURRENT_SOURCE_DIR}/sharing/GstServer.cpp)
target_link_libraries(tavlo-bench-gstserver PRIVATE PkgConfig::GST)
set_target_properties(tavlo-bench-gstserver PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}
                      AUTOMOC OFF AUTOUIC OFF)
add_custom_target(bench_sharing
  COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/sharing/bench.sh ${CMAKE_BINARY_DIR}
  DEPENDS tavlo tavlo-test-painter tavlo-bench-gstserver
  USES_TERMINAL)
