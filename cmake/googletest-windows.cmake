# GoogleTest for the Windows build, from the sources that Debian's
# libgtest-dev ships in /usr/src/googletest. It is built and installed into
# the build tree while the build is configured, so that find_package(GTest)
# finds it as it finds the system's copy on Linux.
set(_gtest_root ${CMAKE_BINARY_DIR}/_deps/googletest)
set(_gtest_source /usr/src/googletest)

if(NOT EXISTS ${_gtest_root}/lib/cmake/GTest/GTestConfig.cmake)
  if(NOT EXISTS ${_gtest_source}/CMakeLists.txt)
    message(FATAL_ERROR "GoogleTest's sources are missing: install libgtest-dev")
  endif()
  message(STATUS "Building GoogleTest for Windows")
  execute_process(
    COMMAND ${CMAKE_COMMAND} -S ${_gtest_source} -B ${_gtest_root}-build
            -G ${CMAKE_GENERATOR}
            -DCMAKE_TOOLCHAIN_FILE=${CMAKE_TOOLCHAIN_FILE}
            -DCMAKE_BUILD_TYPE=Release
            -DCMAKE_INSTALL_PREFIX=${_gtest_root}
            -DBUILD_GMOCK=ON -DINSTALL_GTEST=ON
    RESULT_VARIABLE _result OUTPUT_QUIET ERROR_VARIABLE _error)
  if(_result EQUAL 0)
    execute_process(
      COMMAND ${CMAKE_COMMAND} --build ${_gtest_root}-build --target install
      RESULT_VARIABLE _result OUTPUT_QUIET ERROR_VARIABLE _error)
  endif()
  if(NOT _result EQUAL 0)
    message(FATAL_ERROR "Building GoogleTest for Windows failed:\n${_error}")
  endif()
endif()

list(APPEND CMAKE_PREFIX_PATH ${_gtest_root})
list(APPEND CMAKE_FIND_ROOT_PATH ${_gtest_root})
