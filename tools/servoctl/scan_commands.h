#pragma once
// servoctl scan and backup-all: finding the drives on the machine's ports.
#include <string>

#include "link.h"

namespace servoctl {

struct ScanArgs {
    std::string ports;  // "COM1,/dev/ttyUSB0"; empty: every port the machine lists
    std::string bauds = "4800,9600,19200,38400,57600,115200";
    std::string parities = "N,E,O";
    std::string stations = "1-247";
    unsigned timeoutMs = 50;
    std::string dir;   // backup-all: the folder of the files
    std::string defs;  // backup-all: language file
    bool force = false;
};

// Lists the drives found; exit 0 when there is one, 1 when none answered,
// 2 for a plan that cannot be used.
int runScan(const ScanArgs& args, bool asJson);
// Scans, then backs up every drive found to DIR/<port>-st<station>.dat;
// exit 0 when every drive found was backed up (and one was found), else 1.
int runBackupAll(const ScanArgs& args, bool asJson);

}  // namespace servoctl
