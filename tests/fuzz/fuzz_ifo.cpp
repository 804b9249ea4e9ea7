// Title-set information files: the input is VIDEO_TS/VTS_01_0.IFO of an output folder, and the table
// of contents is built from it into memory. AuthorFatalError is an answer; when the table of contents
// is made, it must list exactly the titles and chapters the reader found.
#include "AuthorError.h"
#include "AuthorToc.h"
#include "FuzzSupport.h"
#include "IfoBytes.h"

#include <cstring>
#include <sys/stat.h>

int QxFuzzIfo(const uint8_t* data, size_t size) {
    static const std::string folder = [] {
        qxfuzz::QuietAuthorLog();
        std::string f = qxfuzz::ScratchFolder() + "/toc";
        mkdir(f.c_str(), 0700);
        mkdir((f + "/VIDEO_TS").c_str(), 0700);
        return f;
    }();
    const std::string ifoPath = folder + "/VIDEO_TS/VTS_01_0.IFO";
    qxfuzz::WriteScratchFile(ifoPath, data, size);

    AuthorTitleSetSummary summary;
    bool readable = true;
    try {
        summary = AuthorReadTitleSet(ifoPath);
    } catch (const AuthorFatalError&) {
        readable = false;
    }

    qxfuzz::MemoryOutput out(true);
    AuthorRunOptions options;
    options.files = &out;
    AuthorMenuList menus;
    bool made = true;
    try {
        CreateToc(nullptr, menus, folder, 1, options);
    } catch (const AuthorFatalError&) {
        made = false;
    }
    QX_FUZZ_CHECK(made == readable);
    if (!made)
        return 0;

    const std::vector<uint8_t>& ifo = out.files[folder + "/VIDEO_TS/VIDEO_TS.IFO"];
    QX_FUZZ_CHECK(ifo == out.files[folder + "/VIDEO_TS/VIDEO_TS.BUP"]);
    QX_FUZZ_CHECK(ifo.size() >= 2 * DVD_SECTOR && ifo.size() % DVD_SECTOR == 0);
    QX_FUZZ_CHECK(std::memcmp(ifo.data(), "DVDVIDEO-VMG", 12) == 0);
    // TT_SRPT: one 12-byte entry per title: chapters at +2, title set at +6, title number at +7.
    const size_t search = static_cast<size_t>(IfoGet32(ifo.data() + 0xC4)) * DVD_SECTOR;
    QX_FUZZ_CHECK(search > 0 && search + 8 + 12 * summary.chapters.size() <= ifo.size());
    if (search == 0 || search + 8 + 12 * summary.chapters.size() > ifo.size())
        return 0;
    QX_FUZZ_CHECK(IfoGet16(ifo.data() + search) == summary.chapters.size());
    for (size_t t = 0; t < summary.chapters.size(); ++t) {
        const uint8_t* entry = ifo.data() + search + 8 + 12 * t;
        QX_FUZZ_CHECK(static_cast<int>(IfoGet16(entry + 2)) == summary.chapters[t]);
        QX_FUZZ_CHECK(entry[6] == 1 && entry[7] == t + 1);
    }
    return 0;
}
