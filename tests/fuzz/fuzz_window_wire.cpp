// Message-window wire records: the input's first byte chooses how the bytes arrive in pieces, the
// rest is what a peer sent to window 1 from process 4242. The request is framed whole and piece by
// piece (the two must agree), an accepted request must encode back to exactly the bytes received,
// and the reply decoder and the socket-name parser get the same bytes.
#include "FuzzSupport.h"
#include "WindowWire.h"

#include <algorithm>
#include <string>

namespace {

constexpr uint32_t kSerial = 1;
constexpr pid_t kPeer = 4242;

} // namespace

int QxFuzzWindowWire(const uint8_t* data, size_t size) {
    if (size == 0)
        return 0;
    const uint8_t pieces = data[0];
    const uint8_t* bytes = data + 1;
    const size_t n = size - 1;

    qx::Result<qx::CopyDataMessage> whole = qx::wire::DecodeRequest(bytes, n, kSerial, kPeer);

    // The same bytes as a socket hands them over: pieces of varying length, never more than wanted.
    qx::wire::RequestReader reader(kSerial, kPeer);
    size_t done = 0;
    for (unsigned step = 0; done < n && reader.state() == qx::wire::RequestReader::State::Reading; ++step) {
        size_t piece = 1 + (pieces * (step + 1) * 7919u) % 61;
        size_t take = std::min({piece, reader.Wanted(piece), n - done});
        QX_FUZZ_CHECK(take >= 1);
        reader.Add(bytes + done, take);
        done += take;
    }
    bool framed = reader.End() == qx::wire::RequestReader::State::Whole;
    QX_FUZZ_CHECK(framed == whole.ok());
    QX_FUZZ_CHECK(framed || !reader.refusal().empty());
    if (framed) {
        qx::CopyDataMessage m = reader.Message();
        QX_FUZZ_CHECK(m.data == whole.value.data && m.dwData == whole.value.dwData && m.sender == whole.value.sender);
        QX_FUZZ_CHECK(m.data.size() <= qx::kMaxCopyDataSize);
        QX_FUZZ_CHECK(m.sender.isNull() || m.sender.pid == kPeer);
        qx::wire::RequestHeader h = *reader.header();
        QX_FUZZ_CHECK(h.targetSerial == kSerial && h.size == m.data.size());
        uint8_t raw[qx::wire::kRequestHeaderSize];
        qx::wire::EncodeRequestHeader(h, raw);
        QX_FUZZ_CHECK(n == sizeof raw + m.data.size());
        QX_FUZZ_CHECK(std::equal(raw, raw + sizeof raw, bytes));
        QX_FUZZ_CHECK(std::equal(m.data.begin(), m.data.end(), bytes + sizeof raw));
    }

    if (n >= qx::wire::kReplySize) {
        std::optional<int64_t> reply = qx::wire::DecodeReply(bytes);
        if (reply) {
            uint8_t raw[qx::wire::kReplySize];
            qx::wire::EncodeReply(*reply, raw);
            QX_FUZZ_CHECK(std::equal(raw, raw + sizeof raw, bytes));
        }
    }

    const std::string name(reinterpret_cast<const char*>(bytes), n);
    std::optional<qx::WindowHandle> handle = qx::wire::ParseSocketFileName(name);
    if (handle) {
        QX_FUZZ_CHECK(!handle->isNull());
        QX_FUZZ_CHECK(qx::wire::SocketFileName(*handle) == name);
    }
    return 0;
}
