#pragma once
// Whether standard error is a terminal: progress lines go only there, never
// into a file or a pipe that a script reads. One .cpp per OS, chosen in CMake.

namespace servoctl {

bool standardErrorIsTerminal();

}  // namespace servoctl
