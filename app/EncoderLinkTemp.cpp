// Placeholder links until the encoder channel and the authoring engine entry are wired in.
#include "AppParts.h"

namespace {
class NoEncoder : public EncoderLink {
public:
    bool Start(std::string* error) override {
        *error = "encoder channel not built";
        return false;
    }
    void Kill() override {}
    bool HasWindow() const override { return false; }
    void SendProbe(const std::string&, const std::string&) override {}
    ProbeOutcome WaitProbe(ProbeAnswer*) override { return ProbeOutcome::Crashed; }
    void SendConvert(const CSourceInfo&, const ConvertJob&) override {}
    void SendStop() override {}
    ConvertWait WaitConvert(int) override { return ConvertWait::Crashed; }
};
}  // namespace

std::unique_ptr<EncoderLink> CreateEncoderLink(const std::string&) {
    return std::make_unique<NoEncoder>();
}
