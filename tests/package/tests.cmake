# Packaging: the programs' command lines, where the terminal finds team.bin,
# and the Debian packages themselves.
set(PACKAGE_TEST_DIR ${CMAKE_CURRENT_SOURCE_DIR}/package)

add_executable(tavlo_package_commandline_tests ${PACKAGE_TEST_DIR}/CommandLineTest.cpp)
target_link_libraries(tavlo_package_commandline_tests PRIVATE tavlo_commandline GTest::gtest_main)
target_compile_definitions(tavlo_package_commandline_tests PRIVATE TAVLO_PROJECT_VERSION="${PROJECT_VERSION}")
tavlo_add_gtest(tavlo_package_commandline_tests TIMEOUT 60 LABELS package)

add_executable(tavlo_package_configdir_tests ${PACKAGE_TEST_DIR}/ConfigDirTest.cpp)
target_link_libraries(tavlo_package_configdir_tests PRIVATE tavlo_testsupport tavlo_testmain_core)
target_compile_definitions(tavlo_package_configdir_tests PRIVATE TAVLO_PROJECT_VERSION="${PROJECT_VERSION}")
add_dependencies(tavlo_package_configdir_tests tavlo tavlo-host tavlo-console)
tavlo_add_gtest(tavlo_package_configdir_tests NETNS TIMEOUT 400 LABELS package)

# The packages, made by cpack from this build tree into package-test/ by the
# first test, which the others need (a CTest fixture). Only the plain build
# makes them: packages ship optimised binaries, and dpkg-shlibdeps would make
# the sanitizer build's depend on libasan. package_test.sh says what each
# test checks; none installs anything on this machine.
if(NOT TAVLO_SANITIZE AND NOT TAVLO_TSAN)
  set(pkg_test ${PACKAGE_TEST_DIR}/package_test.sh)
  set(pkg_dir ${CMAKE_BINARY_DIR}/package-test)
  add_test(NAME package_build COMMAND ${pkg_test} build ${CMAKE_BINARY_DIR} ${pkg_dir})
  set_tests_properties(package_build PROPERTIES FIXTURES_SETUP tavlo_packages)
  foreach(check lintian contents programs start upgrade)
    add_test(NAME package_${check} COMMAND ${pkg_test} ${check} ${CMAKE_BINARY_DIR} ${pkg_dir})
    set_tests_properties(package_${check} PROPERTIES FIXTURES_REQUIRED tavlo_packages)
  endforeach()
  set_tests_properties(package_build package_lintian package_contents package_programs package_start package_upgrade
                       PROPERTIES TIMEOUT 600 LABELS package
                       ENVIRONMENT "TAVLO_VERSION=${PROJECT_VERSION};TAVLO_SOURCE_DIR=${CMAKE_SOURCE_DIR}")
endif()
