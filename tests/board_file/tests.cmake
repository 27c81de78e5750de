# Board files: format, atomic writes, saving as one draws (with a helper
# process that is killed), reopening, redo and the PDF of all pages. Pixel
# tests on the offscreen platform.
add_executable(tavlo-board-crash-helper ${CMAKE_CURRENT_LIST_DIR}/BoardCrashHelper.cpp)
target_link_libraries(tavlo-board-crash-helper PRIVATE tavlo_board Qt5::Widgets)
add_executable(tavlo_board_file_tests
  ${CMAKE_CURRENT_LIST_DIR}/BoardFileTestUtil.h
  ${CMAKE_CURRENT_LIST_DIR}/BoardFileTest.cpp
  ${CMAKE_CURRENT_LIST_DIR}/BoardSaveTest.cpp
  ${CMAKE_CURRENT_LIST_DIR}/DocumentTest.cpp
  ${CMAKE_CURRENT_LIST_DIR}/BoardFolderTest.cpp)
target_link_libraries(tavlo_board_file_tests PRIVATE tavlo_board tavlo_testsupport tavlo_testmain GTest::gtest
                      Qt5::Test)
target_compile_definitions(tavlo_board_file_tests PRIVATE
  BOARD_CRASH_HELPER="$<TARGET_FILE:tavlo-board-crash-helper>")
add_dependencies(tavlo_board_file_tests tavlo-board-crash-helper)
tavlo_add_gtest(tavlo_board_file_tests TIMEOUT 300 LABELS board)
set_property(TEST tavlo_board_file_tests APPEND PROPERTY ENVIRONMENT QT_QPA_PLATFORM=offscreen)
# The terminal with "--whiteboard FILE" on a private X server; the terminal
# binds its ports, hence a namespace of its own.
add_executable(board_file_window_tests ${CMAKE_CURRENT_LIST_DIR}/WhiteboardOptionTest.cpp)
target_link_libraries(board_file_window_tests PRIVATE tavlo_board tavlo_testsupport tavlo_testmain)
add_dependencies(board_file_window_tests tavlo)
tavlo_add_gtest(board_file_window_tests NETNS TIMEOUT 300 LABELS board)
set_tests_properties(board_file_window_tests PROPERTIES ENVIRONMENT "QT_QPA_PLATFORM=offscreen")
# The board on a full disk: a small tmpfs that the test mounts, in a mount
# namespace of its own (as root), so that the mount goes with the process.
add_executable(tavlo_board_disk_tests ${CMAKE_CURRENT_LIST_DIR}/BoardDiskTest.cpp)
target_link_libraries(tavlo_board_disk_tests PRIVATE tavlo_board tavlo_testsupport tavlo_testmain GTest::gtest
                      Qt5::Test)
add_test(NAME tavlo_board_disk_tests COMMAND unshare -m --propagation private $<TARGET_FILE:tavlo_board_disk_tests>)
set_tests_properties(tavlo_board_disk_tests PROPERTIES TIMEOUT 300 LABELS board
                     ENVIRONMENT "QT_QPA_PLATFORM=offscreen")
