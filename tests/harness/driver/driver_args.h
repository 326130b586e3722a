// Command line of the driver: one command word followed by --name value options.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace zvdriver {

struct DriverArgs {
    std::string command;
    std::map<std::string, std::string> options;  // "--title" -> "zentrovia" (key without dashes)
};

struct ArgsResult {
    std::optional<DriverArgs> args;
    std::string error;
};

// Every option takes exactly one value; flags are written as "--real 1".
ArgsResult ParseArgs(const std::vector<std::string>& words);

std::optional<std::string> Option(const DriverArgs& args, const std::string& name);
// Missing -> fallback; present but not a number -> nullopt.
std::optional<int64_t> NumberOption(const DriverArgs& args, const std::string& name, int64_t fallback);
bool HasOption(const DriverArgs& args, const std::string& name);

}  // namespace zvdriver
