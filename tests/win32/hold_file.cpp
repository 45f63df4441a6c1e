// Holds a file open as another program would, for the Windows checks of
// files in use: opens PATH for reading with the sharing asked for, creates
// READY once it has the file, and keeps it until STOP exists (at most five
// minutes).
// Usage: hold_file PATH read|read-delete READY STOP
#include "platform/win32/text.h"
#include "platform/win32/win32.h"

#include <cstdio>
#include <string_view>

int wmain(int argc, wchar_t **argv) {
  if (argc != 5) {
    std::fputs("usage: hold_file PATH read|read-delete READY STOP\n", stderr);
    return 2;
  }
  const std::wstring_view sharing = argv[2];
  DWORD share = FILE_SHARE_READ;
  if (sharing == L"read-delete")
    share |= FILE_SHARE_DELETE;
  else if (sharing != L"read") {
    std::fputs("sharing is read or read-delete\n", stderr);
    return 2;
  }
  const HANDLE held = ::CreateFileW(argv[1], GENERIC_READ, share, nullptr,
                                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (held == INVALID_HANDLE_VALUE) {
    std::fprintf(stderr, "cannot open the file: error %lu\n", ::GetLastError());
    return 1;
  }
  const HANDLE ready = ::CreateFileW(argv[3], GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                     FILE_ATTRIBUTE_NORMAL, nullptr);
  if (ready == INVALID_HANDLE_VALUE)
    return 1;
  ::CloseHandle(ready);
  for (int i = 0; i < 3000; ++i) {
    if (::GetFileAttributesW(argv[4]) != INVALID_FILE_ATTRIBUTES)
      break;
    ::Sleep(100);
  }
  ::CloseHandle(held);
  return 0;
}
