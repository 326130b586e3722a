// zvdriver.exe: one command per run against the windows of other programs,
// results on stdout as tab-separated key=value lines. Tests run it under Wine.
#include <fcntl.h>
#include <io.h>
#include <windows.h>
#include <shellapi.h>

#include <cstdio>
#include <string>
#include <vector>

#include "driver/driver_args.h"
#include "driver/driver_commands.h"
#include "driver/driver_text.h"

namespace {

int PrintUsage(const std::string& problem) {
    if (!problem.empty()) fprintf(stderr, "zvdriver: %s\n", problem.c_str());
    fprintf(stderr,
            "usage: zvdriver COMMAND [--option value]...\n"
            "Numbers are decimal or 0x hex; windows are printed as 0x hex handles.\n"
            "Exit code: 0 done, 1 not found / timed out / failed, 2 usage error.\n"
            "Commands:\n");
    size_t count = 0;
    const zvdriver::CommandEntry* commands = zvdriver::Commands(count);
    for (size_t i = 0; i < count; ++i) fprintf(stderr, "  %s\n", commands[i].usage);
    return zvdriver::kExitUsage;
}

std::vector<std::string> Utf8Arguments() {
    int argc = 0;
    LPWSTR* argv = CommandLineToArgvW(GetCommandLineW(), &argc);
    std::vector<std::string> words;
    for (int i = 1; argv && i < argc; ++i) words.push_back(zvdriver::Utf8FromWide(argv[i]));
    LocalFree(argv);
    return words;
}

}  // namespace

int main() {
    // Raw UTF-8 bytes and "\n" line ends, whatever the console code page is.
    _setmode(_fileno(stdout), _O_BINARY);
    zvdriver::ArgsResult parsed = zvdriver::ParseArgs(Utf8Arguments());
    if (!parsed.args) return PrintUsage(parsed.error);
    size_t count = 0;
    const zvdriver::CommandEntry* commands = zvdriver::Commands(count);
    for (size_t i = 0; i < count; ++i) {
        if (parsed.args->command == commands[i].name) return commands[i].run(*parsed.args);
    }
    return PrintUsage("unknown command '" + parsed.args->command + "'");
}
