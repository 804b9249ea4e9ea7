// Encoder answers: the input's first 4 bytes are the conversion's elapsed milliseconds the window
// reports, the rest is one copy-data record arriving at the main window's handler. Types 4 to 7 are
// the encoder's; a probe answer must be taken whole, progress must stay within 0..100 %, and the
// restart (of an encoder program that does not exist here) must fail cleanly.
#include "EncoderChannel.h"
#include "FuzzSupport.h"

#include <cstring>

namespace {

class Host : public qx::EncoderChannelHost {
public:
    void ShowEncoderStartError(const std::string& text) override {
        QX_FUZZ_CHECK(text == qx::kEncoderStartErrorText);
        ++startErrors;
    }
    void ShowEncoderProgress(int percent, const std::string& text) override {
        lastPercent = percent;
        lastText = text;
        ++progressCalls;
    }
    uint32_t ConvertElapsedMs() const override { return elapsedMs; }

    uint32_t elapsedMs = 0;
    int startErrors = 0;
    int progressCalls = 0;
    int lastPercent = -1;
    std::string lastText;
};

struct Channel {
    Channel() : channel(window, host, Options()) {
        qxfuzz::ScratchFolder(); // private runtime folder for the events
        qx::Status events = channel.CreateEvents();
        QX_FUZZ_CHECK(events.ok());
        // The channel keeps its handles; the names go at once, so no way of ending leaves them behind.
        for (const char* name :
             {qx::kEncoderInitEvent, qx::kEncoderProbeDoneEvent, qx::kEncoderConvertDoneEvent, qx::kEncoderErrorEvent})
            qx::NamedEvent::Remove(name);
    }
    static qx::EncoderChannelOptions Options() {
        qx::EncoderChannelOptions o;
        o.program = qxfuzz::ScratchFolder() + "/no-such-encoder";
        o.startTimeoutMs = 100;
        o.sendTimeoutMs = 100;
        return o;
    }
    qx::MessageWindow window; // never created: the channel only sends through it
    Host host;
    qx::EncoderChannel channel;
};

} // namespace

int QxFuzzEncoderReply(const uint8_t* data, size_t size) {
    if (size < 4)
        return 0;
    static Channel channel;
    Channel* c = &channel;
    std::memcpy(&c->host.elapsedMs, data, 4);
    qx::CopyDataMessage msg;
    msg.data.assign(data + 4, data + size);
    const int startErrors = c->host.startErrors, progressCalls = c->host.progressCalls;

    int32_t type = -1;
    if (msg.data.size() >= 4)
        std::memcpy(&type, msg.data.data(), 4);
    const bool handled = c->channel.OnCopyData(msg);
    const bool expected = (type == qx::ENC_PROBE_RESULT && msg.data.size() == qx::kEncoderRecordSize) ||
                          (type == qx::ENC_PROGRESS && msg.data.size() >= 16) || type == qx::ENC_CONVERT_DONE ||
                          type == qx::ENC_RESTART;
    QX_FUZZ_CHECK(handled == expected);
    if (!handled)
        return 0;

    switch (type) {
    case qx::ENC_PROBE_RESULT: {
        qx::EncoderRecord record = c->channel.Record();
        QX_FUZZ_CHECK(std::memcmp(record.data(), msg.data.data(), qx::kEncoderRecordSize) == 0);
        qx::EncoderProbeAnswer answer = qx::ReadProbeAnswer(record);
        const char* area = reinterpret_cast<const char*>(msg.data.data() + offsetof(qx::EncProbeResultRecord, path));
        const void* nul = std::memchr(area, 0, sizeof(qx::EncProbeResultRecord::path));
        QX_FUZZ_CHECK(answer.supported == (msg.data[8] != 0 && nul != nullptr));
        if (answer.supported)
            QX_FUZZ_CHECK(answer.path == std::string(area));
        break;
    }
    case qx::ENC_PROGRESS:
        QX_FUZZ_CHECK(c->host.progressCalls == progressCalls + 1);
        QX_FUZZ_CHECK(c->host.lastPercent >= 0 && c->host.lastPercent <= 100);
        QX_FUZZ_CHECK(!c->host.lastText.empty() && c->host.lastText.size() < 256);
        break;
    case qx::ENC_RESTART:
        QX_FUZZ_CHECK(c->host.startErrors == startErrors + 1);
        QX_FUZZ_CHECK(!c->channel.HasEncoderWindow());
        break;
    default:
        break;
    }
    return 0;
}
