# Shell: utilities, configuration store, image button, main window.
add_executable(test_utils shell/UtilsTest.cpp)
target_link_libraries(test_utils PRIVATE tavlo_utils GTest::gtest_main)
tavlo_add_gtest(test_utils LABELS shell)

add_executable(test_config shell/ConfigTest.cpp)
target_link_libraries(test_config PRIVATE tavlo_config tavlo_testmain_core)
tavlo_add_gtest(test_config LABELS shell)

add_executable(test_imgbtn shell/ImgBtnTest.cpp)
target_link_libraries(test_imgbtn PRIVATE tavlo_imgbtn tavlo_testmain Qt5::Test)
tavlo_add_gtest(test_imgbtn LABELS shell)
set_tests_properties(test_imgbtn PROPERTIES ENVIRONMENT "QT_QPA_PLATFORM=offscreen")

add_executable(test_mainwindow shell/MainWindowTest.cpp)
target_link_libraries(test_mainwindow PRIVATE tavlo_shell tavlo_res_icons tavlo_testsupport tavlo_testmain)
tavlo_add_gtest(test_mainwindow NETNS LABELS shell)
set_tests_properties(test_mainwindow PROPERTIES ENVIRONMENT "QT_QPA_PLATFORM=offscreen")

add_executable(test_shell_process shell/ShellProcessTest.cpp)
target_link_libraries(test_shell_process PRIVATE tavlo_testsupport tavlo_testmain_core)
add_dependencies(test_shell_process tavlo)
tavlo_add_gtest(test_shell_process NETNS TIMEOUT 400 LABELS shell)

add_executable(test_tray_indicator shell/TrayIndicatorTest.cpp)
target_link_libraries(test_tray_indicator PRIVATE tavlo_tray tavlo_testmain)
tavlo_add_gtest(test_tray_indicator LABELS shell)
set_tests_properties(test_tray_indicator PROPERTIES ENVIRONMENT "QT_QPA_PLATFORM=offscreen")

# A plain window that says which keys and clicks reach it (the lock's tests).
add_executable(tavlo-test-keylog shell/KeyLog.cpp)
target_link_libraries(tavlo-test-keylog PRIVATE ${X11_LIBRARIES})
target_include_directories(tavlo-test-keylog PRIVATE ${X11_INCLUDE_DIR})
set_target_properties(tavlo-test-keylog PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}
                      AUTOMOC OFF AUTOUIC OFF)
