# The Windows build (cross-built with cmake/mingw-w64.cmake): the libraries
# it brings along, and the Windows parts of the program, which join their
# libraries once every folder of the build has been read.
enable_language(RC)

include(${CMAKE_CURRENT_LIST_DIR}/minizip-windows.cmake)
if(UPDATER_TESTS)
  include(${CMAKE_CURRENT_LIST_DIR}/googletest-windows.cmake)
endif()

# A static library need not wait for the libraries it links: each of them
# then builds on its own, which lets the parts be built and tested one by
# one.
set(CMAKE_OPTIMIZE_DEPENDENCIES ON)

# The test programs that build and run on Windows; the others (servers and
# fixtures written for POSIX) are left out of the default build.
set(UPDATER_WINDOWS_TESTS process_tests ui_tests win32_tests win32_window_tests)

# Collects the targets defined in `directory` and below.
function(updater_targets_below directory out)
  get_property(targets DIRECTORY ${directory} PROPERTY BUILDSYSTEM_TARGETS)
  get_property(children DIRECTORY ${directory} PROPERTY SUBDIRECTORIES)
  foreach(child IN LISTS children)
    updater_targets_below(${child} more)
    list(APPEND targets ${more})
  endforeach()
  set(${out} ${targets} PARENT_SCOPE)
endfunction()

function(updater_windows_parts)
  # A platform layer that is not written yet leaves its library unbuildable
  # without stopping the rest of the build from being configured. The window
  # library then goes without the ZIP component, which only the full program
  # uses.
  set(pending)
  foreach(target updater_download updater_archive)
    get_target_property(sources ${target} SOURCES)
    get_target_property(directory ${target} SOURCE_DIR)
    foreach(source IN LISTS sources)
      cmake_path(ABSOLUTE_PATH source BASE_DIRECTORY ${directory}
                 OUTPUT_VARIABLE path)
      if(NOT EXISTS ${path})
        message(STATUS "Windows build: ${target} lacks ${source}")
        list(APPEND pending ${target}:${source})
        set_source_files_properties(${path} TARGET_DIRECTORY ${target}
                                    PROPERTIES GENERATED ON)
        if(target STREQUAL "updater_archive")
          foreach(property LINK_LIBRARIES INTERFACE_LINK_LIBRARIES)
            get_target_property(libraries updater_ui ${property})
            list(REMOVE_ITEM libraries updater_archive)
            set_target_properties(updater_ui PROPERTIES ${property} "${libraries}")
          endforeach()
        endif()
      endif()
    endforeach()
  endforeach()

  # What is still missing, one per line, for scripts/checks/windows.sh.
  list(JOIN pending "\n" pending)
  file(WRITE ${PROJECT_BINARY_DIR}/windows-pending.txt "${pending}")

  # Folders cannot be added at this point, so the Windows parts come as
  # included lists that name their files in full.
  include(${PROJECT_SOURCE_DIR}/src/ui/win32/backend.cmake)
  include(${PROJECT_SOURCE_DIR}/src/driver/win32/resources.cmake)
  if(UPDATER_TESTS)
    include(${PROJECT_SOURCE_DIR}/tests/win32/tests.cmake)
    # GoogleTest lists each program's tests by running it once built, which
    # needs Wine here; without it no test is part of the default build.
    set(runnable ${UPDATER_WINDOWS_TESTS})
    if(NOT CMAKE_CROSSCOMPILING_EMULATOR AND CMAKE_CROSSCOMPILING)
      set(runnable)
      set_target_properties(win32_tests win32_window_tests PROPERTIES
                            EXCLUDE_FROM_ALL ON)
    endif()
    foreach(directory tests bench)
      updater_targets_below(${PROJECT_SOURCE_DIR}/${directory} targets)
      foreach(target IN LISTS targets)
        if(NOT target IN_LIST runnable)
          set_property(TARGET ${target} PROPERTY EXCLUDE_FROM_ALL ON)
        endif()
      endforeach()
    endforeach()
  endif()
endfunction()
cmake_language(DEFER DIRECTORY ${PROJECT_SOURCE_DIR} CALL updater_windows_parts)
