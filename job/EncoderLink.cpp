// The encoder program behind a job: the encoder channel, answered through a message window that
// belongs to the thread that starts the encoder.
#include "JobParts.h"
#include "SubtitlePlan.h"

#include "AuthorLog.h"
#include "EncoderChannel.h"
#include "MessageWindow.h"

namespace {

class ChannelEncoder : public EncoderLink, public qx::EncoderChannelHost {
public:
    explicit ChannelEncoder(const std::string& program) {
        if (!program.empty()) {
            m_options.program = program;
        }
    }
    ~ChannelEncoder() override {
        m_channel.reset();
        m_window.Destroy();
    }

    bool Start(std::string* error) override {
        if (!m_channel) {
            const qx::Status created = m_window.Create([this](const qx::CopyDataMessage& msg) -> int64_t {
                return m_channel && m_channel->OnCopyData(msg) ? 1 : 0;
            });
            if (!created.ok()) {
                *error = created.error();
                return false;
            }
            m_channel = std::make_unique<qx::EncoderChannel>(m_window, *this, m_options);
            const qx::Status events = m_channel->CreateEvents();
            if (!events.ok()) {
                *error = events.error();
                m_channel.reset();
                return false;
            }
        }
        m_channel->KillEncoderProxy();
        if (m_channel->StartEncoderProxy() != 1) {
            *error = "the encoder program did not start";
            return false;
        }
        return true;
    }
    void Kill() override {
        if (m_channel) {
            m_channel->KillEncoderProxy();
        }
    }
    bool HasWindow() const override { return m_channel && m_channel->HasEncoderWindow(); }
    void SendProbe(const std::string& path, const std::string& workFolder) override {
        const qx::Status sent = m_channel->SendProbeRequest(path, workFolder);
        if (!sent.ok()) {
            AuthorLog(3, "probe request of %s: %s", path.c_str(), sent.error().c_str());
        }
    }
    ProbeWait WaitProbe(ProbeAnswer* answer) override {
        qx::EncoderProbeAnswer got;
        if (m_channel->WaitProbeAnswer(&got) == ProbeWait::Crashed) {
            return ProbeWait::Crashed;
        }
        *answer = got;
        return ProbeWait::Answered;
    }
    void SendConvert(const CSourceInfo& source, const qx::EncoderJob& job) override {
        qx::EncoderMovie movie{source.strPath, source.strVobFile, source.nWidth,  source.nHeight,
                               source.fAspect, source.nProbeA,    source.fProbeB, SubtitleStreamIds(source)};
        const qx::Status sent = m_channel->SendConvertRequest(movie, job);
        if (!sent.ok()) {
            AuthorLog(3, "conversion request of %s: %s", source.strPath.c_str(), sent.error().c_str());
        }
    }
    void SendStop() override { m_channel->SendStopRequest(); }
    ConvertWait WaitConvert(int timeoutMs) override { return m_channel->WaitConvertOutcome(timeoutMs); }

private:
    // The job shows the start failure itself (one message, whatever the cause).
    void ShowEncoderStartError(const std::string&) override {}
    void ShowEncoderProgress(int percent, const std::string& text) override {
        if (onProgress) {
            onProgress(percent, text);
        }
    }
    uint32_t ConvertElapsedMs() const override { return convertElapsedMs ? convertElapsedMs() : 0; }

    qx::EncoderChannelOptions m_options;
    qx::MessageWindow m_window;
    std::unique_ptr<qx::EncoderChannel> m_channel;
};

} // namespace

std::unique_ptr<EncoderLink> CreateEncoderLink(const std::string& program) {
    return std::make_unique<ChannelEncoder>(program);
}
