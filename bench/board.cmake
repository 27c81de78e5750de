# Whiteboard drawing surface: pen move with repaint, composed paint during a
# drag, full re-render of a page of handwriting, page export.
if(benchmark_FOUND)
  add_executable(tavlo-bench-board ${CMAKE_CURRENT_SOURCE_DIR}/board/BoardBench.cpp)
  target_link_libraries(tavlo-bench-board PRIVATE tavlo_board benchmark::benchmark Qt5::Widgets)
  set_target_properties(tavlo-bench-board PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR})
endif()
# Board files: save of a 500-stroke board (GUI-thread share and whole),
# reading it back, PDF of 10 pages.
if(benchmark_FOUND)
  add_executable(tavlo-bench-boardfile ${CMAKE_CURRENT_SOURCE_DIR}/board/BoardFileBench.cpp)
  target_link_libraries(tavlo-bench-boardfile PRIVATE tavlo_board benchmark::benchmark Qt5::Widgets)
  set_target_properties(tavlo-bench-boardfile PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR})
endif()
# The lesson's own material: opening a 20-page PDF (first page on screen, all
# thumbnails ready), memory per page, and pdftoppm on the same file.
if(benchmark_FOUND)
  add_executable(tavlo-bench-board-document ${CMAKE_CURRENT_SOURCE_DIR}/board/BoardDocumentBench.cpp
                 ${CMAKE_CURRENT_SOURCE_DIR}/board/BenchPdf.h)
  target_link_libraries(tavlo-bench-board-document PRIVATE tavlo_board benchmark::benchmark Qt5::Widgets Qt5::Test)
  set_target_properties(tavlo-bench-board-document PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR})
endif()
