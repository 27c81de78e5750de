# Classroom console:
#   bench/console/thumbs.py <build> [groups ...]   console CPU with N groups' thumbnails
#     (needs tavlo-console and tavlo-bench-rtsp-files)
add_executable(tavlo-bench-rtsp-files ${CMAKE_CURRENT_SOURCE_DIR}/console/FileRtspServer.cpp)
target_link_libraries(tavlo-bench-rtsp-files PRIVATE PkgConfig::GST)
set_target_properties(tavlo-bench-rtsp-files PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}
                      AUTOMOC OFF AUTOUIC OFF)

add_custom_target(bench_console_thumbs
  COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/console/thumbs.py ${CMAKE_BINARY_DIR}
  DEPENDS tavlo-console tavlo-bench-rtsp-files
  USES_TERMINAL)

#   build/tavlo-bench-console-show [groups] [rounds]   time from "show N to all" to the pictures
#     (needs tavlo, tavlo-console, tavlo-test-painter; root, for network namespaces)
if(TARGET tavlo_console_testsupport AND TARGET tavlo_viewer_testsupport)
  add_executable(tavlo-bench-console-show ${CMAKE_CURRENT_SOURCE_DIR}/console/ShowLatency.cpp)
  target_link_libraries(tavlo-bench-console-show PRIVATE tavlo_console_testsupport tavlo_viewer_testsupport
                        ${X11_LIBRARIES})
  target_include_directories(tavlo-bench-console-show PRIVATE ${X11_INCLUDE_DIR})
  add_dependencies(tavlo-bench-console-show tavlo tavlo-console tavlo-test-painter)
  set_target_properties(tavlo-bench-console-show PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR})
endif()
