// Scans one program stream into title VOBs in a folder the way a title set is scanned, and prints the
// wall time, throughput and the number of VOBUs. Used by run.sh beside a plain copy of the same file.
#include "AuthorError.h"
#include "AuthorLog.h"
#include "AuthorScan.h"

#include <chrono>
#include <cstdio>
#include <cstring>
#include <sys/stat.h>

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: %s <source.mpg> <output folder>\n", argv[0]);
        return 2;
    }
    // Only the messages of the run itself are wanted, not the progress lines.
    AuthorLogSetHandler([](int, const char* text) {
        if (std::strncmp(text, "STAT: VOBU", 10) != 0)
            std::fputs(text, stderr);
        return 0;
    });
    PgcGroup group(GROUP_TITLES);
    auto pgc = std::make_unique<ProgramChain>();
    AuthorSourceRef ref;
    ref.path = argv[1];
    ref.cells.push_back(AuthorCellSpec());
    pgc->sources.push_back(ref);
    group.pgcs.push_back(std::move(pgc));
    std::vector<ProgramChain*> all;
    AuthorCollectSources(group, all);

    int lastPercent = -1;
    AuthorScanOptions options;
    options.progress = [&](int, int percent) { lastPercent = percent; };
    auto start = std::chrono::steady_clock::now();
    try {
        ScanGroup(std::string(argv[2]) + "/VTS_01", group, GROUP_TITLES, options);
    } catch (const AuthorFatalError& e) {
        std::fprintf(stderr, "scan failed: %s\n", e.what());
        return 1;
    }
    double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    struct stat st {};
    stat(argv[1], &st);
    double mb = static_cast<double>(st.st_size) / (1024.0 * 1024.0);
    std::printf("scan: %.0f MB in %.3f s (%.0f MB/s), %zu VOBUs, %d sectors, last progress %d%%\n", mb, seconds,
                mb / seconds, group.sources[0]->vobus.size(), AuthorGroupSectors(group), lastPercent);
    return 0;
}
