// subtitle_bench MOVIE SECONDS: the subtitle part of converting MOVIE (its subtitle files beside it
// read, every cue drawn and coded as DVD subpictures) for a movie of SECONDS, as the conversion
// does it before its first picture. Prints "subtitles: S s, N subpictures, B bytes".
#include "MovieSubtitles.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>

using namespace qx::enc;

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: subtitle_bench MOVIE SECONDS\n");
        return 2;
    }
    QuietFfmpegLog();
    ConvertRequest req;
    req.input = argv[1];
    req.tv = TvStandard::Pal;
    req.pictureWidth = 720;
    req.pictureHeight = 576;
    req.subtitleStreams = {0x20};
    const double seconds = std::atof(argv[2]);
    std::string error;
    const auto start = std::chrono::steady_clock::now();
    InputPtr movie = OpenMovie(req.input, &error);
    if (!movie) {
        std::fprintf(stderr, "%s\n", error.c_str());
        return 1;
    }
    std::vector<std::string> notes;
    const MovieSubpictures made = PrepareSubpictures(req, movie.get(), 320, 240, seconds, &notes);
    const double took = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    size_t bytes = 0;
    for (const SubpicturePacket& p : made.packets)
        bytes += p.data.size();
    std::printf("subtitles: %.3f s, %zu subpictures, %zu bytes\n", took, made.packets.size(), bytes);
    return made.packets.empty() ? 1 : 0;
}
