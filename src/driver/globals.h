// The program-wide values, from initGlobals to releaseGlobals.
#pragma once

#include "download/download.h"
#include "download/task_param.h"
#include "ui/window.h"

#include <atomic>

namespace driver {

// The engine's object; owned from initGlobals to releaseGlobals.
extern download::Download *downloader;
// The task record handed to downloader; owned from initGlobals to
// releaseGlobals.
extern download::TaskParam *taskParam;
// The archive's size in bytes as the engine reported it; 0 until then.
// Written on the engine's task thread, read on the window thread.
extern std::atomic<double> totalSize;

// The update window, loaded once by programStart and alive until the
// process ends.
ui::Window &updateWindow();

// Creates downloader (no task attached) and taskParam (every member at its
// default). totalSize is not touched.
void initGlobals();

// The exit routine: destroys downloader, then releases taskParam's texts and
// the record. Runs once, on the window thread, during the end sequence.
void releaseGlobals();

} // namespace driver
