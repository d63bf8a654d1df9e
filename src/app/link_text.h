#pragma once
// The link's state in words for the status line and messages, in the
// language chosen at start.
#include <string>

#include "app/app_context.h"
#include "drive/result.h"

namespace app {

// The cause of a failed link request: no answer, bad checksum, wrong
// station, an exception with its code, a port that failed or cannot be
// opened (with the system's reason). English texts are drive::Result::cause.
std::u16string linkCause(const AppContext& context, const drive::Result& result);

// The port of a connection as the status page names it: "COM1 (/dev/ttyUSB0)".
std::u16string portName(const drive::LinkSnapshot& link);

}  // namespace app
