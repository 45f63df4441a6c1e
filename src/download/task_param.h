// The download task record: how the driver describes one transfer to the
// engine.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace download {

// The engine's callbacks take five integers. They are 32 bits wide on the
// 32-bit targets for which the record's layout is fixed, and as wide as a
// pointer elsewhere, so that the path text of the size-known event (event
// 3) and the task handle fit on every target.
using EventArg = std::intptr_t;

// Receives the task's events: (code, a2, a3, a4, a5), a5 being the task
// handle. Only the answer to event 18 is read.
using EventCallback = std::int32_t (*)(EventArg code, EventArg a2, EventArg a3,
                                       EventArg a4, EventArg a5);

// Receives the engine's status texts: (connection, local date and time,
// status text, level 0 to 3, task handle). The result is ignored.
using LogCallback = std::int32_t (*)(EventArg connection, const char *time,
                                     const char *status, EventArg level,
                                     EventArg task);

// Direction bits of `flags`.
inline constexpr std::int32_t kFlagDownload = 0x1000;
inline constexpr std::int32_t kFlagUpload = 0x2000;

// Twenty members in a fixed order; on a 32-bit target each is 4 bytes wide
// and the record is 80 bytes. A text member is null (none), an owned copy
// made by process::allocateText, or one of the program's constant texts;
// setText and referText release the previous text first.
struct TaskParam {
  std::int32_t flags;
  const char *url;
  const char *savePath;
  const char *userName;
  const char *password;
  std::int32_t connectionCount;
  std::int32_t speedLimit;       // bytes per second; 0: no limit
  std::int32_t connectTimeout;   // ms
  std::int32_t sendTimeout;      // ms; 0: no limit
  std::int32_t receiveTimeout;   // ms of silence
  std::int32_t stopWait;         // ms
  std::int32_t receiveBlockSize; // bytes
  std::int32_t sendBlockSize;    // bytes; uploads only
  LogCallback logCallback;
  EventCallback eventCallback;
  const char *altRemoteName;
  std::int32_t transferType;
  const char *binaryExtensions;
  const char *httpProxy;
  const char *referer;
};

#if INTPTR_MAX == INT32_MAX
static_assert(sizeof(TaskParam) == 80);
static_assert(offsetof(TaskParam, flags) == 0);
static_assert(offsetof(TaskParam, url) == 4);
static_assert(offsetof(TaskParam, savePath) == 8);
static_assert(offsetof(TaskParam, userName) == 12);
static_assert(offsetof(TaskParam, password) == 16);
static_assert(offsetof(TaskParam, connectionCount) == 20);
static_assert(offsetof(TaskParam, speedLimit) == 24);
static_assert(offsetof(TaskParam, connectTimeout) == 28);
static_assert(offsetof(TaskParam, sendTimeout) == 32);
static_assert(offsetof(TaskParam, receiveTimeout) == 36);
static_assert(offsetof(TaskParam, stopWait) == 40);
static_assert(offsetof(TaskParam, receiveBlockSize) == 44);
static_assert(offsetof(TaskParam, sendBlockSize) == 48);
static_assert(offsetof(TaskParam, logCallback) == 52);
static_assert(offsetof(TaskParam, eventCallback) == 56);
static_assert(offsetof(TaskParam, altRemoteName) == 60);
static_assert(offsetof(TaskParam, transferType) == 64);
static_assert(offsetof(TaskParam, binaryExtensions) == 68);
static_assert(offsetof(TaskParam, httpProxy) == 72);
static_assert(offsetof(TaskParam, referer) == 76);
#endif

// The default texts.
inline constexpr std::string_view kDefaultUserName = "anonymous";
inline constexpr std::string_view kDefaultPassword = "guest@example.org";
inline constexpr std::string_view kDefaultBinaryExtensions =
    ".exe|.rar|.zip|.gif|.jpg|.mp3|.rm";

// Creates a record with every member at its default; each default text is
// an owned copy.
TaskParam *createTaskParam();

// Releases the text members (url, savePath, userName, password,
// altRemoteName, binaryExtensions, httpProxy, referer, in this order), then
// the record. Null does nothing.
void releaseTaskParam(TaskParam *param);

// Releases the member's text, then stores an owned copy of `text`.
void setText(const char *&member, std::string_view text);

// Releases the member's text, then makes it refer to `constant`, a text the
// program never frees; releasing the member later leaves it alone.
void referText(const char *&member, const char *constant);

// Releases the member's text and leaves it absent.
void releaseText(const char *&member);

} // namespace download
