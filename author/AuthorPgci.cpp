// The binary program-chain information record (PGCI).
#include "ProgramChain.h"

namespace {

void put16(std::vector<uint8_t>& b, size_t at, int v) {
    b[at] = static_cast<uint8_t>(v >> 8);
    b[at + 1] = static_cast<uint8_t>(v);
}

void put32(std::vector<uint8_t>& b, size_t at, uint32_t v) {
    b[at] = static_cast<uint8_t>(v >> 24);
    b[at + 1] = static_cast<uint8_t>(v >> 16);
    b[at + 2] = static_cast<uint8_t>(v >> 8);
    b[at + 3] = static_cast<uint8_t>(v);
}

} // namespace

void AuthorAppendPgci(std::vector<uint8_t>& out, const PgcGroup& group, const ProgramChain& pgc) {
    const AuthorAttributes& attr = group.attributes;
    const int rate = attr.video.frameRate;
    const std::vector<AuthorPlayCell> cells = AuthorPlayCells(pgc);
    const size_t commands = pgc.preCommands.size() + pgc.postCommands.size();

    std::vector<uint8_t> b(0xEC + 8 + 8 * commands, 0);
    b[0x02] = static_cast<uint8_t>(pgc.numPrograms);
    b[0x03] = static_cast<uint8_t>(pgc.numCells);
    put32(b, 0x04, AuthorPlaybackTime(AuthorPgcDuration(pgc), rate));
    for (int i = 0; i < attr.numAudio && i < AUTHOR_MAX_AUDIO; ++i) {
        int s = attr.audio[i].streamNumber;
        if (s > 0)
            b[0x0C + 2 * i] = static_cast<uint8_t>(0x80 | (s - 1));
    }
    for (int j = 0; j < attr.numSubpicture && j < AUTHOR_MAX_SUBPICTURE; ++j) {
        int s = attr.subpicture[j].streamNumber;
        if (j < static_cast<int>(group.subpictureMaps.size())) {
            // Available, then the physical stream for a 4:3 picture, a wide, a letterboxed and a
            // pan-scanned one.
            const AuthorSubpictureMap& map = group.subpictureMaps[j];
            b[0x1C + 4 * j] = static_cast<uint8_t>(0x80 | (map.normal & 0x1F));
            b[0x1D + 4 * j] = static_cast<uint8_t>(map.wide & 0x1F);
            b[0x1E + 4 * j] = static_cast<uint8_t>(map.letterbox & 0x1F);
            b[0x1F + 4 * j] = static_cast<uint8_t>(map.panScan & 0x1F);
        } else if (s > 0) {
            b[0x1C + 4 * j] = static_cast<uint8_t>(0x80 | (s - 1));
            b[0x1D + 4 * j] = b[0x1E + 4 * j] = b[0x1F + 4 * j] = static_cast<uint8_t>(s - 1);
        }
    }
    b[0xA3] = static_cast<uint8_t>(pgc.pause);
    for (int k = 0; k < 16; ++k) {
        uint32_t color = pgc.colors ? (*pgc.colors)[k] : AUTHOR_DEFAULT_COLOR;
        put32(b, 0xA4 + 4 * k, color < 0x1000000 ? color : 0x108080);
    }
    put16(b, 0xE4, 0xEC);
    put16(b, 0xEC, static_cast<int>(pgc.preCommands.size()));
    put16(b, 0xEE, static_cast<int>(pgc.postCommands.size()));
    put16(b, 0xF2, static_cast<int>(7 + 8 * commands));
    size_t at = 0xF4;
    for (const AuthorCommand& c : pgc.preCommands) {
        std::copy(c.begin(), c.end(), b.begin() + static_cast<long>(at));
        at += 8;
    }
    for (const AuthorCommand& c : pgc.postCommands) {
        std::copy(c.begin(), c.end(), b.begin() + static_cast<long>(at));
        at += 8;
    }

    if (!pgc.sources.empty()) {
        // Program map: the entry cell (from 1) of each program.
        put16(b, 0xE6, static_cast<int>(b.size()));
        int cellNumber = 1;
        for (const AuthorSourceRef& ref : pgc.sources) {
            for (const AuthorCellSpec& spec : ref.cells) {
                if (spec.endCell > spec.firstCell && spec.chapterMark != 0)
                    b.push_back(static_cast<uint8_t>(cellNumber));
                if (spec.endCell > spec.firstCell)
                    cellNumber += spec.endCell - spec.firstCell;
            }
        }
        if (b.size() % 2)
            b.push_back(0);

        put16(b, 0xE8, static_cast<int>(b.size()));
        int previousKey = 0;
        int previousStill = 0;
        for (size_t i = 0; i < cells.size(); ++i) {
            const AuthorPlayCell& cell = cells[i];
            const AuthorSource& source = *cell.source;
            const AuthorCellRange& range = source.cells[cell.cellId - 1];
            const VobuInfo& first = source.vobus[range.firstVobu];
            const VobuInfo& last = source.vobus[range.lastVobu];
            const int key = source.vobId * 256 + cell.cellId;
            const int still = cell.lastOfSpec ? cell.spec->pause : 0;
            uint8_t flags = 0;
            if (key != previousKey + 1)
                flags |= 2;
            if (i > 0 && previousStill == 0 && !AuthorAudioGap(group, previousKey, key))
                flags |= 8;
            const size_t e = b.size();
            b.resize(e + 24, 0);
            b[e] = flags;
            b[e + 2] = static_cast<uint8_t>(still);
            put32(b, e + 4, AuthorPlaybackTime(last.vobuEnd - first.vobuStart, rate));
            put32(b, e + 8, static_cast<uint32_t>(first.firstSector));
            put32(b, e + 16, static_cast<uint32_t>(last.firstSector));
            put32(b, e + 20, static_cast<uint32_t>(last.lastSector));
            previousKey = key;
            previousStill = still;
        }

        put16(b, 0xEA, static_cast<int>(b.size()));
        for (const AuthorPlayCell& cell : cells) {
            const size_t e = b.size();
            b.resize(e + 4, 0);
            put16(b, e, cell.source->vobId);
            b[e + 3] = static_cast<uint8_t>(cell.cellId);
        }
    }
    out.insert(out.end(), b.begin(), b.end());
}
