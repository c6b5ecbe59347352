#pragma once

#include <QCommandLineParser>
#include <QString>

// What the footage tools' command lines share.
namespace synth {

// Parses the process's arguments; --help and unknown options end the process
// with Qt's own text, as QCommandLineParser::process does.
void parseArguments(QCommandLineParser& cli, int argc, char** argv);

// Writes "tool: message" to stderr and returns `status` for main to return.
int toolError(const char* tool, const QString& message, int status = 1);

} // namespace synth
