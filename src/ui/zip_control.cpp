// ZIP压缩1: the window's ZIP component, in its own unit so that programs
// which never unpack do not link the archive reader.
#include "ui/window.h"

#include "archive/extract.h"

namespace ui {

int Window::extract(std::string_view archivePath,
                    std::string_view targetDirectory) {
  // The driver's handler returns nothing, so it never stops the run.
  return archive::extract(archivePath, targetDirectory, [this](int percent) {
    if (bindings_.installProgress && !process::endingMarkRaised())
      bindings_.installProgress(percent);
    return true;
  });
}

} // namespace ui
