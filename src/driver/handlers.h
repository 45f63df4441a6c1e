// The driver's handlers, bound to the window's and the engine's events.
#pragma once

#include "download/task_param.h"

#include <cstdint>
#include <string>

namespace driver {

// The update address, compiled in.
extern const char kUpdateUrl[];

// The closing messages and their title.
inline constexpr char kDoneMessage[] = "更新完毕，请重新打开软件！";
inline constexpr char kFailedMessage[] = "更新失败，请稍后重试！";
inline constexpr char kMessageTitle[] = "信息：";

// Where the download goes: the run directory, the separator, "temp.temp".
std::string archivePath();

// The window's created event, on the window thread, before the window is
// shown: the launch gate. Without arguments the process ends here; with
// "-g" the download starts.
void handleWindowCreated();

// 时钟1's periodic event, on the window thread: the download's percentage
// on the bar and in the title.
void handleDownloadTick();

// ZIP压缩1's progress event, on the thread that unpacks: the installation's
// percentage on the bar and in the title.
void handleInstallProgress(std::int32_t percent);

// The engine's event callback, on the engine's threads. Code 3 keeps the
// archive's size and path; code 4 installs the update, tells the user and
// ends the process (it returns only when the process is already ending).
// Every other code returns 0 at once.
std::int32_t handleDownloadEvent(download::EventArg code, download::EventArg a2,
                                 download::EventArg a3, download::EventArg a4,
                                 download::EventArg a5);

} // namespace driver
