# Drawing surface: renderers, layers, composition, pages, export and the
# board's pictures. Pixel tests on the offscreen platform.
add_executable(tavlo_board_tests
  ${CMAKE_CURRENT_LIST_DIR}/BoardTestUtil.h
  ${CMAKE_CURRENT_LIST_DIR}/ResourcesTest.cpp
  ${CMAKE_CURRENT_LIST_DIR}/PenRenderTest.cpp
  ${CMAKE_CURRENT_LIST_DIR}/SurfaceTest.cpp)
target_link_libraries(tavlo_board_tests PRIVATE tavlo_board tavlo_testmain GTest::gtest)
tavlo_add_gtest(tavlo_board_tests TIMEOUT 300 LABELS board)
set_property(TEST tavlo_board_tests APPEND PROPERTY ENVIRONMENT QT_QPA_PLATFORM=offscreen)
