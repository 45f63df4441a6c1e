# The Windows program file: a GUI program (no console window opens with it)
# carrying its icon, version and manifest (included by cmake/windows.cmake
# once the program's target exists).
set(_rc ${CMAKE_CURRENT_LIST_DIR}/updater.rc)
target_sources(updater PRIVATE ${_rc})
# windres looks for the icon and the manifest beside the script, and is run
# again when either changes.
set_source_files_properties(${_rc} PROPERTIES
  INCLUDE_DIRECTORIES ${CMAKE_CURRENT_LIST_DIR}
  OBJECT_DEPENDS "${CMAKE_CURRENT_LIST_DIR}/updater.ico;${CMAKE_CURRENT_LIST_DIR}/updater.manifest")
set_target_properties(updater PROPERTIES WIN32_EXECUTABLE ON)
