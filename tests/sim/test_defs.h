#pragma once
// A small language file for the simulator tests, written as the tool's files
// are: UTF-16 little-endian with a byte-order mark.
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <string>

#include "platform/text.h"
#include "support/language_file.h"
#include "support/temp_dir.h"

namespace simtest {

// Parameters (table index: register, type, range, factory):
//   0: reg 0, RW INT16U 0..100, 10
//   1: reg 1, R  INT16U, 1207
//   2: reg 2-3, RW INT32S -100000..100000, -5
//   3: reg 4, RW INT16S -100..100, -1
// Status items at 100..112 (item 8, reg 110, is the alarm code); scope
// quantities at 200 (speed) and 201 (bus voltage in 0.1 V).
inline constexpr const char* kTestDefs = R"([<0>]
#[Servo tool]
#END
[<1>]
#IMM=[at once]
#END
[<2>]
#[RW][INT16U][0][P00.00][Gain][P S T][0][100][10][-][%IMM%][a gain]
#[R][INT16U][1][P00.01][Firmware][P S T][0][65535][1207][-][%IMM%][read-only]
#[RW][INT32S][2][P00.02][Offset][P][-100000][100000][-5][unit][%IMM%][32-bit]
#[RW][INT16S][4][P00.03][Trim][P][-100][100][-1][-][%IMM%][signed]
#END
[<3>]
#[INT16S][100][Motor speed][1][rpm]
#[INT16S][101][Speed command][1][rpm]
#[INT16S][102][Output torque][10.0][%]
#[INT16U][103][Phase current (RMS)][10.0][A]
#[INT32S][104][Position feedback][][unit]
#[INT32S][106][Following error][][unit]
#[INT16U][108][DC bus voltage][10.0][V]
#[INT16S][109][Drive temperature][1][C]
#[INT16U][110][Alarm code][][-]
#[INT16U][111][Input terminals][][bits]
#[INT16U][112][Output terminals][][bits]
#END
[<4>]
#[INT16S][200][Motor speed (rpm)][-6000][6000][0]
#[INT16U][201][DC bus voltage (0.1 V)][0][4000][0]
#END
[<5>]
#[0][No alarm][-]
#END
)";

inline std::filesystem::path writeTestDefs(const std::filesystem::path& dir) {
    auto path = dir / "TestDefs.cfg";
    testsupport::writeUtf16(path, platform::fromUtf8(kTestDefs), true);
    return path;
}

using testsupport::TempDir;

}  // namespace simtest
