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
set(UPDATER_WINDOWS_TESTS process_tests ui_tests win32_tests win32_window_tests
                           win32_layer_tests)

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
  # Winsock for the engine's sockets.
  target_link_libraries(updater_download PUBLIC ws2_32)

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
      set_target_properties(win32_tests win32_window_tests win32_layer_tests PROPERTIES
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
