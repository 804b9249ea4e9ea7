#include "CliJob.h"

#include <cstdlib>

#include <QProcess>
#include <QString>
#include <QStringList>

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
            options->pal = v == "pal";
        } else if (arg == "--aspect") {
            if (!value(&v)) {
                return false;
            }
            if (v != "4:3" && v != "16:9") {
                *error = "--aspect takes 4:3 or 16:9, not '" + v + "'";
                return false;
            }
            options->wide = v == "16:9";
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
        } else if (arg == "--writer") {
            if (!value(&v)) {
                return false;
            }
            char* end = nullptr;
            const long n = std::strtol(v.c_str(), &end, 10);
            if (v.empty() || *end != '\0' || n < 0 || n > 999) {
                *error = "--writer takes a writer number (0, 1, ...), not '" + v + "'";
                return false;
            }
            options->writer = static_cast<int>(n);
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
        } else if (arg == "--yes") {
            options->assumeYes = true;
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
    if (!options->label.empty() && options->writer < 0 && options->isoFile.empty()) {
        *error = "--label needs --writer or --iso";
        return false;
    }
    if (!options->help && !options->demo && options->movies.empty()) {
        *error = "no movie given";
        return false;
    }
    return true;
}

std::string CliUsage() {
    return "usage: qxmoviedisc-cli [--tv pal|ntsc] [--aspect 4:3|16:9] [--keep-aspect|--no-keep-aspect]\n"
           "                       [--disc d5|d9] [--work DIR] [--yes] [--writer N] [--label TEXT] [--iso FILE]\n"
           "                       MOVIE...\n"
           "       qxmoviedisc-cli --demo [--work DIR] [options]\n"
           "Converts RealMedia movies into a DVD-Video folder (<work>/DVD Movie/VIDEO_TS).\n"
           "--iso FILE then writes the folder's disc image (ISO 9660 + UDF) labelled TEXT to FILE; FILE\n"
           "is replaced only by a complete image.\n"
           "Questions are answered No/Cancel unless --yes is given (--demo answers Yes: it replaces\n"
           "its own earlier DVD folder). Exit status 0 only when the job ends with\n"
           "\"Mission accomplished!\" (and, with --iso, a complete image); 2 for a bad command line;\n"
           "128+N when signal N stopped the image.\n"
           "--writer N burns the DVD folder at the end of the job with writer N (0 is the first); a\n"
           "job whose burn is refused, fails or is cancelled exits 1 and keeps its DVD folder.\n"
           "A virtual writer (writers.ini in the configuration folder) writes an image file.\n"
           "--label TEXT names the disc (burned or imaged), at most 32 characters.\n";
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
