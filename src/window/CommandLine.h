// framewise's command line: the files to load, --help and --version.
#pragma once

#include <optional>

#include <QStringList>

struct CommandLine {
    // Full paths of the files named, in their order.
    QStringList Files;
    // Set when the program is to end at once: 0 after --help or --version
    // (printed on stdout), 2 after a usage error (printed on stderr).
    std::optional<int> ExitStatus;
};

// Parses `arguments`, the program's name first. With `reportErrors` false a
// command line that does not parse is left alone (no output, no ExitStatus):
// it may still hold options of the window system that the application object
// removes later.
CommandLine ParseCommandLine(const QStringList& arguments, bool reportErrors);
