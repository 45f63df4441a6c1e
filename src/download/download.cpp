#include "download/download.h"

namespace download {

Download::Download() = default;

Download::~Download() { destroy(); }

void Download::destroy() {
  if (!attachment_)
    return;
  attachment_.reset();
}

void shutdownEngine() {}

} // namespace download
