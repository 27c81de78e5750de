add_library(tavlo_utils STATIC utils/Utils.cpp utils/Utils.h)
target_include_directories(tavlo_utils PUBLIC ${CMAKE_SOURCE_DIR}/utils)
target_link_libraries(tavlo_utils PUBLIC Qt5::Core)
