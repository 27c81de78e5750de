# Whiteboard model: points, strokes, segments, pages.
add_executable(board_model_tests
  ${CMAKE_CURRENT_LIST_DIR}/PointStrokeTests.cpp
  ${CMAKE_CURRENT_LIST_DIR}/SegmentPageTests.cpp
  ${CMAKE_CURRENT_LIST_DIR}/HandwritingTests.cpp)
target_link_libraries(board_model_tests PRIVATE tavlo_board_model tavlo_testmain_core)
tavlo_add_gtest(board_model_tests TIMEOUT 60 LABELS board)
