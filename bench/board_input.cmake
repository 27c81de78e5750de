# Whiteboard input: soft-pen sample appending with its corner search, and the
# handling of one touch update of a pan or a zoom.
if(benchmark_FOUND)
  add_executable(tavlo-bench-board-input ${CMAKE_CURRENT_SOURCE_DIR}/board_input/InputBench.cpp)
  target_link_libraries(tavlo-bench-board-input PRIVATE tavlo_board benchmark::benchmark Qt5::Widgets Qt5::Test)
  set_target_properties(tavlo-bench-board-input PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR})
endif()
