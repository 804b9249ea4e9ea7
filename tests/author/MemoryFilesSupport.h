// Test doubles around the engine: output files kept in memory (with injectable failures), a recorder
// of engine messages, and hand-made scanned sources.
#pragma once

#include "AuthorOutput.h"
#include "ProgramChain.h"

#include <map>
#include <string>
#include <vector>

class MemoryFiles : public AuthorFileOpener {
public:
    std::unique_ptr<AuthorWriter> Open(const std::string& path, AuthorOpenMode mode, std::string& error) override;

    std::map<std::string, std::vector<unsigned char>> files;
    std::vector<std::string> opened; // every successful open, in order
    std::string failOpenContaining;  // opens of paths containing this fail with "Permission denied"
    long long failWritesAfter = -1;  // total bytes accepted before writes come up short (-1 = never)
    long long written = 0;
};

// Collects every message passed to AuthorLog while it lives.
class LogRecorder {
public:
    LogRecorder();
    ~LogRecorder();
    std::string all() const;
    bool contains(const std::string& text) const { return all().find(text) != std::string::npos; }
    std::vector<std::string> lines;
};

// A VOBU of a hand-made source: group sectors, times in ticks, video flag and cell id.
struct TestVobu {
    int first;
    int last;
    long long start;
    long long end;
    bool video = true;
    int cell = 1;
};

// A source with the given VOBUs (VOB id 1, all in VOB file 1 at their group sectors), cell keys and
// cell ranges filled in the way cell building leaves them.
std::unique_ptr<AuthorSource> MakeSource(const std::vector<TestVobu>& vobus, int vobId = 1);

// A title group holding one PGC that plays `source` whole; PAL 25 fps attributes.
std::unique_ptr<PgcGroup> MakeGroup(std::unique_ptr<AuthorSource> source);
