#pragma once
// The drive services' test rig: servo-sim on a pseudo-terminal, the master and
// access layer, the sample language file, and a DriveSession connected to the
// simulator as the connection page connects.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "data/language.h"
#include "drive/session.h"
#include "modbus/drive_access.h"
#include "modbus/master.h"
#include "support/sim_process.h"

namespace drivetest {

inline std::filesystem::path distDir() {
    return std::filesystem::path(SERVO_DIST_DIR);
}

struct Rig {
    testsupport::SimProcess sim;
    modbus::ModbusMaster master;
    modbus::DriveAccess access{master};
    data::LanguageData language;
    drive::DriveSession session{access};

    explicit Rig(std::vector<std::string> simArgs = {}) : sim(std::move(simArgs)) {
        access.initModbus();
        if (data::loadLanguageFile(distDir() / "Language" / "DefineEn.cfg", language) != 1)
            throw std::runtime_error("cannot load the sample language file");
    }

    drive::LinkSettings settings(drive::RequestTiming timing = drive::kLinkTiming) const {
        drive::LinkSettings s;
        s.channel = 0;
        s.device = sim.ptyPath();
        s.station = 1;
        s.timing = timing;
        return s;
    }

    void connect(drive::RequestTiming timing = drive::kLinkTiming) {
        const drive::Result r = session.connect(settings(timing));
        ASSERT_TRUE(r.ok()) << r.cause();
    }

    // The simulator's parameter I (its value in the type, as text).
    std::string simParam(std::size_t index) { return sim.ok("get param " + std::to_string(index)); }

    // Write requests (functions 5, 6, 15, 16) in the simulator's log.
    int loggedWrites() {
        const std::string dump = sim.ok("log dump");
        int writes = 0;
        std::size_t at = dump.find(' ');
        while (at != std::string::npos) {
            const std::size_t start = at + 1;
            at = dump.find(' ', start);
            const std::string frame = dump.substr(start, at == std::string::npos ? at : at - start);
            if (frame.size() >= 4) {
                const std::string fn = frame.substr(2, 2);
                if (fn == "05" || fn == "06" || fn == "0f" || fn == "0F" || fn == "10") ++writes;
            }
        }
        return writes;
    }
};

}  // namespace drivetest
