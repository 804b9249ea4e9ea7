// A movie player for the preview screen, on libmpv. Pictures come from the software renderer into
// a QImage (so it also works without a display); sound goes to the first output that opens, or
// nowhere when the machine has none. Positions are in units of 100 ns. Every call is made on the
// thread that created the player; libmpv's notifications are carried onto that thread.
#pragma once

#include "Status.h"

#include <QImage>
#include <QObject>
#include <QSize>

#include <cstdint>
#include <memory>
#include <string>

struct mpv_handle;
struct mpv_render_context;
struct mpv_event;

namespace qx {

class PreviewPlayer : public QObject {
    Q_OBJECT
public:
    // What a trial load says about a file.
    enum class Playability {
        Playable,         // it opened and every picture and sound stream decodes
        NotOpened,        // no demuxer took it, or it holds no picture or sound stream
        VideoNotRendered, // a picture stream has no decoder
        AudioNotRendered, // a sound stream has no decoder
    };
    // Loads `path` into a throw-away player without any output and waits at most timeoutMs for
    // its streams to start decoding. `why` (optional) gets the reason when it is not playable.
    static Playability CheckPlayable(const std::string& path, int timeoutMs, std::string* why = nullptr);

    // A player with nothing loaded; null with `error` when libmpv could not start.
    static std::unique_ptr<PreviewPlayer> Create(std::string* error);
    ~PreviewPlayer() override;

    // Loads the file paused at its start; waits at most timeoutMs.
    Status Open(const std::string& path, int timeoutMs);
    bool HasVideo() const { return m_bHasVideo; }
    bool HasAudio() const { return m_bHasAudio; }
    // A picture or sound stream of the file that plays without a decoder (its track was dropped).
    bool HasUndecodedStream() const;
    // Whether absolute seeks work (libmpv's "seekable").
    bool CanSeek() const;

    // The calls below return 0 on success or libmpv's (negative) error code.
    int Run();
    int Pause();
    int Duration(int64_t* rt) const;
    int Position(int64_t* rt) const;
    // Exact seek to an absolute position; the paused/running state is kept.
    int Seek(int64_t rt);
    // Writes the frame on screen to `path` (the picture's own size); the call returns when written.
    int WriteStill(const std::string& path);
    bool Paused() const;

    // The last picture rendered, at RenderSize(), the movie letter-boxed on black; null before
    // the first picture.
    const QImage& Frame() const { return m_frame; }
    void SetRenderSize(QSize size);
    QSize RenderSize() const { return m_renderSize; }

    // Text of a libmpv error code.
    static std::string ErrorText(int code);

signals:
    // A new picture is in Frame().
    void frameChanged();
    // Playback reached the end of the movie (it stays loaded, paused on the last picture).
    void endOfFile();

private:
    struct Relay;
    PreviewPlayer() = default;
    void DrainEvents();
    // Notes what one event says; signals are left to DrainEvents, which runs on the event loop.
    void HandleEvent(const mpv_event* ev);
    void QueueDrain();
    void RenderFrame();
    void ReadTracks();

    mpv_handle* m_mpv = nullptr;
    mpv_render_context* m_render = nullptr;
    std::shared_ptr<Relay> m_relay;
    QImage m_frame;
    QSize m_renderSize{320, 240};
    bool m_bLoaded = false;
    bool m_bHasVideo = false;
    bool m_bHasAudio = false;
    bool m_bAtEnd = false;
    bool m_bEndPending = false; // the end was reached and not yet told
    // A seek in progress: positions read before it lands are its target.
    bool m_bSeekPending = false;
    int64_t m_rtSeekTarget = 0;
    int64_t m_nSeekStartMs = 0;
};

} // namespace qx
