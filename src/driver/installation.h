// Keeps the installation and the end sequence apart: an installation that has
// begun is finished (or rolled back) before the end sequence releases
// anything, and once the end sequence has begun no installation starts.
#pragma once

namespace driver {

// Called by the finished event on the engine's task thread. False when the
// end sequence has already begun: nothing may be installed then.
bool beginInstallation();

// Called when the installation is over. False when the end sequence began
// meanwhile and is waiting for it: the process then ends by that sequence,
// with its code, and the caller shows nothing more.
bool finishInstallation();

// Called by the end sequence on the window thread: waits for an
// installation in progress to finish; afterwards none can begin.
void awaitInstallation();

} // namespace driver
