#include "driver_args.h"

#include "driver_text.h"

namespace zvdriver {

ArgsResult ParseArgs(const std::vector<std::string>& words) {
    ArgsResult result;
    if (words.empty()) {
        result.error = "missing command";
        return result;
    }
    DriverArgs args;
    args.command = words[0];
    for (size_t i = 1; i < words.size(); i += 2) {
        const std::string& name = words[i];
        if (name.size() < 3 || name.compare(0, 2, "--") != 0) {
            result.error = "expected --option, got '" + name + "'";
            return result;
        }
        if (i + 1 >= words.size()) {
            result.error = "option " + name + " needs a value";
            return result;
        }
        args.options[name.substr(2)] = words[i + 1];
    }
    result.args = std::move(args);
    return result;
}

std::optional<std::string> Option(const DriverArgs& args, const std::string& name) {
    auto it = args.options.find(name);
    if (it == args.options.end()) return std::nullopt;
    return it->second;
}

std::optional<int64_t> NumberOption(const DriverArgs& args, const std::string& name, int64_t fallback) {
    auto it = args.options.find(name);
    if (it == args.options.end()) return fallback;
    return ParseNumber(it->second);
}

bool HasOption(const DriverArgs& args, const std::string& name) {
    return args.options.count(name) != 0;
}

}  // namespace zvdriver
