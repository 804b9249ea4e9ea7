#include "UdfReadSupport.h"

#include <udfread/blockinput.h>
#include <udfread/udfread.h>

#include <map>

namespace {

// libudfread reading straight from the image's ReadSectors.
struct ImageInput {
    udfread_block_input input;
    qx::discimage::DvdVideoImage* image;
};

int readImage(udfread_block_input* input, uint32_t lba, void* buffer, uint32_t blocks, int) {
    auto* self = reinterpret_cast<ImageInput*>(input);
    std::string error;
    if (lba >= self->image->SizeInSectors())
        return -1;
    blocks = static_cast<uint32_t>(std::min<uint64_t>(blocks, self->image->SizeInSectors() - lba));
    return self->image->ReadSectors(lba, blocks, static_cast<uint8_t*>(buffer), &error) ? static_cast<int>(blocks) : -1;
}

uint32_t imageSize(udfread_block_input* input) {
    return static_cast<uint32_t>(reinterpret_cast<ImageInput*>(input)->image->SizeInSectors());
}

void walk(udfread* udf, const std::string& path, bool withContents, std::vector<UdfEntry>& out) {
    UDFDIR* dir = udfread_opendir(udf, path.empty() ? "/" : path.c_str());
    if (!dir)
        return;
    udfread_dirent entry;
    std::vector<std::pair<std::string, bool>> children;
    while (udfread_readdir(dir, &entry)) {
        std::string name = entry.d_name;
        if (name == "." || name == "..")
            continue;
        children.emplace_back(name, entry.d_type == UDF_DT_DIR);
    }
    udfread_closedir(dir);
    for (const auto& [name, isDir] : children) {
        UdfEntry e;
        e.path = path + "/" + name;
        e.directory = isDir;
        if (!isDir) {
            UDFFILE* file = udfread_file_open(udf, e.path.c_str());
            if (file) {
                e.size = static_cast<uint64_t>(udfread_file_size(file));
                e.sector = e.size ? udfread_file_lba(file, 0) : 0;
                if (withContents) {
                    e.bytes.resize(e.size);
                    size_t got = 0;
                    while (got < e.size) {
                        ssize_t n = udfread_file_read(file, e.bytes.data() + got, e.size - got);
                        if (n <= 0)
                            break;
                        got += static_cast<size_t>(n);
                    }
                    e.bytes.resize(got);
                }
                udfread_file_close(file);
            }
        }
        out.push_back(std::move(e));
        if (isDir)
            walk(udf, path + "/" + name, withContents, out);
    }
}

std::string name2(int set, const char* rest) {
    char name[32];
    std::snprintf(name, sizeof name, "VTS_%02d_%s", set, rest);
    return name;
}

} // namespace

UdfImage::UdfImage(const std::string& isoPath) {
    m_udf = udfread_init();
    if (udfread_open(m_udf, isoPath.c_str()) < 0) {
        udfread_close(m_udf);
        m_udf = nullptr;
    }
}

UdfImage::UdfImage(qx::discimage::DvdVideoImage& image) {
    auto* input = new ImageInput{{nullptr, readImage, imageSize}, &image};
    m_input = input;
    m_udf = udfread_init();
    if (udfread_open_input(m_udf, &input->input) < 0) {
        udfread_close(m_udf);
        m_udf = nullptr;
    }
}

UdfImage::~UdfImage() {
    if (m_udf)
        udfread_close(m_udf);
    delete static_cast<ImageInput*>(m_input);
}

std::string UdfImage::VolumeId() {
    const char* id = m_udf ? udfread_get_volume_id(m_udf) : nullptr;
    return id ? id : "";
}

std::vector<UdfEntry> UdfImage::Tree(bool withContents) {
    std::vector<UdfEntry> entries;
    if (m_udf)
        walk(m_udf, "", withContents, entries);
    return entries;
}

Bytes UdfImage::ReadFile(const std::string& path) {
    for (UdfEntry& e : Tree(false))
        if (e.path == path) {
            UDFFILE* file = udfread_file_open(m_udf, path.c_str());
            Bytes bytes(e.size);
            size_t got = 0;
            while (file && got < e.size) {
                ssize_t n = udfread_file_read(file, bytes.data() + got, e.size - got);
                if (n <= 0)
                    break;
                got += static_cast<size_t>(n);
            }
            if (file)
                udfread_file_close(file);
            bytes.resize(got);
            return bytes;
        }
    return {};
}

