# GoogleTest built from Debian's sources (package googletest) with the project's compiler, for
# builds that cannot use the host's prebuilt libraries. Its CMake files give GTest::gtest and
# GTest::gtest_main as find_package(GTest) does.
set(KELCONV_GOOGLETEST_SOURCE /usr/src/googletest CACHE PATH "GoogleTest sources")
if(NOT EXISTS ${KELCONV_GOOGLETEST_SOURCE}/googletest/CMakeLists.txt)
  message(FATAL_ERROR "No GoogleTest sources in ${KELCONV_GOOGLETEST_SOURCE}: apt-get install googletest")
endif()
set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
set(gtest_force_shared_crt ON CACHE BOOL "" FORCE)
add_subdirectory(${KELCONV_GOOGLETEST_SOURCE}/googletest
                 ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
# Its code is not held to this project's warning flags.
target_compile_options(gtest PRIVATE -w)
target_compile_options(gtest_main PRIVATE -w)
# The test programs are listed when the tests run, not when they are built: listing them means
# running them, here under Wine.
set(CMAKE_GTEST_DISCOVER_TESTS_DISCOVERY_MODE PRE_TEST)
