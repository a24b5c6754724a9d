// Internal to the platform library: where platform calls ask whether they
// must fail (platform/faults.h).
#pragma once

#include <string>

#include "platform/errors.h"
#include "platform/faults.h"

namespace platform {

// The Status a call at the site on the subject (a path) must fail with, or
// kOk.
Status injectedFault(FaultSite site, const std::string& subject);

}  // namespace platform
