// Cells, programs and chapters after a group's scan, and the audio-gap rule between two cells.
#include "AuthorError.h"
#include "AuthorLog.h"
#include "ProgramChain.h"

#include <cstdlib>

namespace {

// Cell number of a VOBU index: 1 before the source, cell count + 1 past its end.
int cellOfVobu(const AuthorSource& source, int index) {
    if (index < 0)
        return 1;
    if (index >= static_cast<int>(source.vobus.size()))
        return static_cast<int>(source.cells.size()) + 1;
    return source.vobus[index].cellKey & 0xFF;
}

void markCellStart(AuthorSource& source, int index) {
    if (index >= 0 && index < static_cast<int>(source.vobus.size()))
        source.vobus[index].cellStart = true;
}

// Numbers the cells of a source at its cell starts and gives every VOBU its cell key and range.
void numberCells(AuthorSource& source) {
    source.cells.clear();
    if (source.vobus.empty())
        return;
    source.vobus[0].cellStart = true;
    int cellId = 0;
    int first = 0;
    for (size_t i = 0; i < source.vobus.size(); ++i) {
        VobuInfo& v = source.vobus[i];
        if (v.cellStart) {
            ++cellId;
            first = static_cast<int>(i);
            source.cells.push_back(AuthorCellRange{first, first});
        }
        v.cellKey = source.vobId * 256 + cellId;
        v.cellFirstVobu = first;
    }
    if (cellId > AUTHOR_MAX_CELLS)
        AuthorFatal("ERR:  VOB %s has too many cells (%d, 256 allowed)\n", source.path.c_str(), cellId);
    int last = static_cast<int>(source.vobus.size()) - 1;
    for (int i = last; i >= 0; --i) {
        VobuInfo& v = source.vobus[i];
        v.cellLastVobu = last;
        if (v.cellStart) {
            source.cells[(v.cellKey & 0xFF) - 1].lastVobu = last;
            last = i - 1;
        }
    }
}

const AuthorSource* sourceOfKey(const PgcGroup& group, int key) {
    int vobId = key >> 8;
    if (vobId < 1 || vobId > static_cast<int>(group.sources.size()))
        return nullptr;
    return group.sources[vobId - 1].get();
}

bool channelGap(const PgcGroup& group, int channel, int a, int b) {
    if (a <= 0 || b <= 0 || b == a + 1)
        return false;
    const AuthorSource* sa = sourceOfKey(group, a);
    const AuthorSource* sb = sourceOfKey(group, b);
    const int cellA = a & 0xFF;
    const int cellB = b & 0xFF;
    if (sa && sb && cellB == 1 && (b >> 8) == (a >> 8) + 1 && cellA == static_cast<int>(sa->cells.size()) &&
        cellA >= 1 && !sb->cells.empty()) {
        if (sb->channels[channel].entries.empty())
            return false;
        if (sa->channels[channel].entries.empty()) {
            AuthorLog(AUTHOR_LOG_WARN, "WARN: Transition from non-audio to audio VOB; assumjing discontinuity.\n");
            return true;
        }
        const VobuInfo& lastA = sa->vobus[sa->cells[cellA - 1].lastVobu];
        const VobuInfo& firstB = sb->vobus[sb->cells[0].firstVobu];
        return lastA.vobuEnd != firstB.vobuStart;
    }
    AuthorLog(AUTHOR_LOG_WARN, "WARN: Do not know how to compute the audio gap, assuming discontinuity.\n");
    return true;
}

} // namespace

int AuthorFindVobu(const AuthorSource& source, long long t) {
    const auto& v = source.vobus;
    const int count = static_cast<int>(v.size());
    if (count == 0)
        return -1;
    t += v[0].vobuStart;
    if (t < v[0].vobuStart)
        return -1;
    if (t >= v[count - 1].vobuEnd)
        return count;
    int lo = 0; // v[lo].vobuStart <= t
    int hi = count - 1;
    while (lo < hi) {
        int mid = lo + (hi - lo + 1) / 2;
        if (v[mid].vobuStart <= t)
            lo = mid;
        else
            hi = mid - 1;
    }
    if (lo + 1 < count && v[lo + 1].vobuStart - t < t - v[lo].vobuStart)
        ++lo;
    return lo;
}

