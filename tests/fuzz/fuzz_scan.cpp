// Program streams: an 8-byte prefix sets up the group, the rest is the source file. Prefix: byte 0
// bits 0-1 group kind (3 = titles), bit 2 a second PGC, bit 3 the full VOB size, bits 4-7 the
// small VOB size - 1; byte 1 bits 0-1 cells - 1 (mod 3), then 2 bits of chapter mark per cell;
// bytes 2..5 cell boundaries in twentieths of a second (0 as the last end: to the end); byte 6 the
// first cell's pause. The group is scanned into memory, its cells are built, its tables
// and every navigation pack are made. AuthorFatalError is an answer; a crash, a sanitizer report or
// a broken invariant of the scanned model is a fault.
#include "AuthorError.h"
#include "AuthorScan.h"
#include "AuthorTitleSet.h"
#include "FuzzSupport.h"
#include "IfoTables.h"
#include "NavPackFix.h"
#include "ProgramChain.h"

#include <memory>

namespace {

constexpr size_t kPrefix = 8;
constexpr long long kTickUnit = 4500; // cell boundaries in twentieths of a second

std::unique_ptr<PgcGroup> MakeGroup(const uint8_t* p, const std::string& source, int kind) {
    auto group = std::make_unique<PgcGroup>(kind);
    auto pgc = std::make_unique<ProgramChain>();
    pgc->entries = kind == GROUP_TITLE_MENUS ? 1u << ENTRY_ROOT : kind == GROUP_VMG_MENUS ? 1u << ENTRY_TITLE : 0;
    AuthorSourceRef ref;
    ref.path = source;
    const int cells = 1 + (p[1] & 3) % 3;
    for (int i = 0; i < cells; ++i) {
        AuthorCellSpec spec;
        spec.start = p[2 + i] * kTickUnit;
        spec.end = i + 1 < cells ? p[3 + i] * kTickUnit : (p[2 + cells] == 0 ? -1 : p[2 + cells] * kTickUnit);
        spec.chapterMark = (p[1] >> (2 + 2 * i) & 3) % 3;
        spec.pause = i == 0 ? p[6] : 0;
        ref.cells.push_back(spec);
    }
    pgc->sources.push_back(ref);
    group->pgcs.push_back(std::move(pgc));
    if (p[0] & 4) { // a second PGC playing the whole source again
        auto again = std::make_unique<ProgramChain>();
        AuthorSourceRef whole;
        whole.path = source;
        whole.cells.push_back(AuthorCellSpec());
        again->sources.push_back(whole);
        group->pgcs.push_back(std::move(again));
    }
    return group;
}

// What the scanner promises about the sectors it wrote and the VOBUs it recorded.
void CheckScan(const PgcGroup& group, const qxfuzz::MemoryOutput& out, int limit) {
    long long written = 0;
    for (const auto& [name, size] : out.sizes) {
        QX_FUZZ_CHECK(size % 2048 == 0);
        QX_FUZZ_CHECK(size <= 2048LL * limit);
        written += size;
    }
    QX_FUZZ_CHECK(written == 2048LL * AuthorGroupSectors(group));
    int previousLast = -1;
    for (const auto& source : group.sources) {
        QX_FUZZ_CHECK(!source->vobus.empty());
        for (const VobuInfo& v : source->vobus) {
            QX_FUZZ_CHECK(v.firstSector == previousLast + 1);
            QX_FUZZ_CHECK(v.lastSector >= v.firstSector);
            QX_FUZZ_CHECK(v.vobSector >= 0 && v.vobSector < limit);
            QX_FUZZ_CHECK(v.numRefEnds >= 0 && v.numRefEnds <= 3);
            previousLast = v.lastSector;
        }
    }
}

// Cells cover each source's VOBUs in order; every played cell exists.
void CheckCells(const PgcGroup& group) {
    for (const auto& source : group.sources) {
        QX_FUZZ_CHECK(!source->cells.empty());
        int next = 0;
        for (const AuthorCellRange& c : source->cells) {
            QX_FUZZ_CHECK(c.firstVobu == next && c.lastVobu >= c.firstVobu);
            next = c.lastVobu + 1;
        }
        QX_FUZZ_CHECK(next == static_cast<int>(source->vobus.size()));
    }
    for (const auto& pgc : group.pgcs) {
        std::vector<AuthorPlayCell> cells = AuthorPlayCells(*pgc);
        QX_FUZZ_CHECK(static_cast<int>(cells.size()) == pgc->numCells);
        for (size_t i = 0; i < cells.size(); ++i) {
            QX_FUZZ_CHECK(cells[i].cellId >= 1 && cells[i].cellId <= static_cast<int>(cells[i].source->cells.size()));
            if (i > 0)
                AuthorAudioGap(group, cells[i - 1].source->vobId * 256 + cells[i - 1].cellId,
                               cells[i].source->vobId * 256 + cells[i].cellId);
        }
        AuthorPgcDuration(*pgc);
    }
}

} // namespace

int QxFuzzScan(const uint8_t* data, size_t size) {
    if (size < kPrefix)
        return 0;
    static const std::string source = [] {
        qxfuzz::QuietAuthorLog();
        return qxfuzz::ScratchFolder() + "/source.bin";
    }();
    qxfuzz::WriteScratchFile(source, data + kPrefix, size - kPrefix);
    const int kind = (data[0] & 3) == 3 ? GROUP_TITLES : data[0] & 3;
    // Small VOB files show the splitting; menus (which must fit one VOB file) mostly get the real size.
    const int limit = (data[0] & 8) ? AUTHOR_VOB_SECTORS : 1 + (data[0] >> 4);
    AuthorMenuList menus;
    std::unique_ptr<PgcGroup> owned = MakeGroup(data, source, kind);
    PgcGroup& group = *owned;
    qxfuzz::MemoryOutput out(false);
    try {
        AuthorCheckGroup(group);
        std::vector<ProgramChain*> all;
        AuthorCollectSources(group, all);
        AuthorResolveColors(all);
        AuthorScanOptions options;
        options.files = &out;
        options.vobSectorLimit = limit;
        ScanGroup(kind == GROUP_VMG_MENUS ? "VIDEO_TS.VOB" : "VTS_01", group, kind, options);
        CheckScan(group, out, limit);
        AuthorBuildCells(group);
        CheckCells(group);
        AuthorCompleteGroup(group, kind);
        IfoWorkBuffer work;
        if (kind == GROUP_TITLES) {
            IfoTitleSetFile(menus, nullptr, group, work);
        } else {
            menus.AddLanguage("en", std::move(owned));
            IfoMenuTable(work, menus);
            IfoCellAddressTable(group);
            IfoVobuAddressMap(group);
        }
        uint8_t pack[2048];
        for (const auto& s : group.sources)
            for (size_t i = 0; i < s->vobus.size(); ++i)
                AuthorBuildNavPack(pack, group, *s, static_cast<int>(i));
    } catch (const AuthorFatalError&) {
        // a refused stream: the answer the engine gives to bad input
    }
    return 0;
}
