# Multicast: the group of each terminal, and terminals sharing by multicast
# on a switched network of namespaces with real clients.
set(MULTICAST_TEST_DIR ${CMAKE_CURRENT_SOURCE_DIR}/multicast)

add_executable(tavlo_multicast_group_tests ${MULTICAST_TEST_DIR}/MulticastGroupTest.cpp)
target_link_libraries(tavlo_multicast_group_tests PRIVATE tavlo_sharing GTest::gtest_main)
tavlo_add_gtest(tavlo_multicast_group_tests NETNS TIMEOUT 60 LABELS multicast)

add_library(tavlo_multicast_testsupport STATIC ${MULTICAST_TEST_DIR}/MulticastSupport.cpp
            ${MULTICAST_TEST_DIR}/MulticastSupport.h)
target_include_directories(tavlo_multicast_testsupport PUBLIC ${MULTICAST_TEST_DIR})
target_link_libraries(tavlo_multicast_testsupport PUBLIC tavlo_testsupport)

add_executable(tavlo_multicast_source_tests ${MULTICAST_TEST_DIR}/SourceTest.cpp
               ${CMAKE_CURRENT_SOURCE_DIR}/sharing/RawRtsp.cpp)
target_include_directories(tavlo_multicast_source_tests PRIVATE ${CMAKE_CURRENT_SOURCE_DIR}/sharing)
target_link_libraries(tavlo_multicast_source_tests PRIVATE tavlo_multicast_testsupport tavlo_testmain_core
                      Qt5::Network)
add_dependencies(tavlo_multicast_source_tests tavlo tavlo-test-painter)
tavlo_add_gtest(tavlo_multicast_source_tests NETNS TIMEOUT 400 LABELS multicast)

# Terminals showing a terminal by multicast, and falling back on TCP.
add_executable(tavlo_multicast_viewer_tests ${MULTICAST_TEST_DIR}/ViewerTest.cpp)
target_link_libraries(tavlo_multicast_viewer_tests PRIVATE tavlo_multicast_testsupport tavlo_testmain_core
                      Qt5::Network)
add_dependencies(tavlo_multicast_viewer_tests tavlo tavlo-test-painter)
tavlo_add_gtest(tavlo_multicast_viewer_tests NETNS TIMEOUT 600 LABELS multicast)
