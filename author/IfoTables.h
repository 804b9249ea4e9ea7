// Tables shared by the title-set and video-manager information files: program-chain tables (assembled
// in a growing work buffer), menu tables by language, cell address tables and VOBU address maps.
// Each returns the table's bytes unpadded; the caller pads to whole sectors.
#pragma once

#include "IfoBytes.h"
#include "ProgramChain.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

// The buffer program-chain tables are assembled in. It persists between tables so that a grown buffer
// stays grown; before each PGC is added it must have kPgcHeadroom bytes free beyond the current
// position, otherwise it doubles and the whole table is assembled again.
class IfoWorkBuffer {
public:
    static constexpr size_t kInitialSize = 0x20000;
    static constexpr size_t kPgcHeadroom = 117228;
    size_t size() const { return m_bytes.size(); }
    uint8_t* data() { return m_bytes.data(); }
    void grow() { m_bytes.assign(m_bytes.size() * 2, 0); }

private:
    std::vector<uint8_t> m_bytes = std::vector<uint8_t>(kInitialSize, 0);
};

// Entry byte of a PGC's search pointer (byte 0 of its 8-byte pointer).
using IfoPgcEntryByte = std::function<uint8_t(size_t pgcIndex, const ProgramChain& pgc)>;

// VTS_PGCIT-style table: count, 0, end address; an 8-byte pointer per PGC; the PGCI records.
std::vector<uint8_t> IfoPgcTable(IfoWorkBuffer& work, const PgcGroup& group, const IfoPgcEntryByte& entryByte);

// Entry byte of a menu PGC: 0x80 + its lowest entry kind, or 0 without entry.
uint8_t IfoMenuEntryByte(const ProgramChain& pgc);

// VTSM_PGCI_UT / VMGM_PGCI_UT: one language unit per language of the list that has a group.
std::vector<uint8_t> IfoMenuTable(IfoWorkBuffer& work, const AuthorMenuList& menus);

// C_ADT: one 12-byte entry per cell of each source of the group.
std::vector<uint8_t> IfoCellAddressTable(const PgcGroup& group);

// VOBU_ADMAP: the first sector of every VOBU of every source.
std::vector<uint8_t> IfoVobuAddressMap(const PgcGroup& group);

// Sectors `bytes` bytes occupy once padded.
// The work buffer the information-file writers of one thread share.
IfoWorkBuffer& IfoSharedWorkBuffer();

// Appends a table to a file image, padded with zeros to a whole sector.
void IfoAppendPadded(std::vector<uint8_t>& file, const std::vector<uint8_t>& table);

// Hands out the start sector of each table in file order, after the header sector; an absent
// (empty) table gets sector 0 and takes no room.
class IfoSectorPlacer {
public:
    uint32_t Place(const std::vector<uint8_t>& table) {
        uint32_t at = table.empty() ? 0 : m_next;
        m_next += IfoSectors(table.size());
        return at;
    }
    uint32_t next() const { return m_next; }

private:
    uint32_t m_next = 1;
};

inline uint32_t IfoTableSectors(const std::vector<uint8_t>& bytes) {
    return IfoSectors(bytes.size());
}

// The first menu group with program chains, or null. Fatal when more than one language has menus,
// because all menus of a domain share one VOB.
PgcGroup* IfoMenuGroup(const AuthorMenuList& menus);
