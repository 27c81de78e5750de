add_library(tavlo_utils STATIC utils/Utils.cpp utils/Utils.h)
target_include_directories(tavlo_utils PUBLIC ${CMAKE_SOURCE_DIR}/utils)
target_link_libraries(tavlo_utils PUBLIC Qt5::Core)

# Checked stream addresses: literal IP addresses only, read by QHostAddress.
add_library(tavlo_streamaddress STATIC utils/StreamAddress.cpp utils/StreamAddress.h utils/Classroom.h)
target_include_directories(tavlo_streamaddress PUBLIC ${CMAKE_SOURCE_DIR}/utils)
target_link_libraries(tavlo_streamaddress PUBLIC Qt5::Network)
