#include "cli.h"

#include <QStringList>

#include <cstdio>

namespace synth {

void parseArguments(QCommandLineParser& cli, int argc, char** argv) {
    // From argv rather than the application's arguments: ensureGuiApp makes
    // the application with the program's name only.
    QStringList args;
    for (int i = 0; i < argc; ++i)
        args << QString::fromLocal8Bit(argv[i]);
    cli.process(args);
}

int toolError(const char* tool, const QString& message, int status) {
    std::fprintf(stderr, "%s: %s\n", tool, qPrintable(message));
    return status;
}

} // namespace synth