std::vector<std::string> UdfImage::LayoutFaults() {
    std::vector<std::string> faults;
    std::map<std::string, UdfEntry> files;
    for (UdfEntry& e : Tree(false))
        if (!e.directory && e.path.rfind("/VIDEO_TS/", 0) == 0)
            files[e.path.substr(10)] = e;
    auto sectors = [](const UdfEntry& e) { return (e.size + 2047) / 2048; };
    auto expect = [&](bool holds, const std::string& what) {
        if (!holds)
            faults.push_back(what);
    };
    if (!files.count("VIDEO_TS.IFO") || !files.count("VIDEO_TS.BUP"))
        return {"no VIDEO_TS.IFO or VIDEO_TS.BUP"};
    const uint64_t v = files["VIDEO_TS.IFO"].sector;
    Bytes vmg = ReadFile("/VIDEO_TS/VIDEO_TS.IFO");
    const UdfEntry& vmgBup = files["VIDEO_TS.BUP"];
    uint64_t after = v + Be32(vmg, 0x1C) + 1;
    if (Be32(vmg, 0xC0) != 0) {
        expect(files.count("VIDEO_TS.VOB") && files["VIDEO_TS.VOB"].sector == v + Be32(vmg, 0xC0), "VIDEO_TS.VOB");
        after += files.count("VIDEO_TS.VOB") ? sectors(files["VIDEO_TS.VOB"]) : 0;
    }
    expect(vmgBup.sector == after, "VIDEO_TS.BUP after the manager's IFO and VOB");
    expect(v + Be32(vmg, 0x0C) == vmgBup.sector + sectors(vmgBup) - 1, "last sector of the video manager");

    const uint32_t sets = Be16(vmg, 0x3E);
    const uint64_t table = uint64_t(Be32(vmg, 0xC4)) * 2048;
    for (uint32_t t = 0; t < Be16(vmg, table); ++t) {
        uint32_t set = vmg.at(table + 8 + 12 * t + 6);
        std::string ifo = name2(static_cast<int>(set), "0.IFO");
        expect(files.count(ifo) && files[ifo].sector == v + Be32(vmg, table + 8 + 12 * t + 8),
               "start of title " + std::to_string(t + 1) + " (" + ifo + ")");
    }
    for (uint32_t set = 1; set <= sets; ++set) {
        std::string ifoName = name2(static_cast<int>(set), "0.IFO");
        if (!files.count(ifoName) || !files.count(name2(static_cast<int>(set), "0.BUP"))) {
            faults.push_back("title set " + std::to_string(set) + " is missing");
            continue;
        }
        Bytes vts = ReadFile("/VIDEO_TS/" + ifoName);
        const uint64_t w = files[ifoName].sector;
        uint64_t end = w + Be32(vts, 0x1C) + 1;
        if (Be32(vts, 0xC0) != 0) {
            std::string menu = name2(static_cast<int>(set), "0.VOB");
            expect(files.count(menu) && files[menu].sector == w + Be32(vts, 0xC0), menu);
            end += files.count(menu) ? sectors(files[menu]) : 0;
        }
        uint64_t titleSectors = 0;
        for (int k = 1; k <= 9; ++k) {
            std::string vob = name2(static_cast<int>(set), (std::to_string(k) + ".VOB").c_str());
            if (!files.count(vob))
                break;
            if (k == 1)
                expect(files[vob].sector == w + Be32(vts, 0xC4), vob + " where the title VOBs start");
            expect(files[vob].sector == end, vob + " right after the file before it");
            end = files[vob].sector + sectors(files[vob]);
            titleSectors += sectors(files[vob]);
        }
        const UdfEntry& bup = files[name2(static_cast<int>(set), "0.BUP")];
        expect(bup.sector == end, bup.path + " right after the title VOBs");
        expect(w + Be32(vts, 0x0C) == bup.sector + sectors(bup) - 1, "last sector of title set " + std::to_string(set));
        // Every cell lies inside the title VOBs.
        const uint64_t cells = uint64_t(Be32(vts, 0xE0)) * 2048;
        if (cells) {
            uint32_t lastByte = Be32(vts, cells + 4);
            for (uint64_t at = cells + 8; at + 12 <= cells + lastByte + 1; at += 12)
                expect(Be32(vts, at + 8) < titleSectors, "cell ending at " + std::to_string(Be32(vts, at + 8)));
        }
    }
    return faults;
}
