#pragma once
// servoctl's drive commands: status, parameters, backup and restore, EEPROM
// store, factory values and scope recording, on the drive services that the
// program's pages use, so that values show as the pages show them.
#include <cstddef>
#include <string>
#include <vector>

#include "drive/result.h"
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

// Reads every parameter of the drive on `link` and writes args.file (replacing
// it), as `backup` does; nothing is written unless the whole read succeeded.
// `parameters` receives the count written. Errors of the language file are
// printed; the rest is the result's.
drive::Result backupDrive(const LinkOptions& link, const DriveArgs& args, std::size_t& parameters);

// Exit statuses as the link commands: 0, 1 (refused, invalid file, values
// that differ), 2 usage, 3 to 7 the link's failures.
int runDriveCommand(const LinkOptions& link, DriveCommand command, const DriveArgs& args);

}  // namespace servoctl
