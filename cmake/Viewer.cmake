# Stream viewer: RTSP puller, decoder and the full-screen SDL window.
add_library(tavlo_viewer STATIC ${CMAKE_SOURCE_DIR}/QPullThread.cpp ${CMAKE_SOURCE_DIR}/QPullThread.h
            ${CMAKE_SOURCE_DIR}/LiveGate.cpp ${CMAKE_SOURCE_DIR}/LiveGate.h)
target_include_directories(tavlo_viewer PUBLIC ${CMAKE_SOURCE_DIR})
target_link_libraries(tavlo_viewer PUBLIC Qt5::Core PRIVATE PkgConfig::FFMPEG PkgConfig::SDL2)
