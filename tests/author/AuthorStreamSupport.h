// Helpers for the authoring-engine tests: hand-built program-stream sectors, an in-memory file opener
// with injectable failures, log capture, temporary folders and ffmpeg-made fixtures.
#pragma once

#include "AuthorOutput.h"

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace qxtest {

using Bytes = std::vector<uint8_t>;
constexpr int kSector = 2048;

// --- Program-stream sectors (MPEG-2 pack header of 14 bytes, then one PES packet) ---

// A navigation pack: pack header, 18-byte system header, PCI at byte 38 and DSI at byte 1024. Without
// `pciDsi` the two private-stream-2 packets are replaced by one padding packet.
Bytes NavPack(uint32_t scr, bool pciDsi = true);
// One PES packet of `streamId` holding `payload`; the rest of the sector is a padding packet (or, when
// fewer than 6 bytes remain, stuffing in the PES header). pts/dts < 0 = absent.
Bytes PesSector(uint32_t scr, uint8_t streamId, const Bytes& payload, long long pts = -1, long long dts = -1);
// A sector that is only a padding packet after the pack header.
Bytes PaddingSector(uint32_t scr);
// Largest payload PesSector can take with the given timestamps.
int MaxPayload(bool pts, bool dts);

// --- Video elementary-stream pieces ---
Bytes SequenceHeader(int width, int height, int aspectCode, int frameRateCode);
Bytes SequenceExtension();
Bytes SequenceDisplayExtension(int videoFormat);
Bytes GopHeader();
Bytes PictureHeader(int temporalReference, int type);
Bytes PictureCodingExtension(int pictureStructure, bool repeatFirstField);
Bytes SequenceEnd();
Bytes Concat(std::initializer_list<Bytes> parts);

// --- Audio ---
// MPEG-1 layer II frame at 48 kHz: header FF FD, then zero bytes up to 3 * kbit/s (+ padding byte).
Bytes MpegAudioFrame(int bitrateIndex, bool padding = false);
// AC-3 sync frame start: 0B 77, CRC, fscod/frmsizecod, bsid/bsmod, then acmod and the following bits.
Bytes Ac3Frame(int fscod, int bsid, int acmod, int mixBits, int dsurmod, bool lfe);
// Private-stream-1 payload: substream id, frame count, first access unit pointer, then data.
Bytes PrivatePayload(uint8_t substream, int frames, int firstAccess, const Bytes& data);

// --- Timestamps, read and written independently of the engine (33-bit fields, top bit dropped) ---
uint32_t ScrOf(const uint8_t* sector);
void SetScr(uint8_t* sector, uint32_t scr);
long long PtsOf(const uint8_t* sector); // -1 without a PTS
long long DtsOf(const uint8_t* sector); // -1 without a DTS

// What the scanner should write for an input stream: sectors before the first navigation pack dropped,
// SCR, PTS and DTS moved back by the first navigation pack's SCR, an end code after a padding packet
// folded into the padding. Several sources are appended one after the other.
Bytes ExpectedVob(const Bytes& input);

// --- Files ---
class TempDir {
public:
    TempDir();
    ~TempDir();
    const std::string& path() const { return path_; }
    std::string file(const std::string& name) const { return path_ + "/" + name; }

private:
    std::string path_;
};
void WriteFile(const std::string& path, const Bytes& data);
Bytes ReadFile(const std::string& path);
Bytes Join(const std::vector<Bytes>& sectors);
int OpenDescriptors();

// In-memory output files. `writeBudget` bytes are accepted in total, then writes come up short;
// `failOpen` names a path whose opening fails; with `discard` only the sizes are kept.
class MemoryFiles : public AuthorFileOpener {
public:
    std::unique_ptr<AuthorWriter> Open(const std::string& path, AuthorOpenMode mode, std::string& error) override;
    std::map<std::string, Bytes> files;
    std::map<std::string, long long> sizes;
    long long writeBudget = -1;
    std::string failOpen;
    bool discard = false;
    std::vector<std::string> opened;
};

// --- Log capture: every AuthorLog text while alive ---
class LogCapture {
public:
    LogCapture();
    ~LogCapture();
    std::vector<std::string> lines;
    std::string all() const;
    int count(const std::string& needle) const;
};

// --- ffmpeg fixtures: made once per test program in a shared temporary folder ---
// Runs "ffmpeg -v error -y <args> <folder>/<name>" unless the file exists; returns its path or "".
std::string FfmpegFixture(const std::string& name, const std::string& args);

} // namespace qxtest
