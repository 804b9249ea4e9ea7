// fuzz_seeds FOLDER: writes the seed inputs of every harness into FOLDER/<target>/ (the committed
// tests/fuzz/corpus/ was made with it). Program streams are hand-built sectors plus the first
// sectors of a tiny stream made by ffmpeg; the title-set seed is the head of a real information
// file written by the engine.
#include "AuthorError.h"
#include "AuthorScan.h"
#include "AuthorStreamSupport.h"
#include "AuthorTitleSet.h"
#include "EncoderRecord.h"
#include "FuzzSupport.h"
#include "WindowWire.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

using qxtest::Bytes;
namespace fs = std::filesystem;

void QxFuzzFail(const char* what, const char* file, int line) {
    std::fprintf(stderr, "%s:%d: %s\n", file, line, what);
    std::abort();
}

namespace {

fs::path g_out;

void Seed(const std::string& target, const std::string& name, const Bytes& bytes) {
    fs::create_directories(g_out / target);
    std::ofstream(g_out / target / (name + ".bin"), std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

Bytes Text(uint8_t first, const std::string& text) {
    Bytes b = {first};
    b.insert(b.end(), text.begin(), text.end());
    return b;
}

void IniSeeds() {
    Seed("ini", "settings",
         Text(0x01, "[Settings]\nWorkFolder=/home/user/QXMovieDisc/\nTVMode=1\nAspect=0\n"
                    "; comment\n\n[Burn]\nSpeed=8\nDevice=\"/dev/sr0\"\n"));
    Seed("ini", "crlf_no_last_ending", Text(0xC3, "[Settings]\r\nKeep = ' spaced '\r\n\r\n[Other]\r\nA=1"));
    Seed("ini", "odd_lines",
         Text(0x82, "garbage line\n[unclosed\n[Dup]\nk=1\nK=2\n#hash\n=novalue\n[dup]\nk=3\n\n\n[Last]\n"));
}

Bytes Request(uint32_t serial, qx::WindowHandle sender, uint64_t dwData, const Bytes& payload) {
    qx::wire::RequestHeader h;
    h.targetSerial = serial;
    h.sender = sender;
    h.dwData = dwData;
    h.size = static_cast<uint32_t>(payload.size());
    Bytes b(qx::wire::kRequestHeaderSize);
    qx::wire::EncodeRequestHeader(h, b.data());
    b.insert(b.end(), payload.begin(), payload.end());
    return b;
}

Bytes With(uint8_t first, const Bytes& rest) {
    Bytes b = {first};
    b.insert(b.end(), rest.begin(), rest.end());
    return b;
}

void WireSeeds() {
    Seed("window_wire", "request", With(3, Request(1, {4242, 1}, 0, Bytes(64, 0x41))));
    Seed("window_wire", "request_no_sender", With(17, Request(1, {}, 7, {})));
    Bytes cut = With(5, Request(1, {4242, 2}, 0, Bytes(10, 1)));
    cut.resize(cut.size() - 4);
    Seed("window_wire", "request_cut", cut);
    Bytes reply(qx::wire::kReplySize);
    qx::wire::EncodeReply(-2, reply.data());
    Seed("window_wire", "reply", With(0, reply));
    Seed("window_wire", "socket_name", Text(0, "win-4242-17.sock"));
}

// Program streams: 8-byte prefix (see fuzz_scan.cpp), then sectors.
Bytes ScanInput(std::initializer_list<uint8_t> prefix, const std::vector<Bytes>& sectors) {
    Bytes b(prefix);
    b.resize(8, 0);
    Bytes joined = qxtest::Join(sectors);
    b.insert(b.end(), joined.begin(), joined.end());
    return b;
}

Bytes Gop(int aspect, int rate, int pictures) {
    using namespace qxtest;
    Bytes p = Concat({SequenceHeader(720, 576, aspect, rate), SequenceExtension(), GopHeader()});
    for (int i = 0; i < pictures; ++i)
        p = Concat({p, PictureHeader(i, i == 0 ? 1 : 3), PictureCodingExtension(3, false), Bytes(40, 0x55)});
    return p;
}

std::vector<Bytes> TwoVobus() {
    using namespace qxtest;
    const uint32_t base = 900000;
    return {NavPack(base),
            PesSector(base + 100, 0xE0, Gop(3, 3, 2), base + 18000, base + 14400),
            PesSector(base + 200, 0xC0, MpegAudioFrame(11), base + 18000),
            PesSector(base + 300, 0xBD, PrivatePayload(0x80, 1, 1, Ac3Frame(0, 8, 2, 0, 0, false)), base + 18000),
            NavPack(base + 3600),
            PesSector(base + 3700, 0xE0, Concat({Gop(3, 3, 1), SequenceEnd()}), base + 21600)};
}

std::vector<Bytes> MenuSectors() {
    using namespace qxtest;
    const uint32_t base = 90000;
    return {PaddingSector(base - 10), NavPack(base), PesSector(base + 100, 0xE0, Gop(2, 4, 1), base + 9000),
            PesSector(base + 200, 0xBD, PrivatePayload(0xA0, 1, 1, Bytes(16, 0)), base + 9000),
            PesSector(base + 300, 0xBD, Bytes{0x20, 0, 8, 0, 4, 0xFF, 0xFF, 0}, base + 9000)};
}

// The first sectors of a short stream as ffmpeg makes one for DVD.
Bytes FfmpegHead(int sectors) {
    std::string path =
        qxtest::FfmpegFixture("fuzzseed.mpg", "-f lavfi -i testsrc2=size=176x144:rate=25 -f lavfi -i "
                                              "sine=frequency=300 -t 1 -target pal-dvd -s 176x144 -b:v 300k");
    if (path.empty()) {
        std::fprintf(stderr, "fuzz_seeds: ffmpeg could not make the stream seed\n");
        std::exit(1);
    }
    Bytes all = qxtest::ReadFile(path);
    all.resize(std::min(all.size(), static_cast<size_t>(sectors) * 2048));
    return all;
}

// Audio on several channels, with a gap in the MPEG audio and a VOBU without video.
std::vector<Bytes> AudioChannels() {
    using namespace qxtest;
    const uint32_t base = 450000;
    return {NavPack(base),
            PesSector(base + 100, 0xE0, Gop(3, 3, 1), base + 18000),
            PesSector(base + 200, 0xC0, Concat({MpegAudioFrame(11), MpegAudioFrame(11)}), base + 18000),
            PesSector(base + 300, 0xC0, MpegAudioFrame(11), base + 18000 + 9000),
            PesSector(base + 400, 0xBD, PrivatePayload(0x81, 1, 1, Ac3Frame(1, 6, 7, 1, 0, true)), base + 18000),
            NavPack(base + 3600)};
}

void ScanSeeds() {
    Seed("scan", "titles_two_vobus", ScanInput({0x23, 0x05, 0, 1, 0}, TwoVobus()));
    Seed("scan", "titles_three_cells_two_pgcs", ScanInput({0x0C, 0x16, 0, 1, 2, 0, 3}, TwoVobus()));
    Seed("scan", "title_menu", ScanInput({0x09, 0x00}, MenuSectors()));
    Seed("scan", "manager_menu", ScanInput({0x0A, 0x00}, MenuSectors()));
    Seed("scan", "audio_channels", ScanInput({0x03, 0x00}, AudioChannels()));
    Bytes head = FfmpegHead(5);
    Bytes ff = {0x13, 0x01, 0, 0, 0, 0, 0, 0};
    ff.insert(ff.end(), head.begin(), head.end());
    Seed("scan", "ffmpeg_head", ff);
}

// The first two sectors of a title-set information file with two titles (1 and 3 chapters).
void IfoSeeds() {
    qxfuzz::QuietAuthorLog();
    const std::string source = qxfuzz::ScratchFolder() + "/seed.mpg";
    Bytes stream = qxtest::Join(TwoVobus());
    qxtest::WriteFile(source, stream);
    PgcGroup titles(GROUP_TITLES);
    for (int chapters : {1, 3}) {
        auto pgc = std::make_unique<ProgramChain>();
        AuthorSourceRef ref;
        ref.path = source;
        for (int c = 0; c < chapters; ++c) {
            AuthorCellSpec cell;
            cell.start = c * 1200;
            cell.end = c + 1 < chapters ? (c + 1) * 1200 : -1;
            ref.cells.push_back(cell);
        }
        pgc->sources.push_back(ref);
        titles.pgcs.push_back(std::move(pgc));
    }
    qxfuzz::MemoryOutput out(true);
    AuthorRunOptions options;
    options.files = &out;
    AuthorMenuList menus;
    const std::string folder = qxfuzz::ScratchFolder() + "/dvd";
    try {
        CreateTitleSet(menus, titles, folder, options);
    } catch (const AuthorFatalError& e) {
        std::fprintf(stderr, "fuzz_seeds: the title set was refused: %s\n", e.what());
        std::exit(1);
    }
    Bytes ifo = out.files.at(folder + "/VIDEO_TS/VTS_01_0.IFO");
    ifo.resize(2 * 2048);
    Seed("ifo", "two_titles", ifo);
    Bytes one = ifo;
    one[2048 + 1] = 1; // one title
    Seed("ifo", "one_title", one);
}

Bytes Elapsed(uint32_t ms, const qx::EncoderRecord& record, size_t size = qx::kEncoderRecordSize) {
    Bytes b(4);
    std::memcpy(b.data(), &ms, 4);
    b.insert(b.end(), record.data(), record.data() + size);
    return b;
}

void EncoderSeeds() {
    auto probe = qx::EncoderRecord::Blank<qx::EncProbeResultRecord>(qx::ENC_PROBE_RESULT);
    probe.supported = 1;
    qx::PutRecordText(probe.path, "/home/user/Movies/film.rmvb");
    probe.sizeKb = 1024;
    probe.duration = 61.5;
    probe.frameRate = 25;
    probe.width = 352;
    probe.height = 288;
    probe.aspect = 352.0f / 288;
    probe.probeA = 0x20001;
    probe.probeB = 61.5f;
    qx::EncoderRecord r;
    r.Set(probe);
    Seed("encoder_reply", "probe_answer", Elapsed(0, r));
    auto progress = qx::EncoderRecord::Blank<qx::EncProgressRecord>(qx::ENC_PROGRESS);
    progress.fraction = 0.25f;
    r.Set(progress);
    Seed("encoder_reply", "convert_progress", Elapsed(90000, r));
    progress.kind = 1;
    progress.fraction = 0.5f;
    r.Set(progress);
    Seed("encoder_reply", "seek_progress", Elapsed(0, r, 16));
    r.Set(qx::EncoderRecord::Blank<qx::EncProgressRecord>(qx::ENC_CONVERT_DONE));
    Seed("encoder_reply", "convert_done", Elapsed(5, r));
    r.Set(qx::EncoderRecord::Blank<qx::EncProgressRecord>(qx::ENC_RESTART));
    Seed("encoder_reply", "restart", Elapsed(5, r, 4));
}

Bytes LogRecord(int32_t level, const std::string& text) {
    Bytes b(1028, 0);
    std::memcpy(b.data(), &level, 4);
    std::memcpy(b.data() + 4, text.data(), std::min<size_t>(text.size(), 1024));
    return b;
}

void LogSeeds() {
    Seed("log_record", "info", LogRecord(0, "Start converting /home/user/Movies/film.rmvb\n"));
    Seed("log_record", "failure_two_lines", LogRecord(1, "Convert failed:\nthe encoder ended\r\n"));
    Seed("log_record", "end", LogRecord(2, "Abort Normal"));
    Seed("log_record", "unterminated", LogRecord(7, std::string(1024, 'x')));
}

void PrintableTextSeeds() {
    Seed("printable_text", "plain", Text(0, "VTS_01_1.VOB Holiday 2026 \xc3\xbc \xe4\xb8\xad"));
    Seed("printable_text", "escapes", Text(0, "evil\x1b]0;title\x07\x1b[2J\r\n\t\x7f\xc2\x9b.txt"));
    Seed("printable_text", "broken_utf8", Text(1, "bad \xff\xc3 end \xe4\xb8 \xc0\xaf \xed\xa0\x80\n"));
}

// Packets of a movie's AC-3 sound: whole frames with times, two in one packet, one cut in two, a
// gap, and a frame of 44.1 kHz sound.
void Ac3Seeds() {
    auto ac3 = [](const char* name, const char* rate) {
        const std::string path =
            qxtest::FfmpegFixture(name, std::string("-f lavfi -i sine=frequency=300:sample_rate=") + rate +
                                            " -t 0.2 -c:a ac3 -b:a 192k -f ac3");
        if (path.empty()) {
            std::fprintf(stderr, "fuzz_seeds: ffmpeg could not make the AC-3 seed\n");
            std::exit(1);
        }
        return qxtest::ReadFile(path);
    };
    const Bytes disc = ac3("fuzzseed48.ac3", "48000"), other = ac3("fuzzseed44.ac3", "44100");
    const size_t frame = 768; // 192 kbit/s at 48 kHz
    auto record = [](Bytes* out, const Bytes& bytes, size_t from, size_t length, uint8_t code) {
        out->push_back(static_cast<uint8_t>(length & 0xFF));
        out->push_back(static_cast<uint8_t>(length >> 8));
        out->push_back(code);
        out->insert(out->end(), bytes.begin() + from, bytes.begin() + from + length);
    };
    Bytes timed, mixed;
    for (size_t i = 0; i < 4; ++i)
        record(&timed, disc, i * frame, frame, static_cast<uint8_t>(i == 3 ? 40 : i + 1));
    record(&mixed, disc, 0, 2 * frame, 0);
    record(&mixed, disc, 2 * frame, 100, 3);
    record(&mixed, disc, 2 * frame + 100, frame - 100, 0);
    record(&mixed, other, 0, std::min<size_t>(other.size(), 836), 5);
    Seed("ac3_frames", "timed_frames_and_a_gap", timed);
    Seed("ac3_frames", "packed_cut_and_foreign", mixed);
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: fuzz_seeds FOLDER\n");
        return 2;
    }
    g_out = argv[1];
    IniSeeds();
    WireSeeds();
    ScanSeeds();
    IfoSeeds();
    EncoderSeeds();
    LogSeeds();
    PrintableTextSeeds();
    Ac3Seeds();
    return 0;
}
