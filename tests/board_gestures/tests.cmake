# Whiteboard gestures, page operations, the board window and its shortcuts:
# synthesised touch, mouse and key events on the real widget, in-process.
add_executable(board_gestures_tests
  ${CMAKE_CURRENT_LIST_DIR}/BoardTestSupport.h
  ${CMAKE_CURRENT_LIST_DIR}/GestureTests.cpp
  ${CMAKE_CURRENT_LIST_DIR}/PageTests.cpp
  ${CMAKE_CURRENT_LIST_DIR}/StrokeEndAndViewTests.cpp
  ${CMAKE_CURRENT_LIST_DIR}/FormShortcutTests.cpp
  ${CMAKE_CURRENT_LIST_DIR}/ToolbarTests.cpp
  ${CMAKE_CURRENT_LIST_DIR}/UndoTests.cpp
  ${CMAKE_CURRENT_LIST_DIR}/PageStripTests.cpp)
target_link_libraries(board_gestures_tests PRIVATE tavlo_board tavlo_testmain Qt5::Test)
target_include_directories(board_gestures_tests PRIVATE ${CMAKE_CURRENT_LIST_DIR}/../board)
tavlo_add_gtest(board_gestures_tests TIMEOUT 120 LABELS board)
set(board_gestures_env "QT_QPA_PLATFORM=offscreen")
if(TAVLO_TSAN)
  list(APPEND board_gestures_env "TSAN_OPTIONS=halt_on_error=1 suppressions=${CMAKE_CURRENT_LIST_DIR}/tsan.supp")
endif()
set_tests_properties(board_gestures_tests PROPERTIES ENVIRONMENT "${board_gestures_env}")

# The board window from the main window and from "tavlo --whiteboard" on a
# private X server; the terminal binds its ports, hence a namespace of its own.
add_executable(board_window_tests
  ${CMAKE_CURRENT_LIST_DIR}/WindowTests.cpp
  ${CMAKE_CURRENT_LIST_DIR}/XDelete.cpp
  ${CMAKE_CURRENT_LIST_DIR}/XDelete.h)
target_link_libraries(board_window_tests PRIVATE tavlo_shell tavlo_res_icons tavlo_testsupport tavlo_testmain
                      Qt5::Test X11::X11)
add_dependencies(board_window_tests tavlo)
tavlo_add_gtest(board_window_tests NETNS TIMEOUT 180 LABELS board)
set_tests_properties(board_window_tests PROPERTIES ENVIRONMENT "QT_QPA_PLATFORM=offscreen")
