// Internal: the bytes on a message-window connection and the names of window sockets.
//
// A send is one connection: the sender writes a 32-byte request header and `size` bytes, then
// shuts its writing side; the receiver answers with a 16-byte reply after the handler ran and
// closes. All numbers are little-endian.
//   request: 0 "QXW1", 4 u32 target serial, 8 i32 sender pid, 12 u32 sender serial, 16 u64 dwData,
//            24 u32 size, 28 u32 zero
//   reply:   0 "QXR1", 4 u32 zero, 8 i64 result
#pragma once

#include "MessageWindow.h"

#include <cstdint>
#include <optional>
#include <string>
#include <sys/types.h>
#include <vector>

namespace qx::wire {

constexpr size_t kRequestHeaderSize = 32;
constexpr size_t kReplySize = 16;

struct RequestHeader {
    uint32_t targetSerial = 0;
    WindowHandle sender;
    uint64_t dwData = 0;
    uint32_t size = 0;
};

void EncodeRequestHeader(const RequestHeader& h, uint8_t out[kRequestHeaderSize]);
// Fails with a reason on a wrong magic, a non-zero reserved field or a size over kMaxCopyDataSize.
Result<RequestHeader> DecodeRequestHeader(const uint8_t in[kRequestHeaderSize]);

// Collects one request from the bytes of a connection: the header, exactly the announced payload,
// then end-of-file. Pure (no I/O), so the receiver's framing can be checked on its own: the
// dispatcher asks Wanted() bytes, passes what recv() returned to Add(), and calls End() when the
// peer has shut its writing side.
class RequestReader {
public:
    enum class State { Reading, Whole, Refused };

    // `serial`: the window the connection came to; `peerPid`: the connecting process.
    RequestReader(uint32_t serial, pid_t peerPid) : serial_(serial), peerPid_(peerPid) {}

    // Bytes to ask for next, at most `limit`: the rest of the header or of the payload; 1 once the
    // request is whole (any byte then is one too many, only end-of-file is expected).
    size_t Wanted(size_t limit) const;
    // Takes 1..Wanted() bytes. Refused on a bad header, another window's serial, a sender window
    // of another process, or bytes beyond the announced size.
    State Add(const uint8_t* data, size_t size);
    // End of the peer's data: Whole when the request is complete, Refused when it was cut short.
    State End();

    State state() const { return state_; }
    // Why the request was refused (empty otherwise).
    const std::string& refusal() const { return refusal_; }
    // Valid once the header is in (Reading with a header, or Whole).
    const std::optional<RequestHeader>& header() const { return header_; }
    // The message of a whole request.
    CopyDataMessage Message() const;

private:
    bool Complete() const { return header_ && buf_.size() == kRequestHeaderSize + header_->size; }
    State Refuse(std::string why);

    uint32_t serial_;
    pid_t peerPid_;
    State state_ = State::Reading;
    std::vector<uint8_t> buf_;
    std::optional<RequestHeader> header_;
    std::string refusal_;
};

// The whole exchange at once: the message of `size` bytes received by window `serial` from
// process `peerPid`, or why it is refused.
Result<CopyDataMessage> DecodeRequest(const uint8_t* data, size_t size, uint32_t serial, pid_t peerPid);

void EncodeReply(int64_t result, uint8_t out[kReplySize]);
std::optional<int64_t> DecodeReply(const uint8_t in[kReplySize]);

// "win-<pid>-<serial>.sock" and back; nullopt for any other name.
std::string SocketFileName(const WindowHandle& h);
std::optional<WindowHandle> ParseSocketFileName(const std::string& name);

} // namespace qx::wire
