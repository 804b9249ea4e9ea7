// dvdcheck FOLDER: prints what libdvdread and libdvdnav make of an authored DVD-Video folder.
#include "DvdReaderCheck.h"

#include <cstdio>

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: dvdcheck FOLDER\n");
        return 2;
    }
    DvdReadReport read = ReadDvdFolder(argv[1]);
    std::printf("title sets: %d, titles: %zu\n", read.titleSets, read.titles.size());
    for (size_t i = 0; i < read.titles.size(); ++i) {
        const DvdTitleSummary& t = read.titles[i];
        std::printf("title %zu: set %d/%d, %d chapters, %d programs, %d cells, %.3f s, %d post-commands\n", i + 1,
                    t.titleSet, t.titleInSet, t.chapters, t.programs, t.cells, t.seconds, t.postCommands);
    }
    DvdPlayReport play = PlayDvdFolder(argv[1], 50000000);
    std::printf("play: %s, %ld blocks, %ld nav packets, titles", play.reachedStop ? "stopped" : "did not stop",
                play.blocks, play.navPackets);
    for (int title : play.titleOrder)
        std::printf(" %d", title);
    std::printf("\n");
    for (const std::string& c : read.complaints)
        std::printf("complaint: %s\n", c.c_str());
    for (const std::string& c : play.complaints)
        std::printf("complaint: %s\n", c.c_str());
    bool ok = read.complaints.empty() && play.complaints.empty() && play.reachedStop;
    return ok ? 0 : 1;
}
