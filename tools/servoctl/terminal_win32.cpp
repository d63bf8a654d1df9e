#include <io.h>

#include <cstdio>

#include "terminal.h"

namespace servoctl {

bool standardErrorIsTerminal() {
    return ::_isatty(::_fileno(stderr)) != 0;
}

}  // namespace servoctl
