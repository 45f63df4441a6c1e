# Cross-building the updater for 64-bit Windows with Debian's MinGW-w64
# compilers (the posix-threads flavour, which std::thread needs):
#
#   cmake -S . -B build-win -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64.cmake \
#         -DUPDATE_URL=http://updates.example.com/files/velmarost.zip
#   cmake --build build-win
#
# Packages: g++-mingw-w64-x86-64-posix, mingw-w64-tools, libz-mingw-w64-dev,
# and wine64 to run the tests.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(UPDATER_MINGW_TRIPLET x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${UPDATER_MINGW_TRIPLET}-gcc-posix)
set(CMAKE_CXX_COMPILER ${UPDATER_MINGW_TRIPLET}-g++-posix)
set(CMAKE_RC_COMPILER ${UPDATER_MINGW_TRIPLET}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${UPDATER_MINGW_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Everything but the system's own DLLs is linked in, so that the program is
# one file that runs on a bare Windows: the GCC runtime, the C++ library and
# winpthread come from their static archives.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
# zlib as well: Debian's package also ships an import library for its DLL.
set(ZLIB_USE_STATIC_LIBS ON)

# pkg-config for the target: the wrapper looks in the MinGW tree only.
find_program(PKG_CONFIG_EXECUTABLE ${UPDATER_MINGW_TRIPLET}-pkg-config)

# Test programs (and GoogleTest's discovery at build time) run under Wine.
find_program(UPDATER_WINE64 NAMES wine64 wine PATHS /usr/lib/wine NO_CMAKE_FIND_ROOT_PATH)
if(UPDATER_WINE64)
  set(CMAKE_CROSSCOMPILING_EMULATOR env WINEDEBUG=-all ${UPDATER_WINE64})
endif()
