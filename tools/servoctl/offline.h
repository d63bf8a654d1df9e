#pragma once
// servoctl's offline commands: check and print the data files.
#include <optional>
#include <string>

namespace servoctl {

int runDefs(const std::string& file, bool json);
int runDat(const std::string& file, const std::optional<std::string>& defsFile, bool json);
int runIni(const std::string& file, bool json);

}  // namespace servoctl
