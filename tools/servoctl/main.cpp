// servoctl: offline checks of the data files, raw register commands over a
// serial link through the project's own Modbus master, and drive commands on
// the drive services.
#include <CLI/CLI.hpp>
#include <iostream>

#include "drive/scan.h"
#include "drive_commands.h"
#include "link.h"
#include "offline.h"
#include "output.h"
#include "platform/socket_layer.h"
#include "ports.h"
#include "resources/resources.h"
#include "scan_commands.h"

int main(int argc, char** argv) {
    using namespace servoctl;
    // The program's first step: without the socket layer nothing else runs.
    if (!platform::startSocketLayer()) {
        printError("start", utf8(resources::loadString(resources::kSocketStartFailedText)));
        return kExitInvalid;
    }
    CLI::App app{
        "servoctl - check language, value and settings files; read and write drive registers;\n"
        "show, change, back up and restore drive parameters; record scope quantities.\n"
        "Exit status: 0 success, 1 invalid file or failed exchange, 2 usage error,\n"
        "3 time-out, 4 bad checksum, 5 exception response, 6 wrong station or malformed\n"
        "response, 7 port cannot be opened."};
    app.require_subcommand(1);
    app.fallthrough();

    bool asJson = false;
    LinkOptions link;
    app.add_flag("--json", asJson, "Print JSON");
    app.add_option("--port", link.port,
                   "COMn (mapped like the program does), a device path, or a gateway "
                   "tcp://HOST:PORT (Modbus TCP) or rtu+tcp://HOST:PORT");
    app.add_option("--baud", link.baud, "Line speed in bit/s")->capture_default_str();
    app.add_option("--station", link.station, "Modbus station number")->capture_default_str();
    std::string parity = "N";
    app.add_option("--parity", parity, "Parity of the link: N, E or O")
        ->check(CLI::IsMember({"N", "E", "O", "n", "e", "o"}))
        ->capture_default_str();
    app.add_flag("--ascii", link.ascii, "Modbus ASCII framing instead of RTU");
    auto* timeoutOption =
        app.add_option("--timeout", link.timeoutMs, "Response time-out in ms (scan: default 50)")
            ->capture_default_str();
    app.add_option("--retries", link.retries, "Further attempts after a failure")
        ->capture_default_str();

    std::string file;
    // One variable for the global option and dat's own, so that either place works.
    std::string defs;
    app.add_option("--defs", defs,
                   "Language file with the drive's tables (drive commands: default "
                   "Language/DefineEn.cfg beside servoctl)");
    auto* defsCmd =
        app.add_subcommand("defs", "Load a language file and print its tables and layout warnings");
    defsCmd->add_option("FILE", file, "Language file")->required();
    auto* datCmd = app.add_subcommand("dat", "Check and print a parameter value file");
    datCmd->add_option("FILE", file, "Value file")->required();
    datCmd->add_option("--defs", defs,
                       "Language file whose parameter table types and names the values");
    auto* iniCmd = app.add_subcommand("ini", "Check and print a settings file");
    iniCmd->add_option("FILE", file, "Settings file")->required();

    std::string portsRoot;
    auto* portsCmd = app.add_subcommand("ports", "List the serial ports of this machine");
    portsCmd->add_option("--root", portsRoot, "Read dev/ and sys/ under this folder (Linux)");

    ScanArgs scanArgs;
    auto* scanCmd = app.add_subcommand(
        "scan", "Find drives: ask every port, baud rate, parity and station for register 0");
    auto* backupAllCmd = app.add_subcommand(
        "backup-all", "Scan, then back up every drive found to DIR/<port>-st<station>.dat");
    backupAllCmd->add_option("DIR", scanArgs.dir, "Folder of the value files")->required();
    backupAllCmd->add_flag("--force", scanArgs.force, "Replace existing files");
    for (CLI::App* cmd : {scanCmd, backupAllCmd}) {
        cmd->add_option("--ports", scanArgs.ports,
                        "Ports, comma separated (default: every serial port listed)");
        cmd->add_option("--bauds", scanArgs.bauds, "Baud rates, comma separated")
            ->capture_default_str();
        cmd->add_option("--parity", scanArgs.parities, "Parities N, E, O, comma separated")
            ->capture_default_str();
        cmd->add_option("--stations", scanArgs.stations, "Station range, e.g. 1-247 or 7")
            ->capture_default_str();
    }

    std::vector<long long> values;
    struct Raw {
        const char* name;
        const char* help;
        const char* args;
        LinkCommand command;
    };
    const Raw raws[] = {
        {"probe", "Read holding register 0, as the program probes the link", nullptr,
         LinkCommand::Probe},
        {"read-regs", "Read holding registers (function 3)", "ADDR COUNT", LinkCommand::ReadRegs},
        {"write-regs", "Write holding registers (function 6 for one, 16 for more)", "ADDR VALUE...",
         LinkCommand::WriteRegs},
        {"read-coils", "Read coils (function 1)", "ADDR COUNT", LinkCommand::ReadCoils},
        {"write-coils", "Write coils (function 5 for one, 15 for more)", "ADDR 0|1...",
         LinkCommand::WriteCoils},
        {"read-inputs", "Read discrete inputs (function 2)", "ADDR COUNT", LinkCommand::ReadInputs},
    };
    std::vector<std::pair<CLI::App*, LinkCommand>> rawCmds;
    for (const Raw& r : raws) {
        auto* cmd = app.add_subcommand(r.name, r.help);
        if (r.args) cmd->add_option(r.args, values, r.args)->required();
        rawCmds.emplace_back(cmd, r.command);
    }

    DriveArgs driveArgs;
    std::vector<std::pair<CLI::App*, DriveCommand>> driveCmds;
    const auto driveCommand = [&](const char* name, const char* help, DriveCommand command) {
        auto* cmd = app.add_subcommand(name, help);
        driveCmds.emplace_back(cmd, command);
        return cmd;
    };
    driveCommand("status", "Show every status item, the alarm and the digital inputs and outputs",
                 DriveCommand::Status);
    driveCommand("params", "Read every parameter with its range, unit and factory value",
                 DriveCommand::Params);
    driveCommand("get", "Read one parameter", DriveCommand::Get)
        ->add_option("NUMBER", driveArgs.number, "Parameter number, e.g. P01.03")
        ->required();
    auto* setCmd =
        driveCommand("set", "Write one parameter (refused outside its range)", DriveCommand::Set);
    setCmd->add_option("NUMBER", driveArgs.number, "Parameter number, e.g. P01.03")->required();
    setCmd->add_option("VALUE", driveArgs.value, "New value, as the parameter page shows it")
        ->required();
    setCmd->add_flag("--eeprom", driveArgs.eeprom, "Also store the parameter in the EEPROM");
    auto* backupCmd = driveCommand("backup", "Read every parameter and write them to a value file",
                                   DriveCommand::Backup);
    backupCmd->add_option("FILE", driveArgs.file, "Value file (.dat) to write")->required();
    backupCmd->add_flag("--force", driveArgs.force, "Replace an existing file");
    auto* restoreCmd = driveCommand(
        "restore", "Write a value file's values to the drive (checked whole before any write)",
        DriveCommand::Restore);
    restoreCmd->add_option("FILE", driveArgs.file, "Value file (.dat)")->required();
    restoreCmd->add_flag("--verify", driveArgs.verify, "Read every written value back");
    restoreCmd
        ->add_option("--only", driveArgs.only,
                     "Write only these parameters (P01.03,P02.01) and read each back")
        ->delimiter(',');
    auto* diffCmd =
        driveCommand("diff", "List the parameters whose drive value differs from a value file",
                     DriveCommand::Diff);
    diffCmd->add_option("FILE", driveArgs.file, "Value file (.dat)");
    diffCmd->add_flag("--factory", driveArgs.factory,
                      "Compare with the factory values instead of a file");
    driveCommand("eeprom-save", "Have the drive store every parameter in its EEPROM",
                 DriveCommand::EepromSave);
    driveCommand("factory-reset", "Write the factory value of every writable parameter",
                 DriveCommand::FactoryReset)
        ->add_flag("--yes", driveArgs.yes, "Confirm: the drive's present values are overwritten");
    auto* scopeCmd = driveCommand("scope", "Sample up to three scope quantities into a CSV file",
                                  DriveCommand::Scope);
    scopeCmd
        ->add_option("--quantities", driveArgs.quantities,
                     "Rows of the scope list, comma separated (e.g. 0,1,2)")
        ->delimiter(',')
        ->required();
    scopeCmd->add_option("--period", driveArgs.periodMs, "Sample period in ms")
        ->capture_default_str();
    scopeCmd->add_option("--duration", driveArgs.durationS, "Recording time in s")
        ->capture_default_str();
    scopeCmd->add_option("--csv", driveArgs.csv, "CSV file to write")->required();

    try {
        app.parse(argc, argv);
    } catch (const CLI::CallForHelp& e) {
        return app.exit(e);
    } catch (const CLI::CallForAllHelp& e) {
        return app.exit(e);
    } catch (const CLI::ParseError& e) {
        printError("usage", e.what());
        return kExitUsage;
    }

    if (*defsCmd) return runDefs(file, asJson);
    if (*datCmd) return runDat(file, defs.empty() ? std::nullopt : std::optional(defs), asJson);
    if (*iniCmd) return runIni(file, asJson);
    if (*portsCmd) return runPorts(asJson, portsRoot);
    if (*scanCmd || *backupAllCmd) {
        if (timeoutOption->count() > 0) scanArgs.timeoutMs = link.timeoutMs;
        scanArgs.defs = defs;
        return *scanCmd ? runScan(scanArgs, asJson) : runBackupAll(scanArgs, asJson);
    }
    link.json = asJson;
    {
        std::string problem;
        link.parity = drive::parseParities(parity, problem).value().front();
    }
    for (const auto& [cmd, command] : driveCmds) {
        if (!*cmd) continue;
        if (link.port.empty()) {
            printError("usage",
                       "--port COMn|DEVICE is required for " + std::string(cmd->get_name()));
            return kExitUsage;
        }
        driveArgs.defs = defs;
        return runDriveCommand(link, command, driveArgs);
    }
    for (const auto& [cmd, command] : rawCmds) {
        if (!*cmd) continue;
        if (link.port.empty()) {
            printError("usage",
                       "--port COMn|DEVICE is required for " + std::string(cmd->get_name()));
            return kExitUsage;
        }
        return runLinkCommand(link, command, values);
    }
    return kExitUsage;
}
