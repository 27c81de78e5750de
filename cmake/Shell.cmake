# Application shell: configuration store, image button, main window and the
# tavlo executable, a thin main over the subsystem libraries.
add_library(tavlo_config STATIC QSysConfig.cpp QSysConfig.h)
target_include_directories(tavlo_config PUBLIC ${CMAKE_SOURCE_DIR})
target_link_libraries(tavlo_config PUBLIC Qt5::Core PRIVATE tavlo_utils)

add_library(tavlo_imgbtn STATIC QImgBtn.cpp QImgBtn.h)
target_include_directories(tavlo_imgbtn PUBLIC ${CMAKE_SOURCE_DIR})
target_link_libraries(tavlo_imgbtn PUBLIC Qt5::Widgets)

add_library(tavlo_shell STATIC MainWindow.cpp MainWindow.h MainWindow.ui)
target_include_directories(tavlo_shell PUBLIC ${CMAKE_SOURCE_DIR})
target_link_libraries(tavlo_shell PUBLIC tavlo_config tavlo_utils tavlo_streamaddress tavlo_sharing tavlo_viewer tavlo_board
                      Qt5::Widgets Qt5::Network)

add_executable(tavlo main.cpp)
target_link_libraries(tavlo PRIVATE tavlo_shell tavlo_tray tavlo_res_icons tavlo_res_i18n)

# The tray icon's "screen is being watched" state, from a count source.
add_library(tavlo_tray STATIC TrayIndicator.cpp TrayIndicator.h)
target_include_directories(tavlo_tray PUBLIC ${CMAKE_SOURCE_DIR})
target_link_libraries(tavlo_tray PUBLIC Qt5::Widgets)
