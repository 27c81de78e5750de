# Stream viewer: bench/viewer/latency.sh measures the glass-to-glass latency
# (painter -> terminal's stream -> player on a second display) of the viewer,
# a plain GStreamer player and ffplay, with the viewer's per-stage breakdown,
# and prints the figures:
#   cmake --build <build> --target tavlo tavlo-test-painter tavlo-bench-pull tavlo-bench-clockgrab
#   bench/viewer/latency.sh <build> [seconds]
add_executable(tavlo-bench-pull ${CMAKE_CURRENT_SOURCE_DIR}/viewer/PullMain.cpp)
target_include_directories(tavlo-bench-pull PRIVATE ${CMAKE_SOURCE_DIR}/tests/sharing)
target_link_libraries(tavlo-bench-pull PRIVATE tavlo_viewer Qt5::Core)
set_target_properties(tavlo-bench-pull PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR})

add_executable(tavlo-bench-clockgrab ${CMAKE_CURRENT_SOURCE_DIR}/viewer/ClockGrab.cpp)
target_include_directories(tavlo-bench-clockgrab PRIVATE ${CMAKE_SOURCE_DIR}/tests/sharing ${X11_INCLUDE_DIR})
target_link_libraries(tavlo-bench-clockgrab PRIVATE ${X11_LIBRARIES})
set_target_properties(tavlo-bench-clockgrab PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}
                      AUTOMOC OFF AUTOUIC OFF)

add_custom_target(bench_viewer
  COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/viewer/latency.sh ${CMAKE_BINARY_DIR}
  DEPENDS tavlo tavlo-test-painter tavlo-bench-pull tavlo-bench-clockgrab
  USES_TERMINAL)

# bench/viewer/firstpicture.sh: show -> first picture and switch times against
# a GStreamer source and a Tavlo terminal's screen:
#   cmake --build <build> --target tavlo tavlo-test-rtsp-peer tavlo-bench-firstpicture
#   bench/viewer/firstpicture.sh <build> [tries]
add_executable(tavlo-bench-firstpicture ${CMAKE_CURRENT_SOURCE_DIR}/viewer/FirstPicture.cpp)
target_include_directories(tavlo-bench-firstpicture PRIVATE ${X11_INCLUDE_DIR})
target_link_libraries(tavlo-bench-firstpicture PRIVATE tavlo_trust Qt5::Core ${X11_LIBRARIES})
set_target_properties(tavlo-bench-firstpicture PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}
                      AUTOMOC OFF AUTOUIC OFF)

# bench/viewer/guistall.sh: the GUI thread's longest stall during a burst of
# 200 show and stop commands:
#   cmake --build <build> --target tavlo-bench-guistall tavlo-test-rtsp-peer
#   bench/viewer/guistall.sh <build> [datagrams]
add_executable(tavlo-bench-guistall ${CMAKE_CURRENT_SOURCE_DIR}/viewer/GuiStall.cpp)
target_link_libraries(tavlo-bench-guistall PRIVATE tavlo_shell tavlo_res_icons Qt5::Widgets)
set_target_properties(tavlo-bench-guistall PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR})
