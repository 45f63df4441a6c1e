// The driver's handlers, bound to the window's and the engine's events.
#pragma once

namespace driver {

// The window's created event, on the window thread, before the window is
// shown: the launch gate. Without arguments the process ends here.
void handleWindowCreated();

} // namespace driver
