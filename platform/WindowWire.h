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

void EncodeReply(int64_t result, uint8_t out[kReplySize]);
std::optional<int64_t> DecodeReply(const uint8_t in[kReplySize]);

// "win-<pid>-<serial>.sock" and back; nullopt for any other name.
std::string SocketFileName(const WindowHandle& h);
std::optional<WindowHandle> ParseSocketFileName(const std::string& name);

} // namespace qx::wire
