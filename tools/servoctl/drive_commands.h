#pragma once
// servoctl's drive commands: status, parameters, backup and restore, EEPROM
// store, factory values and scope recording, on the drive services that the
// program's pages use, so that values show as the pages show them.
#include <string>
#include <vector>

#include "link.h"

namespace servoctl {

enum class DriveCommand {
    Status,
    Params,
    Get,
    Set,
    Backup,
    Restore,
    Diff,
    EepromSave,
    FactoryReset,
    Scope,
};

struct DriveArgs {
    std::string defs;    // language file; empty: Language/DefineEn.cfg beside servoctl
    std::string number;  // get, set: "P01.03"
    std::string value;   // set: the text entered
    std::string file;    // backup, restore, diff
    bool eeprom = false;
    bool verify = false;
    std::vector<std::string> only;  // restore: these parameters only, each read back
    bool factory = false;
    bool yes = false;
    bool force = false;           // backup: replace an existing file
    std::vector<int> quantities;  // scope rows
    unsigned periodMs = 10;
    double durationS = 1.0;
    std::string csv;
};

// Exit statuses as the link commands: 0, 1 (refused, invalid file, values
// that differ), 2 usage, 3 to 7 the link's failures.
int runDriveCommand(const LinkOptions& link, DriveCommand command, const DriveArgs& args);

}  // namespace servoctl
