# Tests of what only the Windows build has: the UTF-8 and UTF-16 boundary,
# the process services' Windows side, the Win32 window and the program's
# icon file. They run under Wine on Linux; the window tests need a display
# (Xvfb). Included by cmake/windows.cmake after the tests folder.
find_package(GTest REQUIRED)

set(_dir ${CMAKE_CURRENT_LIST_DIR})
updater_test(win32_tests
  SOURCES
    ${_dir}/text_test.cpp
    ${_dir}/placement_test.cpp
    ${_dir}/process_test.cpp
    ${_dir}/icon_file_test.cpp
  LIBS updater_process updater_ui)
target_compile_definitions(win32_tests PRIVATE
  UPDATER_ICON_FILE="${PROJECT_SOURCE_DIR}/src/driver/win32/updater.ico")
target_link_libraries(win32_tests PRIVATE gdi32 user32)

updater_test(win32_window_tests
  SOURCES ${_dir}/win32_backend_test.cpp
  LIBS updater_ui)
target_link_libraries(win32_window_tests PRIVATE comctl32 user32)

set_target_properties(win32_tests win32_window_tests PROPERTIES
  RUNTIME_OUTPUT_DIRECTORY ${PROJECT_BINARY_DIR}/tests/win32)

# A helper for scripts/checks/windows.sh: holds a file open as another
# program would.
add_executable(hold_file ${_dir}/hold_file.cpp)
target_include_directories(hold_file PRIVATE ${PROJECT_SOURCE_DIR}/src)
target_link_libraries(hold_file PRIVATE updater_warnings)
target_link_options(hold_file PRIVATE -municode)
set_target_properties(hold_file PROPERTIES
  RUNTIME_OUTPUT_DIRECTORY ${PROJECT_BINARY_DIR}/tests/win32)

# The Windows layers of the download engine and the ZIP component.
find_package(ZLIB REQUIRED)
updater_test(win32_layer_tests
  SOURCES ${_dir}/layers_test.cpp
  LIBS updater_download updater_archive)
target_link_libraries(win32_layer_tests PRIVATE ZLIB::ZLIB ws2_32)
set_target_properties(win32_layer_tests PROPERTIES
  RUNTIME_OUTPUT_DIRECTORY ${PROJECT_BINARY_DIR}/tests/win32)
