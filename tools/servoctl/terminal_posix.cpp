#include <unistd.h>

#include "terminal.h"

namespace servoctl {

bool standardErrorIsTerminal() {
    return ::isatty(STDERR_FILENO) == 1;
}

}  // namespace servoctl
