// The files of menu discs judged by independent readers: libdvdread's navigation-pack reader finds the
// buttons the layout drew in every pack of the menu VOB, which agrees with its address tables; the
// menu's program chains and attributes are what players need (a 16:9 menu letterboxed, never
// pan-scanned, on a 4:3 screen); FFmpeg decodes the menu picture and its highlight subpicture (the
// composite is saved as build/screenshots/menu-<case>.png); the disc image passes the image checks.
#include "DiscImageSupport.h"
#include "DvdReaderCheck.h"
#include "MenuBuilder.h"
#include "MenuDiscSupport.h"
#include "MenuNavigator.h"
#include "MenuPicture.h"
#include "UdfReadSupport.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QImage>

#include <dvdread/dvd_reader.h>
#include <dvdread/ifo_read.h>
#include <dvdread/nav_read.h>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libswscale/swscale.h>
}

#include <algorithm>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <map>

namespace {

const MenuDiscCase kFileCases[] = {
    {"Nine_PAL_16x9", 9, TvStandard::Pal, DisplayAspect::Wide16x9},
    {"Three_NTSC_4x3", 3, TvStandard::Ntsc, DisplayAspect::Standard4x3},
};

struct Ifo {
    dvd_reader_t* dvd = nullptr;
    ifo_handle_t* vmg = nullptr;
    ifo_handle_t* vts = nullptr;
    explicit Ifo(const std::string& root) {
        dvd = DVDOpen(root.c_str());
        if (dvd) {
            vmg = ifoOpen(dvd, 0);
            vts = ifoOpen(dvd, 1);
        }
    }
    ~Ifo() {
        if (vts)
            ifoClose(vts);
        if (vmg)
            ifoClose(vmg);
        if (dvd)
            DVDClose(dvd);
    }
    const pgc_t* managerPgc(int n) const { return vmg->pgci_ut->lu[0].pgcit->pgci_srp[n - 1].pgc; }
};

QRgb fromYCrCb(uint32_t entry) {
    const double y = (entry >> 16 & 0xFF) - 16.0, cr = (entry >> 8 & 0xFF) - 128.0, cb = (entry & 0xFF) - 128.0;
    auto clamp = [](double v) { return std::clamp(static_cast<int>(std::lround(v)), 0, 255); };
    return qRgb(clamp(1.164 * y + 1.596 * cr), clamp(1.164 * y - 0.813 * cr - 0.392 * cb),
                clamp(1.164 * y + 2.017 * cb));
}

// The last picture and the first subpicture (as pixel values 0..3) of a program stream.
struct DecodedMenu {
    QImage picture;                  // as stored: 720 pixels wide
    std::vector<uint8_t> subpicture; // picture-sized, 0 where the unit has no pixel
    int subWidth = 0, subHeight = 0;
};

DecodedMenu decodeMenu(const std::string& path, int subpictureId) {
    DecodedMenu out;
    AVFormatContext* input = nullptr;
    if (avformat_open_input(&input, path.c_str(), nullptr, nullptr) < 0)
        return out;
    avformat_find_stream_info(input, nullptr);
    std::map<int, AVCodecContext*> decoders;
    for (unsigned i = 0; i < input->nb_streams; ++i) {
        const AVCodecParameters* par = input->streams[i]->codecpar;
        const bool wanted = par->codec_type == AVMEDIA_TYPE_VIDEO || (par->codec_id == AV_CODEC_ID_DVD_SUBTITLE &&
                                                                      (input->streams[i]->id & 0xFF) == subpictureId);
        const AVCodec* codec = wanted ? avcodec_find_decoder(par->codec_id) : nullptr;
        if (!codec)
            continue;
        AVCodecContext* c = avcodec_alloc_context3(codec);
        avcodec_parameters_to_context(c, par);
        if (avcodec_open2(c, codec, nullptr) == 0)
            decoders[static_cast<int>(i)] = c;
        else
            avcodec_free_context(&c);
    }
    AVPacket* packet = av_packet_alloc();
    AVFrame* frame = av_frame_alloc();
    auto keep = [&](AVFrame* f) {
        QImage image(f->width, f->height, QImage::Format_RGB32);
        SwsContext* sws = sws_getContext(f->width, f->height, static_cast<AVPixelFormat>(f->format), f->width,
                                         f->height, AV_PIX_FMT_BGRA, SWS_BICUBIC, nullptr, nullptr, nullptr);
        uint8_t* dst[1] = {image.bits()};
        const int stride[1] = {static_cast<int>(image.bytesPerLine())};
        sws_scale(sws, f->data, f->linesize, 0, f->height, dst, stride);
        sws_freeContext(sws);
        out.picture = image;
    };
    while (av_read_frame(input, packet) >= 0) {
        auto it = decoders.find(packet->stream_index);
        if (it != decoders.end() && it->second->codec_type == AVMEDIA_TYPE_VIDEO) {
            avcodec_send_packet(it->second, packet);
            while (avcodec_receive_frame(it->second, frame) == 0)
                keep(frame);
        } else if (it != decoders.end() && out.subpicture.empty()) {
            AVSubtitle sub{};
            int got = 0;
            if (avcodec_decode_subtitle2(it->second, &sub, &got, packet) >= 0 && got && sub.num_rects > 0) {
                const AVSubtitleRect* r = sub.rects[0];
                out.subWidth = r->x + r->w;
                out.subHeight = r->y + r->h;
                out.subpicture.assign(static_cast<size_t>(out.subWidth) * out.subHeight, 0);
                for (int y = 0; y < r->h; ++y)
                    for (int x = 0; x < r->w; ++x)
                        out.subpicture[static_cast<size_t>(r->y + y) * out.subWidth + r->x + x] =
                            r->data[0][y * r->linesize[0] + x];
            }
            if (got)
                avsubtitle_free(&sub);
        }
        av_packet_unref(packet);
    }
    for (auto& [index, c] : decoders) {
        if (c->codec_type == AVMEDIA_TYPE_VIDEO) {
            avcodec_send_packet(c, nullptr);
            while (avcodec_receive_frame(c, frame) == 0)
                keep(frame);
        }
        avcodec_free_context(&c);
    }
    av_frame_free(&frame);
    av_packet_free(&packet);
    avformat_close_input(&input);
    return out;
}

class MenuDiscFiles : public ::testing::TestWithParam<MenuDiscCase> {
protected:
    void SetUp() override {
        std::unique_ptr<AuthoredMenuDisc>& disc = s_discs[GetParam().name];
        if (!disc)
            disc = AuthorMenuDisc(GetParam());
        ASSERT_TRUE(disc->ok) << disc->error;
        m_disc = disc.get();
    }
    static void TearDownTestSuite() { s_discs.clear(); }
    const MenuLayout& layout() const { return m_disc->menu.layout; }
    std::string video() const { return m_disc->root + "/VIDEO_TS/"; }
    bool wide() const { return GetParam().aspect == DisplayAspect::Wide16x9; }