void AuthorBuildCells(PgcGroup& group) {
    for (auto& source : group.sources)
        for (VobuInfo& v : source->vobus)
            v.cellStart = false;

    // First and end VOBU of every cell specification, in the order of the PGCs.
    std::vector<std::pair<int, int>> ranges;
    for (size_t p = 0; p < group.pgcs.size(); ++p) {
        for (AuthorSourceRef& ref : group.pgcs[p]->sources) {
            if (!ref.source)
                continue;
            AuthorSource& source = *ref.source;
            int previousEnd = -1;
            for (size_t c = 0; c < ref.cells.size(); ++c) {
                const AuthorCellSpec& spec = ref.cells[c];
                int first = AuthorFindVobu(source, spec.start);
                markCellStart(source, first);
                if (first != previousEnd && first >= 0 && first < static_cast<int>(source.vobus.size()) &&
                    source.vobus[first].leadingFields > 0)
                    AuthorLog(AUTHOR_LOG_WARN, "WARN: GOP is not closed on cell %d of source %s of pgc %d\n",
                              static_cast<int>(c) + 1, source.path.c_str(), static_cast<int>(p) + 1);
                int end = static_cast<int>(source.vobus.size());
                if (spec.end >= 0) {
                    end = AuthorFindVobu(source, spec.end);
                    markCellStart(source, end);
                }
                ranges.emplace_back(first, end);
                previousEnd = end;
            }
        }
    }
    for (auto& source : group.sources)
        numberCells(*source);

    size_t next = 0;
    for (size_t p = 0; p < group.pgcs.size(); ++p) {
        ProgramChain& pgc = *group.pgcs[p];
        pgc.numPrograms = pgc.numChapters = pgc.numCells = 0;
        for (AuthorSourceRef& ref : pgc.sources) {
            if (!ref.source)
                continue;
            for (size_t c = 0; c < ref.cells.size(); ++c) {
                AuthorCellSpec& spec = ref.cells[c];
                const auto& range = ranges[next++];
                spec.firstCell = cellOfVobu(*ref.source, range.first);
                spec.endCell = cellOfVobu(*ref.source, range.second);
                if (spec.endCell < spec.firstCell) {
                    // An end before the start would count negative cells: the cell specification stays empty.
                    AuthorLog(AUTHOR_LOG_WARN,
                              "WARN: Cell %d of source %s of pgc %d ends before it starts; ignoring it\n",
                              static_cast<int>(c) + 1, ref.path.c_str(), static_cast<int>(p) + 1);
                    spec.endCell = spec.firstCell;
                }
                pgc.numCells += spec.endCell - spec.firstCell;
                if (spec.endCell > spec.firstCell && spec.chapterMark != 0) {
                    ++pgc.numPrograms;
                    if (spec.chapterMark == 1)
                        ++pgc.numChapters;
                }
            }
        }
        if (pgc.numPrograms > AUTHOR_MAX_PROGRAMS)
            AuthorFatal("ERR:  PGC %d has too many programs (%d, 256 allowed)\n", static_cast<int>(p) + 1,
                        pgc.numPrograms);
        // The cell count is one byte of the PGCI: more would wrap around.
        if (pgc.numCells > AUTHOR_MAX_CELLS)
            AuthorFatal("ERR:  PGC %d has too many cells (%d, 255 allowed)\n", static_cast<int>(p) + 1, pgc.numCells);
    }
}

bool AuthorAudioGap(const PgcGroup& group, int keyA, int keyB) {
    const AuthorAttributes& a = group.attributes;
    for (int i = 0; i < a.numAudio; ++i) {
        const AuthorAudioStream& s = a.audio[i];
        if (s.streamNumber == 0 || s.format == 0)
            continue;
        if (channelGap(group, AuthorAudioChannel(s.format, s.streamNumber), keyA, keyB))
            return true;
    }
    return false;
}

std::vector<AuthorPlayCell> AuthorPlayCells(const ProgramChain& pgc) {
    std::vector<AuthorPlayCell> cells;
    for (const AuthorSourceRef& ref : pgc.sources) {
        if (!ref.source)
            continue;
        for (const AuthorCellSpec& spec : ref.cells) {
            for (int id = spec.firstCell; id < spec.endCell; ++id) {
                AuthorPlayCell cell;
                cell.source = ref.source;
                cell.cellId = id;
                cell.spec = &spec;
                cell.lastOfSpec = id + 1 == spec.endCell;
                cells.push_back(cell);
            }
        }
    }
    return cells;
}

long long AuthorCellDuration(const AuthorSource& source, int cellId) {
    if (cellId < 1 || cellId > static_cast<int>(source.cells.size()))
        return 0;
    const AuthorCellRange& range = source.cells[cellId - 1];
    return source.vobus[range.lastVobu].vobuEnd - source.vobus[range.firstVobu].vobuStart;
}

long long AuthorPgcDuration(const ProgramChain& pgc) {
    long long total = 0;
    for (const AuthorPlayCell& cell : AuthorPlayCells(pgc))
        total += AuthorCellDuration(*cell.source, cell.cellId);
    return total;
}
