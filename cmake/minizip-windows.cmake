# minizip's reader for the Windows build. Debian has no MinGW package of it,
# so it is built from the zlib tree inside Debian's gcc-12-source package:
# the package is fetched with apt-get into the build tree, only the reader's
# sources are unpacked, and they are compiled into a static library while
# the build is configured. A pkg-config file for it lets the rest of the
# build find it as "minizip", as on Linux. Nothing of it lives in the
# repository.
set(_minizip_root ${CMAKE_BINARY_DIR}/_deps/minizip)
set(_minizip_lib ${_minizip_root}/lib/libminizip.a)
set(_minizip_files unzip.c unzip.h ioapi.c ioapi.h crypt.h)

if(NOT EXISTS ${_minizip_lib})
  set(_download ${_minizip_root}/download)
  set(_source ${_minizip_root}/src)
  file(MAKE_DIRECTORY ${_download} ${_source} ${_minizip_root}/include/minizip
       ${_minizip_root}/lib/pkgconfig)

  file(GLOB _deb ${_download}/gcc-12-source_*.deb)
  if(NOT _deb)
    message(STATUS "Fetching gcc-12-source for minizip")
    execute_process(COMMAND apt-get download gcc-12-source
      WORKING_DIRECTORY ${_download} RESULT_VARIABLE _result
      OUTPUT_QUIET ERROR_VARIABLE _error)
    file(GLOB _deb ${_download}/gcc-12-source_*.deb)
    if(NOT _result EQUAL 0 OR NOT _deb)
      message(FATAL_ERROR "apt-get download gcc-12-source failed: ${_error}")
    endif()
  endif()

  # The package holds GCC's source tarball; only the reader is taken out of it.
  set(_members)
  foreach(file IN LISTS _minizip_files)
    list(APPEND _members gcc-12.2.0/zlib/contrib/minizip/${file})
  endforeach()
  execute_process(
    COMMAND dpkg-deb --fsys-tarfile ${_deb}
    COMMAND tar -xO -f - ./usr/src/gcc-12/gcc-12.2.0-dfsg.tar.xz
    COMMAND tar -xJ -f - --strip-components=4 -C ${_source} ${_members}
    RESULT_VARIABLE _results)
  foreach(file IN LISTS _minizip_files)
    if(NOT EXISTS ${_source}/${file})
      message(FATAL_ERROR "minizip: ${file} is not in ${_deb} (${_results})")
    endif()
  endforeach()

  set(_objects)
  foreach(file unzip ioapi)
    execute_process(
      COMMAND ${CMAKE_C_COMPILER} -O2 -w -c ${_source}/${file}.c
              -o ${_minizip_root}/${file}.o
      RESULT_VARIABLE _result ERROR_VARIABLE _error)
    if(NOT _result EQUAL 0)
      message(FATAL_ERROR "minizip: compiling ${file}.c failed:\n${_error}")
    endif()
    list(APPEND _objects ${_minizip_root}/${file}.o)
  endforeach()
  execute_process(COMMAND ${CMAKE_AR} rcs ${_minizip_lib}.tmp ${_objects}
    RESULT_VARIABLE _result)
  if(NOT _result EQUAL 0)
    message(FATAL_ERROR "minizip: archiving the library failed")
  endif()
  foreach(file unzip.h ioapi.h crypt.h)
    file(COPY ${_source}/${file} DESTINATION ${_minizip_root}/include/minizip)
  endforeach()
  file(RENAME ${_minizip_lib}.tmp ${_minizip_lib})
endif()

# The same include layout as Debian's libminizip-dev: <minizip/unzip.h>, and
# <unzip.h> through the minizip folder.
file(WRITE ${_minizip_root}/lib/pkgconfig/minizip.pc
"prefix=${_minizip_root}
libdir=\${prefix}/lib
includedir=\${prefix}/include

Name: minizip
Description: minizip's unzip reader, built for Windows
Version: 1.1
Libs: -L\${libdir} -lminizip
Cflags: -I\${includedir}/minizip -I\${includedir}
")
list(APPEND CMAKE_PREFIX_PATH ${_minizip_root})
list(APPEND CMAKE_FIND_ROOT_PATH ${_minizip_root})
