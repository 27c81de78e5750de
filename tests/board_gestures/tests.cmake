# Whiteboard gestures, page operations, the board window and its shortcuts:
# synthesised touch, mouse and key events on the real widget, in-process.
add_executable(board_gestures_tests
  ${CMAKE_CURRENT_LIST_DIR}/BoardTestSupport.h
  ${CMAKE_CURRENT_LIST_DIR}/GestureTests.cpp
  ${CMAKE_CURRENT_LIST_DIR}/PageTests.cpp
  ${CMAKE_CURRENT_LIST_DIR}/FormShortcutTests.cpp)
target_link_libraries(board_gestures_tests PRIVATE tavlo_board tavlo_testmain Qt5::Test)
tavlo_add_gtest(board_gestures_tests TIMEOUT 120 LABELS board)
set_tests_properties(board_gestures_tests PROPERTIES ENVIRONMENT "QT_QPA_PLATFORM=offscreen")
