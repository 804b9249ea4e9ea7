#include "AuthorLog.h"
#include "CliJob.h"
#include "NumericLocale.h"

#include <QCoreApplication>
#include <QGuiApplication>

#include <cstdlib>
#include <memory>

int CliMain(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    CliOptions options;
    std::string error;
    if (!ParseCliOptions(args, &options, &error)) {
        std::fprintf(stderr, "qxmoviedisc-cli: %s\n%s", error.c_str(), CliUsage().c_str());
        return 2;
    }
    if (options.help) {
        std::fputs(CliUsage().c_str(), stdout);
        return 0;
    }
    // The engines' diagnostic trace is for whoever asks for it: --verbose shows all of it,
    // QXAUTHOR_VERBOSITY chooses as in the window program; otherwise only errors.
    if (options.verbose) {
        AuthorLogSetFilter([](int) { return 0; });
    } else if (!std::getenv("QXAUTHOR_VERBOSITY")) {
        AuthorLogSetFilter([](int level) { return level < AUTHOR_LOG_ERROR ? 1 : 0; });
    }
    // No window and no display: Qt Core's event loop carries the messages of the encoder and the
    // job's steps. A menu's text is drawn with Qt Gui's fonts, off screen.
    std::unique_ptr<QCoreApplication> app;
    if (options.menu) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
        app = std::make_unique<QGuiApplication>(argc, argv);
    } else {
        app = std::make_unique<QCoreApplication>(argc, argv);
    }
    qx::UseLocaleIndependentNumbers();
    QCoreApplication::setApplicationName("QX Movie Disc");
    return options.WriterOperation() ? RunCliWriterOperation(options, stdout, stderr)
                                     : RunCliJob(options, stdout, stderr);
}
