#include "WindowWire.h"

#include <algorithm>
#include <cstring>

namespace qx::wire {

namespace {

void Put32(uint8_t* p, uint32_t v) {
    for (int i = 0; i < 4; ++i)
        p[i] = static_cast<uint8_t>(v >> (8 * i));
}
void Put64(uint8_t* p, uint64_t v) {
    for (int i = 0; i < 8; ++i)
        p[i] = static_cast<uint8_t>(v >> (8 * i));
}
uint32_t Get32(const uint8_t* p) {
    uint32_t v = 0;
    for (int i = 3; i >= 0; --i)
        v = (v << 8) | p[i];
    return v;
}
uint64_t Get64(const uint8_t* p) {
    uint64_t v = 0;
    for (int i = 7; i >= 0; --i)
        v = (v << 8) | p[i];
    return v;
}

} // namespace

void EncodeRequestHeader(const RequestHeader& h, uint8_t out[kRequestHeaderSize]) {
    std::memcpy(out, "QXW1", 4);
    Put32(out + 4, h.targetSerial);
    Put32(out + 8, static_cast<uint32_t>(h.sender.pid));
    Put32(out + 12, h.sender.serial);
    Put64(out + 16, h.dwData);
    Put32(out + 24, h.size);
    Put32(out + 28, 0);
}

Result<RequestHeader> DecodeRequestHeader(const uint8_t in[kRequestHeaderSize]) {
    if (std::memcmp(in, "QXW1", 4) != 0)
        return Result<RequestHeader>::Fail("not a message-window request");
    if (Get32(in + 28) != 0)
        return Result<RequestHeader>::Fail("reserved field of the request is not zero");
    RequestHeader h;
    h.targetSerial = Get32(in + 4);
    h.sender.pid = static_cast<pid_t>(Get32(in + 8));
    h.sender.serial = Get32(in + 12);
    h.dwData = Get64(in + 16);
    h.size = Get32(in + 24);
    if (h.size > kMaxCopyDataSize)
        return Result<RequestHeader>::Fail("request announces " + std::to_string(h.size) + " bytes, more than " +
                                           std::to_string(kMaxCopyDataSize));
    if (h.sender.pid < 0)
        return Result<RequestHeader>::Fail("request names an invalid sender");
    return Result<RequestHeader>::Ok(h);
}

size_t RequestReader::Wanted(size_t limit) const {
    if (Complete())
        return 1;
    size_t total = header_ ? kRequestHeaderSize + header_->size : kRequestHeaderSize;
    return std::min(total - buf_.size(), limit);
}

RequestReader::State RequestReader::Refuse(std::string why) {
    state_ = State::Refused;
    refusal_ = std::move(why);
    buf_.clear();
    return state_;
}

RequestReader::State RequestReader::Add(const uint8_t* data, size_t size) {
    if (state_ != State::Reading)
        return state_;
    if (Complete())
        return Refuse("more bytes than the request announces");
    size_t total = header_ ? kRequestHeaderSize + header_->size : kRequestHeaderSize;
    if (size > total - buf_.size())
        return Refuse(header_ ? "more bytes than the request announces" : "header read past its end");
    buf_.insert(buf_.end(), data, data + size);
    if (!header_ && buf_.size() == kRequestHeaderSize) {
        Result<RequestHeader> h = DecodeRequestHeader(buf_.data());
        if (!h)
            return Refuse(h.error);
        if (h.value.targetSerial != serial_)
            return Refuse("request for another window");
        // The sender's window, if named, must belong to the connecting process.
        if (!h.value.sender.isNull() && h.value.sender.pid != peerPid_)
            return Refuse("request names a window of another process as its sender");
        header_ = h.value;
        buf_.reserve(kRequestHeaderSize + h.value.size);
    }
    return state_;
}

RequestReader::State RequestReader::End() {
    if (state_ != State::Reading)
        return state_;
    if (!Complete())
        return Refuse("request cut short"); // or a liveness probe
    state_ = State::Whole;
    return state_;
}

CopyDataMessage RequestReader::Message() const {
    CopyDataMessage msg;
    if (state_ != State::Whole)
        return msg;
    msg.sender = header_->sender;
    msg.dwData = header_->dwData;
    msg.data.assign(buf_.begin() + kRequestHeaderSize, buf_.end());
    return msg;
}

Result<CopyDataMessage> DecodeRequest(const uint8_t* data, size_t size, uint32_t serial, pid_t peerPid) {
    RequestReader reader(serial, peerPid);
    size_t done = 0;
    while (done < size && reader.state() == RequestReader::State::Reading) {
        size_t n = std::min(reader.Wanted(size - done), size - done);
        reader.Add(data + done, n);
        done += n;
    }
    if (reader.End() != RequestReader::State::Whole)
        return Result<CopyDataMessage>::Fail(reader.refusal());
    return Result<CopyDataMessage>::Ok(reader.Message());
}

void EncodeReply(int64_t result, uint8_t out[kReplySize]) {
    std::memcpy(out, "QXR1", 4);
    Put32(out + 4, 0);
    Put64(out + 8, static_cast<uint64_t>(result));
}

std::optional<int64_t> DecodeReply(const uint8_t in[kReplySize]) {
    if (std::memcmp(in, "QXR1", 4) != 0 || Get32(in + 4) != 0)
        return std::nullopt;
    return static_cast<int64_t>(Get64(in + 8));
}

std::string SocketFileName(const WindowHandle& h) {
    return "win-" + std::to_string(h.pid) + "-" + std::to_string(h.serial) + ".sock";
}

std::optional<WindowHandle> ParseSocketFileName(const std::string& name) {
    const std::string prefix = "win-", suffix = ".sock";
    if (name.size() <= prefix.size() + suffix.size() || name.compare(0, prefix.size(), prefix) != 0 ||
        name.compare(name.size() - suffix.size(), suffix.size(), suffix) != 0)
        return std::nullopt;
    std::string mid = name.substr(prefix.size(), name.size() - prefix.size() - suffix.size());
    size_t dash = mid.find('-');
    if (dash == std::string::npos || dash == 0 || dash + 1 == mid.size())
        return std::nullopt;
    auto number = [](const std::string& s, uint64_t max) -> std::optional<uint64_t> {
        if (s.empty() || s.size() > 10)
            return std::nullopt;
        uint64_t v = 0;
        for (char c : s) {
            if (c < '0' || c > '9')
                return std::nullopt;
            v = v * 10 + static_cast<uint64_t>(c - '0');
        }
        if (v > max || (s.size() > 1 && s[0] == '0'))
            return std::nullopt;
        return v;
    };
    auto pid = number(mid.substr(0, dash), 0x7fffffff);
    auto serial = number(mid.substr(dash + 1), 0xffffffff);
    if (!pid || !serial || *pid == 0)
        return std::nullopt;
    WindowHandle h;
    h.pid = static_cast<pid_t>(*pid);
    h.serial = static_cast<uint32_t>(*serial);
    return h;
}

} // namespace qx::wire
