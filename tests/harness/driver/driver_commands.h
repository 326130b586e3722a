// The driver's commands. Each prints its records on stdout and returns the
// process exit code: 0 done, 1 not found / timed out / failed, 2 usage error.
#pragma once

#include "driver_args.h"

namespace zvdriver {

constexpr int kExitOk = 0;
constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;

struct CommandEntry {
    const char* name;
    int (*run)(const DriverArgs& args);
    const char* usage;
};

// All commands, in the order the usage text lists them.
const CommandEntry* Commands(size_t& count);

}  // namespace zvdriver
