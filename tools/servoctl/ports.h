#pragma once
#include <string>

namespace servoctl {

// `servoctl ports [--json] [--root DIR]`: the serial ports of this machine,
// one line each: device, description, stable name, and the COMn names that
// the program's mapping gives it. DIR replaces / (Linux; for tests and
// chroots). Exit 0, also when there are none.
int runPorts(bool asJson, const std::string& root);

}  // namespace servoctl
