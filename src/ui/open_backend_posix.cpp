#include "ui/backend.h"
#include "ui/gtk/gtk_backend.h"
#include "ui/term/terminal_backend.h"

namespace ui {

std::unique_ptr<Backend> openBackend() {
  if (auto gtk = GtkBackend::open())
    return gtk;
  return std::make_unique<TerminalBackend>();
}

} // namespace ui
