#include "MkDvdIso.h"

#include "DiscText.h"
#include "ImageTool.h"
#include "TerminalText.h"

#include <cstdio>
#include <iostream>

#include <unistd.h>

using namespace qx::discimage;

std::string MkDvdIsoUsage() {
    return "usage: qxmkdvdiso -o FILE [--label TEXT] VIDEO_TS_FOLDER\n"
           "  Writes the DVD-Video disc image (ISO 9660 + UDF 1.02) of the folder that holds VIDEO_TS.IFO\n"
           "  (or of its VIDEO_TS subfolder) to FILE. The label (at most 32 characters) defaults to the\n"
           "  name of the folder holding VIDEO_TS. FILE is replaced only by a complete image; a failed or\n"
           "  interrupted run leaves it as it was. FILE may not be one of the folder's files nor lie in it.\n"
           "  SOURCE_DATE_EPOCH, when set, fixes the recorded time.\n"
           "  Exit status: 0 complete image, 1 failure, 2 bad command line, 128+N stopped by signal N.\n";
}

bool ParseMkDvdIsoArgs(const std::vector<std::string>& argv, MkDvdIsoArgs* args, std::string* error) {
    *args = MkDvdIsoArgs();
    bool optionsEnded = false;
    std::vector<std::string> folders;
    for (std::size_t i = 1; i < argv.size(); ++i) {
        const std::string& arg = argv[i];
        auto value = [&](std::string* out) {
            if (i + 1 >= argv.size()) {
                *error = arg + " needs a value";
                return false;
            }
            *out = argv[++i];
            return true;
        };
        if (optionsEnded || arg.empty() || arg[0] != '-') {
            folders.push_back(arg);
        } else if (arg == "--") {
            optionsEnded = true;
        } else if (arg == "-o" || arg == "--output") {
            if (!value(&args->output))
                return false;
        } else if (arg == "--label") {
            if (!value(&args->label))
                return false;
            args->labelGiven = true;
        } else if (arg == "-h" || arg == "--help") {
            args->help = true;
            return true;
        } else {
            *error = "unknown option " + arg;
            return false;
        }
    }
    if (args->output.empty()) {
        *error = "no image file (-o FILE)";
        return false;
    }
    if (folders.size() != 1) {
        *error = folders.empty() ? "no VIDEO_TS folder given" : "more than one folder given";
        return false;
    }
    args->folder = folders[0];
    std::u32string characters;
    if (args->labelGiven && (!DecodeUtf8(args->label, &characters) || characters.size() > kMaxLabelCharacters)) {
        *error = "the label must be UTF-8 text of at most 32 characters";
        return false;
    }
    return true;
}

int MkDvdIsoMain(int argc, char** argv) {
    MkDvdIsoArgs args;
    std::string error;
    if (!ParseMkDvdIsoArgs(std::vector<std::string>(argv, argv + argc), &args, &error)) {
        std::fprintf(stderr, "qxmkdvdiso: %s\n%s", PrintableText(error).c_str(), MkDvdIsoUsage().c_str());
        return MKDVDISO_USAGE;
    }
    if (args.help) {
        std::fputs(MkDvdIsoUsage().c_str(), stdout);
        return kImageOk;
    }
    std::string folder = FindVideoTsFolder(args.folder);
    std::string label = args.labelGiven ? args.label : DefaultLabel(folder);
    return WriteFolderImageFile("qxmkdvdiso", folder, args.output, label, std::cerr, isatty(2));
}