    AuthoredMenuDisc* m_disc = nullptr;
    static std::map<std::string, std::unique_ptr<AuthoredMenuDisc>> s_discs;
};
std::map<std::string, std::unique_ptr<AuthoredMenuDisc>> MenuDiscFiles::s_discs;

TEST_P(MenuDiscFiles, EveryNavPackOfTheMenuVobCarriesItsPagesButtonsAndAgreesWithTheAddressTables) {
    Ifo ifo(m_disc->root);
    ASSERT_TRUE(ifo.vmg && ifo.vmg->menu_vobu_admap && ifo.vmg->menu_c_adt);
    const Bytes vob = ReadWholeFile(video() + "VIDEO_TS.VOB");
    const vobu_admap_t* admap = ifo.vmg->menu_vobu_admap;
    const size_t vobus = (admap->last_byte + 1 - 4) / 4;
    ASSERT_GE(vobus, layout().pages.size());
    const c_adt_t* cadt = ifo.vmg->menu_c_adt;
    ASSERT_EQ(cadt->nr_of_vobs, layout().pages.size()); // one cell per page
    for (size_t i = 0; i < vobus; ++i) {
        const uint32_t sector = admap->vobu_start_sectors[i];
        SCOPED_TRACE("VOBU at sector " + std::to_string(sector));
        ASSERT_LT((sector + 1) * 2048, vob.size() + 1);
        Bytes pack(vob.begin() + sector * 2048, vob.begin() + (sector + 1) * 2048);
        ASSERT_EQ(Be32(pack, 14), 0x000001BBu);
        ASSERT_EQ(Be32(pack, 0x26), 0x000001BFu);
        ASSERT_EQ(Be32(pack, 0x400), 0x000001BFu);
        pci_t pci;
        dsi_t dsi;
        navRead_PCI(&pci, pack.data() + 0x2D);
        navRead_DSI(&dsi, pack.data() + 0x407);
        EXPECT_EQ(pci.pci_gi.nv_pck_lbn, sector);
        EXPECT_EQ(dsi.dsi_gi.nv_pck_lbn, sector);
        const uint32_t end = i + 1 < vobus ? admap->vobu_start_sectors[i + 1] - 1 : vob.size() / 2048 - 1;
        EXPECT_EQ(sector + dsi.dsi_gi.vobu_ea, end);
        const int page = dsi.dsi_gi.vobu_vob_idn; // page p is the menu group's source p
        ASSERT_GE(page, 1);
        ASSERT_LE(page, static_cast<int>(layout().pages.size()));
        const cell_adr_t& cell = cadt->cell_adr_table[page - 1];
        EXPECT_EQ(cell.vob_id, page);
        EXPECT_GE(sector, cell.start_sector);
        EXPECT_LE(end, cell.last_sector);

        // The page's buttons as drawn, with their arrows, for each display.
        const std::vector<MenuButton>& buttons = layout().pages[page - 1].buttons;
        const hl_gi_t& hl = pci.hli.hl_gi;
        EXPECT_EQ(hl.hli_ss, sector == cell.start_sector ? 1 : 2);
        EXPECT_EQ(hl.btn_ns, buttons.size());
        EXPECT_EQ(hl.btngr_ns, wide() ? 2u : 1u);
        EXPECT_EQ(hl.btngr1_dsp_ty, wide() ? 1u : 0u); // wide, or a 4:3 picture
        if (wide()) {
            EXPECT_EQ(hl.btngr2_dsp_ty, 2u); // letterboxed on a 4:3 screen
        }
        EXPECT_EQ(hl.fosl_btnn, 0);
        for (unsigned g = 0; g < hl.btngr_ns; ++g) {
            for (size_t b = 0; b < buttons.size(); ++b) {
                const btni_t& entry = pci.hli.btnit[(36 / hl.btngr_ns) * g + b];
                const MenuRect drawn = MenuButtonRect(layout().geometry, buttons[b], g == 1);
                EXPECT_EQ(entry.x_start, static_cast<unsigned>(drawn.x));
                EXPECT_EQ(entry.x_end, static_cast<unsigned>(drawn.right() - 1));
                EXPECT_EQ(entry.y_start, static_cast<unsigned>(drawn.y));
                EXPECT_EQ(entry.y_end, static_cast<unsigned>(drawn.bottom() - 1));
                EXPECT_EQ(entry.up, buttons[b].up);
                EXPECT_EQ(entry.down, buttons[b].down);
                EXPECT_EQ(entry.left, buttons[b].left);
                EXPECT_EQ(entry.right, buttons[b].right);
                EXPECT_EQ(entry.btn_coln, 1u);
                EXPECT_EQ(entry.auto_action_mode, 0u);
            }
        }
        if (wide()) {
            // Letterboxed: three quarters of the height, a black band of an eighth above.
            const btni_t& first = pci.hli.btnit[18];
            const int lines = GetParam().tv == TvStandard::Pal ? 576 : 480;
            EXPECT_NEAR(first.y_start, lines / 8 + pci.hli.btnit[0].y_start * 3.0 / 4, 1.0);
        }
    }
}

TEST_P(MenuDiscFiles, MenuProgramChainsAndAttributesAreWhatPlayersNeed) {
    Ifo ifo(m_disc->root);
    ASSERT_TRUE(ifo.vmg && ifo.vmg->pgci_ut && ifo.vts && ifo.vts->pgci_ut);
    const int pages = static_cast<int>(layout().pages.size());
    const pgcit_t* menus = ifo.vmg->pgci_ut->lu[0].pgcit;
    EXPECT_EQ(ifo.vmg->pgci_ut->lu[0].lang_code, ('e' << 8) | 'n');
    ASSERT_EQ(menus->nr_of_pgci_srp, 1 + pages + 1 + GetParam().titles);
    EXPECT_EQ(menus->pgci_srp[0].entry_id, 0x82); // the title menu
    EXPECT_EQ(ifo.managerPgc(1)->nr_of_cells, 0);
    for (int page = 1; page <= pages; ++page) {
        const pgc_t* pgc = ifo.managerPgc(1 + page);
        SCOPED_TRACE("page " + std::to_string(page));
        EXPECT_EQ(menus->pgci_srp[page].entry_id, 0);
        ASSERT_EQ(pgc->nr_of_cells, 1);
        EXPECT_EQ(pgc->cell_playback[0].still_time, 255);                    // held until a button is pressed
        EXPECT_EQ(pgc->subp_control[0], wide() ? 0x80000100u : 0x80000000u); // wide 0, letterbox 1
        EXPECT_EQ(pgc->palette[kMenuSelectColor], MenuColorTable()[kMenuSelectColor]);
        ASSERT_TRUE(pgc->command_tbl);
        EXPECT_EQ(pgc->command_tbl->nr_of_pre, 2);
        EXPECT_EQ(pgc->command_tbl->nr_of_post, 0);
    }
    const vmgi_mat_t* mat = ifo.vmg->vmgi_mat;
    EXPECT_EQ(mat->nr_of_vmgm_subp_streams, 1);
    EXPECT_EQ(mat->nr_of_vmgm_audio_streams, 1);
    EXPECT_EQ(mat->vmgm_video_attr.display_aspect_ratio, wide() ? 3u : 0u);
    EXPECT_EQ(mat->vmgm_video_attr.permitted_df, wide() ? 2u : 3u); // 16:9: letterbox only
    EXPECT_EQ(mat->vmgm_video_attr.video_format, GetParam().tv == TvStandard::Pal ? 1u : 0u);
    // The title set's root menu, reached with the Menu key.
    ASSERT_EQ(ifo.vts->pgci_ut->lu[0].pgcit->nr_of_pgci_srp, 1);
    EXPECT_EQ(ifo.vts->pgci_ut->lu[0].pgcit->pgci_srp[0].entry_id, 0x83);
}

TEST_P(MenuDiscFiles, FfmpegDecodesTheMenuPictureWithItsHighlight) {
    Ifo ifo(m_disc->root);
    ASSERT_TRUE(ifo.vmg && ifo.vmg->menu_c_adt);
    // Page 1 on its own, as a player reads its cell.
    const cell_adr_t& cell = ifo.vmg->menu_c_adt->cell_adr_table[0];
    const Bytes vob = ReadWholeFile(video() + "VIDEO_TS.VOB");
    const std::string page = m_disc->temp->path() + "/page1.vob";
    std::ofstream(page, std::ios::binary)
        .write(reinterpret_cast<const char*>(vob.data()) + cell.start_sector * 2048,
               (cell.last_sector - cell.start_sector + 1) * 2048);
    DecodedMenu decoded = decodeMenu(page, 0x20);
    const int lines = GetParam().tv == TvStandard::Pal ? 576 : 480;
    ASSERT_EQ(decoded.picture.width(), 720);
    ASSERT_EQ(decoded.picture.height(), lines);
    ASSERT_EQ(decoded.subWidth, 720);
    ASSERT_EQ(decoded.subHeight, lines);

    // The selected button's frame in the colours of its highlight, drawn as a player would.
    const Bytes pack(vob.begin() + cell.start_sector * 2048, vob.begin() + (cell.start_sector + 1) * 2048);
    pci_t pci;
    navRead_PCI(&pci, const_cast<unsigned char*>(pack.data()) + 0x2D);
    const btni_t& selected = pci.hli.btnit[0];
    const uint32_t colors = pci.hli.btn_colit.btn_coli[selected.btn_coln - 1][0];
    // The program chain is a packed structure: a reference to its palette would bind to a temporary copy.
    uint32_t palette[16];
    std::memcpy(palette, ifo.managerPgc(2)->palette, sizeof palette);
    QImage composite = decoded.picture;
    int inside = 0, outside = 0;
    for (int y = 0; y < lines; ++y)
        for (int x = 0; x < 720; ++x) {
            const uint8_t value = decoded.subpicture[static_cast<size_t>(y) * 720 + x];
            if (value == 0)
                continue;
            bool inButton = false;
            for (int b = 0; b < pci.hli.hl_gi.btn_ns; ++b) {
                const btni_t& e = pci.hli.btnit[b];
                inButton =
                    inButton || (x >= int(e.x_start) && x <= int(e.x_end) && y >= int(e.y_start) && y <= int(e.y_end));
            }
            (inButton ? inside : outside)++;
            if (x < int(selected.x_start) || x > int(selected.x_end) || y < int(selected.y_start) ||
                y > int(selected.y_end))
                continue;
            const int contrast = colors >> (4 * value) & 0xF;
            const QRgb over = fromYCrCb(palette[colors >> (16 + 4 * value) & 0xF]);
            const QRgb under = composite.pixel(x, y);
            auto mix = [&](int a, int b) { return (a * contrast + b * (15 - contrast)) / 15; };
            composite.setPixel(
                x, y,
                qRgb(mix(qRed(over), qRed(under)), mix(qGreen(over), qGreen(under)), mix(qBlue(over), qBlue(under))));
        }
    EXPECT_GT(inside, 0);
    EXPECT_EQ(outside, 0) << "subpicture pixels outside every button";
    // The picture is no blank: the heading and the buttons are drawn.
    std::map<QRgb, int> shades;
    for (int y = 0; y < lines; y += 4)
        for (int x = 0; x < 720; x += 4)
            ++shades[decoded.picture.pixel(x, y) & 0xF0F0F0];
    EXPECT_GT(shades.size(), 50u);

    const QString folder = QStringLiteral(QX_BIN_DIR "/../screenshots");
    QDir().mkpath(folder);
    const QImage shown =
        composite.scaled(layout().geometry.displayWidth, lines, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    EXPECT_TRUE(shown.save(folder + "/menu-" + GetParam().name + ".png"));
}

TEST_P(MenuDiscFiles, TheDiscBudgetHoldsTheMenusStreams) {
    // What the menu adds: its two VOBs and the menu tables of the information files (and backups).
    namespace fs = std::filesystem;
    const double bytes =
        static_cast<double>(fs::file_size(video() + "VIDEO_TS.VOB") + fs::file_size(video() + "VTS_01_0.VOB") +
                            2 * fs::file_size(video() + "VIDEO_TS.IFO"));
    std::cout << "menu of " << GetParam().titles << " movies: " << bytes / 1048576 << " MB\n";
    EXPECT_LE(bytes, MenuBudgetMB(GetParam().titles) * 1048576.0);
}

TEST_P(MenuDiscFiles, TheDiscImageOfAMenuDiscPassesTheImageChecks) {
    using namespace qx::discimage;
    std::string error;
    std::vector<std::string> warnings;
    auto image = DvdVideoImage::Create(video(), TestDescriptor(GetParam().name), &error, &warnings);
    ASSERT_TRUE(image) << error;
    EXPECT_TRUE(warnings.empty()) << ::testing::PrintToString(warnings);
    const std::string iso = m_disc->temp->path() + "/menu.iso";
    ASSERT_TRUE(WriteImageFile(*image, iso, {}, &error)) << error;

    UdfImage udf(iso);
    ASSERT_TRUE(udf.ok());
    EXPECT_TRUE(udf.LayoutFaults().empty()) << ::testing::PrintToString(udf.LayoutFaults());
    size_t files = 0;
    std::vector<std::pair<std::string, IsoExtent>> extents = IsoinfoVideoTsExtents(iso);
    for (const UdfEntry& e : udf.Tree(true)) {
        if (e.directory)
            continue;
        ++files;
        EXPECT_TRUE(e.bytes == ReadWholeFile(m_disc->root + e.path)) << e.path;
        auto it = std::find_if(extents.begin(), extents.end(),
                               [&](const auto& p) { return "/VIDEO_TS/" + p.first == e.path; });
        ASSERT_NE(it, extents.end()) << e.path;
        EXPECT_EQ(it->second.sector, e.sector) << e.path;
    }
    EXPECT_EQ(files, 7u); // VIDEO_TS.IFO/.VOB/.BUP, VTS_01_0.IFO/.VOB/.BUP, VTS_01_1.VOB
    auto fields = UdfinfoFields(iso);
    EXPECT_EQ(Field(fields, "udfrev"), "1.02");
    EXPECT_EQ(Field(fields, "integrity"), "closed");

    DvdReadReport report = ReadDvdFolder(iso);
    EXPECT_TRUE(report.complaints.empty()) << ::testing::PrintToString(report.complaints);
    MenuNavigator nav(iso);
    ASSERT_TRUE(nav.RunToMenu());
    ASSERT_TRUE(nav.Activate(1));
    EXPECT_EQ(nav.RunToTitle(), 1);
}

INSTANTIATE_TEST_SUITE_P(Cases, MenuDiscFiles, ::testing::ValuesIn(kFileCases),
                         [](const ::testing::TestParamInfo<MenuDiscCase>& info) {
                             return std::string(info.param.name);
                         });

} // namespace
