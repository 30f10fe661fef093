// plcsim's descriptors are the platform layer's owned descriptors (platform/unique_fd.h).
#pragma once

#include "platform/unique_fd.h"

namespace plcsim {

using cabrix::platform::UniqueFd;

}  // namespace plcsim
