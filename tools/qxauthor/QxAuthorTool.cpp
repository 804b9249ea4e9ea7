#include "QxAuthorTool.h"

#include "AplAuthor.h"
#include "AuthorFolderLock.h"
#include "AuthorLog.h"
#include "DiscText.h"
#include "DvdLeftovers.h"
#include "ImageTool.h"
#include "OutputGuard.h"
#include "StreamDuration.h"
#include "TerminalText.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <iostream>

#include <sys/stat.h>
#include <unistd.h>

namespace {

bool parseSeconds(const std::string& text, int& value) {
    if (text.empty() || text[0] == '-' || text[0] == '+')
        return false;
    errno = 0;
    char* end = nullptr;
    long parsed = std::strtol(text.c_str(), &end, 10);
    if (errno != 0 || *end != '\0' || parsed > INT_MAX / 90000)
        return false;
    value = static_cast<int>(parsed);
    return true;
}

bool isFile(const std::string& path) {
    struct stat info;
    return stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode);
}

// The file holding the end of a stream that may continue in part files.
std::string tailFile(const std::string& stream, bool partFiles) {
    if (partFiles) {
        if (isFile(stream + ".part2") && isFile(stream + ".part1"))
            return stream + ".part2";
        if (isFile(stream + ".part1"))
            return stream + ".part1";
    }
    return {};
}

// A stream's files as the engine reads them; a part file after a missing one would author a
// fragment, so that is refused.
bool streamFiles(const std::string& stream, bool partFiles, std::vector<std::string>& files, std::string& error) {
    files = {stream};
    if (!partFiles)
        return true;
    const bool part1 = isFile(stream + ".part1");
    const bool part2 = isFile(stream + ".part2");
    if (part2 && !part1) {
        error = stream + ".part2 exists but " + stream + ".part1 does not; the stream would lack its middle";
        return false;
    }
    if (part1)
        files.push_back(stream + ".part1");
    if (part2)
        files.push_back(stream + ".part2");
    return true;
}

// One "qxauthor: ..." line, names in it escaped for the terminal.
void say(std::ostream& err, const std::string& text) {
    err << "qxauthor: " << qx::discimage::PrintableText(text) << "\n";
}

} // namespace

std::string QxAuthorUsage() {
    return "usage: qxauthor -o OUTDIR [--chapter-seconds N] [--parts] [--replace] [--iso FILE [--label TEXT]]\n"
           "                STREAM...\n"
           "  Authors OUTDIR/VIDEO_TS (and an empty OUTDIR/AUDIO_TS) from MPEG-2 program streams:\n"
           "  one title per stream in the given order, a chapter every N seconds (default 300, 0 = none),\n"
           "  each title followed by the next. --parts continues a stream in STREAM.part1 and STREAM.part2;\n"
           "  --replace deletes DVD files left in OUTDIR/VIDEO_TS instead of refusing to start.\n"
           "  --iso FILE also writes the folder's disc image (ISO 9660 + UDF) to FILE, labelled TEXT (at most\n"
           "  32 characters; default: the name of OUTDIR); FILE is replaced only by a complete image.\n"
           "  Outputs that would replace a stream (FILE, or a stream inside OUTDIR/VIDEO_TS) are refused.\n";
}

bool ParseQxAuthorArgs(const std::vector<std::string>& argv, QxAuthorArgs& args, std::string& error) {
    args = QxAuthorArgs();
    bool optionsEnded = false;
    for (size_t i = 1; i < argv.size(); ++i) {
        const std::string& arg = argv[i];
        auto value = [&](std::string& out) {
            if (i + 1 >= argv.size()) {
                error = arg + " needs a value";
                return false;
            }
            out = argv[++i];
            return true;
        };
        if (optionsEnded || arg.empty() || arg[0] != '-' || arg == "-") {
            args.streams.push_back(arg);
        } else if (arg == "--") {
            optionsEnded = true;
        } else if (arg == "-o" || arg == "--output") {
            if (!value(args.outputFolder))
                return false;
        } else if (arg == "--chapter-seconds") {
            std::string text;
            if (!value(text))
                return false;
            if (!parseSeconds(text, args.chapterSeconds)) {
                error = "--chapter-seconds needs a whole number of seconds, not '" + text + "'";
                return false;
            }
        } else if (arg == "--parts") {
            args.partFiles = true;
        } else if (arg == "--iso") {
            if (!value(args.isoFile))
                return false;
            if (args.isoFile.empty()) {
                error = "--iso needs a file name";
                return false;
            }
        } else if (arg == "--label") {
            if (!value(args.label))
                return false;
            args.labelGiven = true;
        } else if (arg == "--replace") {
            args.replace = true;
        } else if (arg == "-h" || arg == "--help") {
            args.help = true;
            return true;
        } else {
            error = "unknown option " + arg;
            return false;
        }
    }
    if (args.outputFolder.empty()) {
        error = "no output folder (-o OUTDIR)";
        return false;
    }
    if (args.streams.empty()) {
        error = "no streams given";
        return false;
    }
    std::u32string characters;
    if (args.labelGiven && (!qx::discimage::DecodeUtf8(args.label, &characters) ||
                            characters.size() > qx::discimage::kMaxLabelCharacters)) {
        error = "the label must be UTF-8 text of at most 32 characters";
        return false;
    }
    return true;
}

