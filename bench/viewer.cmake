# Stream viewer: the glass-to-glass latency benchmark (bench/viewer/latency.sh)
# and its helpers.
add_executable(tavlo-bench-pull ${CMAKE_CURRENT_SOURCE_DIR}/viewer/PullMain.cpp)
target_link_libraries(tavlo-bench-pull PRIVATE tavlo_viewer Qt5::Core)
set_target_properties(tavlo-bench-pull PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR})
