#include "download/task_param.h"

#include "process/process.h"

#include <cstdlib>
#include <cstring>

namespace download {

TaskParam *createTaskParam() {
  auto *param = static_cast<TaskParam *>(std::calloc(1, sizeof(TaskParam)));
  if (!param)
    std::abort();
  param->flags = 1;
  param->url = process::allocateText("");
  param->savePath = process::allocateText("");
  param->userName = process::allocateText(kDefaultUserName);
  param->password = process::allocateText(kDefaultPassword);
  param->connectionCount = 1;
  param->speedLimit = 0;
  param->connectTimeout = 20000;
  param->sendTimeout = 20000;
  param->receiveTimeout = 20000;
  param->stopWait = 1000;
  param->receiveBlockSize = 20480;
  param->sendBlockSize = 1024;
  param->altRemoteName = process::allocateText("");
  param->transferType = 1;
  param->binaryExtensions = process::allocateText(kDefaultBinaryExtensions);
  return param;
}

void releaseText(const char *&member) {
  process::releaseBlock(member);
  member = nullptr;
}

void setText(const char *&member, std::string_view text) {
  releaseText(member);
  member = process::allocateText(text);
}

void referText(const char *&member, const char *constant) {
  releaseText(member);
  member = constant;
}

void releaseTaskParam(TaskParam *param) {
  if (!param)
    return;
  releaseText(param->url);
  releaseText(param->savePath);
  releaseText(param->userName);
  releaseText(param->password);
  releaseText(param->altRemoteName);
  releaseText(param->binaryExtensions);
  releaseText(param->httpProxy);
  releaseText(param->referer);
  std::free(param);
}

} // namespace download
