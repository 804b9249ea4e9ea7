#include "CliJob.h"

#include <cstdlib>

#include <QProcess>
#include <QString>
#include <QStringList>

namespace {

// A non-negative decimal number, or -1.
int WriterNumber(const std::string& text) {
    if (text.empty() || text.size() > 6 || text.find_first_not_of("0123456789") != std::string::npos) {
        return -1;
    }
    return std::stoi(text);
}

} // namespace

bool ParseCliOptions(const std::vector<std::string>& args, CliOptions* options, std::string* error) {
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        auto value = [&](std::string* out) {
            if (i + 1 >= args.size()) {
                *error = arg + " needs a value";
                return false;
            }
            *out = args[++i];
            return true;
        };
        std::string v;
        if (arg == "--tv") {
            if (!value(&v)) {
                return false;
            }
            if (v != "pal" && v != "ntsc") {
                *error = "--tv takes pal or ntsc, not '" + v + "'";
                return false;
            }
            options->tv = v == "pal" ? TvStandard::Pal : TvStandard::Ntsc;
        } else if (arg == "--aspect") {
            if (!value(&v)) {
                return false;
            }
            if (v != "4:3" && v != "16:9") {
                *error = "--aspect takes 4:3 or 16:9, not '" + v + "'";
                return false;
            }
            options->aspect = v == "16:9" ? DisplayAspect::Wide16x9 : DisplayAspect::Standard4x3;
        } else if (arg == "--disc") {
            if (!value(&v)) {
                return false;
            }
            if (v != "d5" && v != "d9") {
                *error = "--disc takes d5 or d9, not '" + v + "'";
                return false;
            }
            options->dualLayer = v == "d9";
        } else if (arg == "--work") {
            if (!value(&options->workFolder)) {
                return false;
            }
            if (options->workFolder.empty()) {
                *error = "--work needs a folder";
                return false;
            }
        } else if (arg == "--list-writers") {
            options->listWriters = true;
        } else if (arg == "--writer-info" || arg == "--writer" || arg == "--erase" || arg == "--engine") {
            if (!value(&v)) {
                return false;
            }
            const int n = WriterNumber(v);
            if (n < 0 || (arg == "--engine" && n > 1)) {
                *error = arg + (arg == "--engine" ? " takes 0 or 1" : " takes a writer number (0, 1, ...)") +
                         ", not '" + v + "'";
                return false;
            }
            (arg == "--writer-info" ? options->writerInfo
             : arg == "--writer"    ? options->writer
             : arg == "--erase"     ? options->erase
                                    : options->engine) = n;
        } else if (arg == "--burn-folder") {
            if (!value(&options->burnFolder)) {
                return false;
            }
            if (options->burnFolder.empty()) {
                *error = "--burn-folder needs a folder";
                return false;
            }
        } else if (arg == "--iso") {
            if (!value(&options->isoFile)) {
                return false;
            }
            if (options->isoFile.empty()) {
                *error = "--iso needs a file name";
                return false;
            }
        } else if (arg == "--label") {
            if (!value(&options->label)) {
                return false;
            }
            // The label box holds 32 characters: a longer label is refused, never cut.
            if (QString::fromStdString(options->label).size() > 32) {
                *error = "--label takes at most 32 characters";
                return false;
            }
        } else if (arg == "--keep-aspect") {
            options->keepAspect = true;
        } else if (arg == "--no-keep-aspect") {
            options->keepAspect = false;
        } else if (arg == "--menu") {
            options->menu = true;
        } else if (arg == "--yes") {
            options->assumeYes = true;
        } else if (arg == "--verbose") {
            options->verbose = true;
        } else if (arg == "--demo") {
            options->demo = true;
        } else if (arg == "--help" || arg == "-h") {
            options->help = true;
        } else if (arg.size() > 1 && arg[0] == '-') {
            *error = "unknown option " + arg;
            return false;
        } else {
            options->movies.push_back(arg);
        }
    }
    // The label names the disc and heads its menu.
    if (!options->label.empty() && options->writer < 0 && options->isoFile.empty() && !options->menu) {
        *error = "--label needs --writer, --iso or --menu";
        return false;
    }
    const int operations = (options->listWriters ? 1 : 0) + (options->writerInfo >= 0 ? 1 : 0) +
                           (options->burnFolder.empty() ? 0 : 1) + (options->erase >= 0 ? 1 : 0);
    if (operations > 1) {
        *error = "give only one of --list-writers, --writer-info, --burn-folder, --erase";
        return false;
    }
    if (operations == 1 && (options->demo || !options->movies.empty())) {
        *error = "a writer operation takes no movies";
        return false;
    }
    if (!options->burnFolder.empty() && options->writer < 0) {
        *error = "--burn-folder needs --writer N";
        return false;
    }
    if (operations == 1 && !options->isoFile.empty()) {
        *error = "--iso goes with a job";
        return false;
    }
    if (operations == 1 && options->menu) {
        *error = "--menu goes with a job";
        return false;
    }
    if (operations == 1 && options->burnFolder.empty() && options->writer >= 0) {
        *error = "--writer goes with a job or --burn-folder";
        return false;
    }
    if (operations == 1) {
        return true;
    }
    if (!options->help && !options->demo && options->movies.empty()) {
        *error = "no movie given";
        return false;
    }
    return true;
}

