#include "process/process.h"
#include "process/run_directory.h"

#include <cstdio>
#include <unistd.h>

namespace process {
namespace detail {
void setArguments(std::vector<std::string> arguments);
}

void captureArguments(int argc, char **argv) {
  std::vector<std::string> arguments;
  for (int i = 1; i < argc; ++i)
    arguments.emplace_back(argv[i]);
  detail::setArguments(std::move(arguments));
}

std::string executablePath() {
  std::string path(4096, '\0');
  const ssize_t n = ::readlink("/proc/self/exe", path.data(), path.size());
  if (n <= 0 || static_cast<std::size_t>(n) >= path.size())
    return {};
  path.resize(static_cast<std::size_t>(n));
  return path;
}

void terminateProcess(int code) {
  std::fflush(nullptr);
  ::_exit(code);
}

} // namespace process
