#include "process/process.h"
#include "ui/backend.h"
#include "ui/win32/win32_backend.h"

namespace ui {

std::unique_ptr<Backend> openBackend() {
  if (auto backend = Win32Backend::open())
    return backend;
  // Without its window classes the program cannot show anything; it ends
  // with a code that tells a failure from its own ends.
  process::terminateProcess(1);
}

} // namespace ui
