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
class NoAuthoring : public AuthoringLink {
public:
    bool Author(const std::string&, const std::vector<AuthorTitle>&, bool, const std::function<void(int, int)>&,
                std::string* error) override {
        *error = "authoring engine not built";
        return false;
    }
};
}  // namespace

std::unique_ptr<EncoderLink> CreateEncoderLink(const std::string&) {
    return std::make_unique<NoEncoder>();
}
std::unique_ptr<AuthoringLink> CreateAuthoringLink() {
    return std::make_unique<NoAuthoring>();
}