std::string CliUsage() {
    return "usage: qxmoviedisc-cli [--tv pal|ntsc] [--aspect 4:3|16:9] [--keep-aspect|--no-keep-aspect]\n"
           "                       [--disc d5|d9] [--work DIR] [--yes] [[--engine 0|1] --writer N] [--label TEXT] "
           "[--iso FILE]\n"
           "                       [--menu] [--verbose]\n"
           "                       MOVIE...\n"
           "       qxmoviedisc-cli --demo [--work DIR] [options]\n"
           "       qxmoviedisc-cli [--engine 0|1] --list-writers | --writer-info N | --erase N\n"
           "       qxmoviedisc-cli [--engine 0|1] --burn-folder DIR --writer N [--label TEXT] [--yes]\n"
           "Converts RealMedia movies into a DVD-Video folder (<work>/DVD Movie/VIDEO_TS).\n"
           "--iso FILE then writes the folder's disc image (ISO 9660 + UDF) labelled TEXT to FILE; FILE\n"
           "is replaced only by a complete image.\n"
           "Questions are answered No/Cancel unless --yes is given (--demo answers Yes: it replaces\n"
           "its own earlier DVD folder). Exit status 0 only when the job ends with\n"
           "\"Mission accomplished!\" with every movie converted (and, with --iso, a complete image);\n"
           "3 when movies failed and were replaced by a black substitute; 2 for a bad command line;\n"
           "128+N when signal N stopped the job or the image.\n"
           "--writer N burns the DVD folder at the end of the job with writer N (0 is the first); a\n"
           "job whose burn is refused, fails or is cancelled exits 1 and keeps its DVD folder.\n"
           "A virtual writer (writers.ini in the configuration folder) writes an image file.\n"
           "--label TEXT names the disc (burned or imaged), at most 32 characters.\n"
           "--menu gives the disc a DVD menu: a button with a picture and the name of each movie, six\n"
           "to a page, and \"Play all\"; the label, when given, heads it.\n"
           "Writer operations print one line per writer (INDEX: TEXT), a writer's description\n"
           "(field=value), or the burn's or erase's outcome; exit status 0 only when the operation\n"
           "succeeded. Engine 0 is \"Build-in\", 1 \"Nero\" (default: as the window selects).\n"
           "Results go to standard output; progress, log lines and questions to standard error;\n"
           "--verbose adds the engines' diagnostic trace there.\n";
}

bool MakeDemoMovie(const std::string& path, std::string* error) {
    QProcess ffmpeg;
    ffmpeg.setProcessChannelMode(QProcess::MergedChannels);
    ffmpeg.start("ffmpeg", {"-y",
                            "-v",
                            "error",
                            "-f",
                            "lavfi",
                            "-i",
                            "testsrc2=size=320x240:rate=25",
                            "-f",
                            "lavfi",
                            "-i",
                            "sine=frequency=440:sample_rate=48000",
                            "-t",
                            "5",
                            "-c:v",
                            "rv20",
                            "-c:a",
                            "ac3",
                            "-b:a",
                            "128k",
                            QString::fromStdString(path)});
    if (!ffmpeg.waitForStarted(10000)) {
        *error = "the ffmpeg program could not be started (is it installed?)";
        return false;
    }
    if (!ffmpeg.waitForFinished(120000)) {
        ffmpeg.kill();
        ffmpeg.waitForFinished(5000);
        *error = "the ffmpeg program did not finish within two minutes";
        return false;
    }
    if (ffmpeg.exitStatus() != QProcess::NormalExit || ffmpeg.exitCode() != 0) {
        *error = "the ffmpeg program failed: " + ffmpeg.readAll().trimmed().toStdString();
        return false;
    }
    return true;
}
