// Programs run as a user runs them from a shell, for tests that check what they print.
#pragma once

#include <string>

namespace qv {

struct CommandRun {
    int status = -1;  // the exit code; -1 when it could not start or did not exit
    std::string output;
};

// Runs `command` through the shell and collects its standard output; append
// " 2>&1" to the command to collect its errors as well.
CommandRun RunCommand(const std::string& command);

}  // namespace qv
