#include "platform/win32/text.h"
#include "process/command_line.h"
#include "process/process.h"
#include "process/run_directory.h"

#include <cstdio>

namespace process {
namespace detail {
void setArguments(std::vector<std::string> arguments);
}

void captureArguments(int, char **) {
  // argv holds the arguments in the ANSI code page, which cannot carry
  // every character; the wide command line can.
  const auto *line = reinterpret_cast<const char16_t *>(::GetCommandLineW());
  std::vector<std::string> arguments;
  for (const std::u16string &argument : splitCommandLine(line))
    arguments.push_back(platform::win32::toUtf8(argument));
  detail::setArguments(std::move(arguments));
}

std::string executablePath() {
  // The buffer grows until the path fits: a long path may exceed MAX_PATH,
  // and no path is longer than 32767 units.
  std::wstring path(MAX_PATH, L'\0');
  for (;;) {
    const DWORD size = static_cast<DWORD>(path.size());
    const DWORD length = ::GetModuleFileNameW(nullptr, path.data(), size);
    if (length == 0)
      return {};
    if (length < size) {
      path.resize(length);
      return platform::win32::toUtf8(path);
    }
    if (path.size() > 32768)
      return {};
    path.resize(path.size() * 2);
  }
}

void terminateProcess(int code) {
  std::fflush(nullptr);
  // Ends every thread at once, without running the libraries' detach code,
  // which could wait for a lock that a stopped thread holds.
  ::TerminateProcess(::GetCurrentProcess(), static_cast<UINT>(code));
  ::ExitProcess(static_cast<UINT>(code));
}

} // namespace process