int RunQxAuthor(const QxAuthorArgs& args, std::ostream& err) {
    // An image target that can never be written is refused before the long part.
    struct stat target;
    if (!args.isoFile.empty() && lstat(args.isoFile.c_str(), &target) == 0 && !S_ISREG(target.st_mode)) {
        say(err, args.isoFile + " exists and is not a regular file; it is left alone");
        return QXAUTHOR_FAILED;
    }
    // Durations first: a stream that cannot be measured stops the run before anything is written.
    std::vector<int> durations;
    std::vector<std::string> inputs;
    for (const std::string& stream : args.streams) {
        std::vector<std::string> files;
        std::string partError;
        if (!streamFiles(stream, args.partFiles, files, partError)) {
            say(err, partError);
            return QXAUTHOR_FAILED;
        }
        inputs.insert(inputs.end(), files.begin(), files.end());
    }
    // Neither the folder being authored nor the image may take the place of a stream.
    const std::string videoFolder = args.outputFolder + "/VIDEO_TS/";
    using qx::discimage::OutputKind;
    std::string refusal = qx::discimage::OutputRefusal(videoFolder, OutputKind::Folder, inputs);
    if (refusal.empty() && !args.isoFile.empty())
        refusal = qx::discimage::OutputRefusal(args.isoFile, OutputKind::File, inputs, {videoFolder});
    if (!refusal.empty()) {
        say(err, refusal);
        return QXAUTHOR_FAILED;
    }
    for (const std::string& stream : args.streams) {
        StreamDuration duration = MeasureStreamDuration(stream, tailFile(stream, args.partFiles));
        if (!duration.ok) {
            say(err, duration.error);
            return QXAUTHOR_FAILED;
        }
        durations.push_back(static_cast<int>(duration.seconds));
    }

    std::string error;
    if (!AuthorCreateFolderPath(args.outputFolder, error)) {
        say(err, error);
        return QXAUTHOR_FAILED;
    }
    // Held from the leftover scan to the end, so that no other run writes into the folder meanwhile.
    AuthorFolderLock lock;
    if (!lock.Acquire(args.outputFolder, error)) {
        say(err, error);
        return QXAUTHOR_FAILED;
    }
    if (FindOrDeleteDvdFiles(videoFolder, true) != 0) {
        if (!args.replace) {
            say(err, videoFolder + " already holds DVD files; remove them or pass --replace");
            return QXAUTHOR_FAILED;
        }
        if (FindOrDeleteDvdFiles(videoFolder, false, {}, &error) != 0) {
            say(err, error);
            return QXAUTHOR_FAILED;
        }
    }

    AplAuthor author;
    author.SetFolderLockHeld(true);
    bool ok = author.SetOutputFolder(args.outputFolder) && author.BeginTitleSet();
    author.SetPartFiles(args.partFiles);
    for (size_t i = 0; ok && i < args.streams.size(); ++i) {
        bool last = i + 1 == args.streams.size();
        ok = author.AddTitle(args.streams[i], args.chapterSeconds, durations[i],
                             last ? AUTHOR_POST_NONE : AUTHOR_POST_NEXT_TITLE, last ? 0 : static_cast<int>(i) + 2);
    }
    if (!ok) {
        say(err, author.LastError());
        return QXAUTHOR_FAILED;
    }
    author.EndTitleSet();
    // SIGINT and SIGTERM stop the engine, which removes the files it wrote: no half folder is left
    // to block the next run.
    qx::discimage::InterruptCancel interrupt;
    author.SetStopFlag(&interrupt.Flag());
    const bool authored = author.CreateDVD();
    if (interrupt.Flag().load()) {
        say(err, authored ? "interrupted; the DVD folder " + videoFolder + " is complete, no image was written"
                          : "interrupted; the files this run wrote were removed");
        return 128 + interrupt.Signal();
    }
    if (!authored) {
        say(err, author.LastError());
        return QXAUTHOR_FAILED;
    }
    if (!args.isoFile.empty()) {
        std::string label = args.labelGiven ? args.label : qx::discimage::DefaultLabel(videoFolder);
        return qx::discimage::WriteFolderImageFile("qxauthor", videoFolder, args.isoFile, label, err,
                                                   &err == &std::cerr && isatty(2));
    }
    return QXAUTHOR_OK;
}

int QxAuthorMain(int argc, char** argv) {
    std::vector<std::string> args(argv, argv + argc);
    QxAuthorArgs parsed;
    std::string error;
    if (!ParseQxAuthorArgs(args, parsed, error)) {
        std::cerr << "qxauthor: " << qx::discimage::PrintableText(error) << "\n" << QxAuthorUsage();
        return QXAUTHOR_USAGE;
    }
    if (parsed.help) {
        std::cout << QxAuthorUsage();
        return QXAUTHOR_OK;
    }
    // The engine's lines name the streams too: they reach the terminal escaped as well, except the
    // line ends ("\n", or "\r" that returns to the start of a progress line).
    AuthorLogSetHandler([](int level, const char* text) {
        std::string body = text;
        std::size_t end = body.find_last_not_of("\r\n") + 1;
        const std::string ends = body.substr(end);
        return AuthorLogWrite(level, (qx::discimage::PrintableText(body.substr(0, end), true) + ends).c_str());
    });
    return RunQxAuthor(parsed, std::cerr);
}
