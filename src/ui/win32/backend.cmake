# The Win32 backend of the update window, added to the window library of the
# Windows build (included by cmake/windows.cmake once the library exists).
target_sources(updater_ui PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/win32_backend.cpp
  ${CMAKE_CURRENT_LIST_DIR}/open_backend_win32.cpp)
target_link_libraries(updater_ui PRIVATE comctl32 gdi32 user32)
