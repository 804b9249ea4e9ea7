#include "IfoTables.h"

#include "AuthorError.h"

#include <cstring>

std::vector<uint8_t> IfoPgcTable(IfoWorkBuffer& work, const PgcGroup& group, const IfoPgcEntryByte& entryByte) {
    const size_t count = group.pgcs.size();
    std::vector<uint8_t> record;
    while (true) {
        size_t pos = 8 + 8 * count;
        bool restarted = false;
        while (pos > work.size())
            work.grow();
        std::memset(work.data(), 0, pos);
        for (size_t i = 0; i < count && !restarted; ++i) {
            record.clear();
            AuthorAppendPgci(record, group, *group.pgcs[i]);
            if (work.size() - pos < IfoWorkBuffer::kPgcHeadroom || work.size() - pos < record.size()) {
                work.grow();
                restarted = true;
                break;
            }
            uint8_t* pointer = work.data() + 8 + 8 * i;
            pointer[0] = entryByte(i, *group.pgcs[i]);
            IfoPut32(pointer + 4, static_cast<uint32_t>(pos));
            std::memcpy(work.data() + pos, record.data(), record.size());
            pos += record.size();
        }
        if (restarted)
            continue;
        IfoPut16(work.data(), static_cast<uint32_t>(count));
        IfoPut32(work.data() + 4, static_cast<uint32_t>(pos - 1));
        return std::vector<uint8_t>(work.data(), work.data() + pos);
    }
}

uint8_t IfoMenuEntryByte(const ProgramChain& pgc) {
    for (int kind = ENTRY_TITLE; kind <= ENTRY_PTT; ++kind)
        if (pgc.entries & (1u << kind))
            return static_cast<uint8_t>(0x80 + kind);
    return 0;
}

std::vector<uint8_t> IfoMenuTable(IfoWorkBuffer& work, const AuthorMenuList& menus) {
    std::vector<const AuthorMenuLanguage*> languages;
    for (const AuthorMenuLanguage& language : menus.languages)
        if (language.group)
            languages.push_back(&language);
    IfoTable table;
    table.put16(0, static_cast<uint32_t>(languages.size()));
    size_t pos = 8 + 8 * languages.size();
    table.at(0, pos);
    for (size_t i = 0; i < languages.size(); ++i) {
        std::vector<uint8_t> unit = IfoPgcTable(work, *languages[i]->group,
                                                [](size_t, const ProgramChain& pgc) { return IfoMenuEntryByte(pgc); });
        uint8_t* entry = table.at(8 + 8 * i, 8);
        entry[0] = static_cast<uint8_t>(languages[i]->language[0]);
        entry[1] = static_cast<uint8_t>(languages[i]->language[1]);
        entry[3] = 0x80;
        IfoPut32(entry + 4, static_cast<uint32_t>(pos));
        table.append(unit.data(), unit.size());
        pos += unit.size();
    }
    table.put32(4, static_cast<uint32_t>(table.size() - 1));
    return table.bytes();
}

std::vector<uint8_t> IfoCellAddressTable(const PgcGroup& group) {
    IfoTable table;
    size_t entries = 0;
    table.at(0, 8);
    for (const auto& source : group.sources) {
        for (size_t c = 0; c < source->cells.size(); ++c) {
            const AuthorCellRange& cell = source->cells[c];
            size_t at = 8 + 12 * entries;
            table.put16(at, static_cast<uint32_t>(source->vobId));
            table.put8(at + 2, static_cast<uint32_t>(c + 1));
            table.put8(at + 3, 0);
            table.put32(at + 4, static_cast<uint32_t>(source->vobus[cell.firstVobu].firstSector));
            table.put32(at + 8, static_cast<uint32_t>(source->vobus[cell.lastVobu].lastSector));
            ++entries;
        }
    }
    table.put16(0, static_cast<uint32_t>(entries));
    table.put32(4, static_cast<uint32_t>(table.size() - 1));
    return table.bytes();
}

std::vector<uint8_t> IfoVobuAddressMap(const PgcGroup& group) {
    IfoTable table;
    size_t count = 0;
    table.at(0, 4);
    for (const auto& source : group.sources)
        for (const VobuInfo& vobu : source->vobus)
            table.put32(4 + 4 * count++, static_cast<uint32_t>(vobu.firstSector));
    table.put32(0, static_cast<uint32_t>(4 * count + 3));
    return table.bytes();
}

PgcGroup* IfoMenuGroup(const AuthorMenuList& menus) {
    PgcGroup* found = nullptr;
    for (const AuthorMenuLanguage& language : menus.languages) {
        if (!language.group || language.group->pgcs.empty())
            continue;
        if (found)
            AuthorFatal("ERR:  Menus in more than one language are not supported\n");
        found = language.group.get();
    }
    return found;
}

IfoWorkBuffer& IfoSharedWorkBuffer() {
    thread_local IfoWorkBuffer work;
    return work;
}

void IfoAppendPadded(std::vector<uint8_t>& file, const std::vector<uint8_t>& table) {
    file.insert(file.end(), table.begin(), table.end());
    file.resize(file.size() + (DVD_SECTOR - file.size() % DVD_SECTOR) % DVD_SECTOR, 0);
}
