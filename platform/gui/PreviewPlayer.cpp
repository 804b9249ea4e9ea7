#include "PreviewPlayer.h"

#include <mpv/client.h>
#include <mpv/render.h>

#include <QDateTime>
#include <QElapsedTimer>
#include <QMetaObject>

#include <atomic>
#include <clocale>
#include <cmath>
#include <cstring>
#include <mutex>

namespace qx {

// Carries libmpv's notifications (made on its own threads) onto the player's thread. It outlives
// the handle, and the player detaches it first, so a late notification never reaches a dead player.
struct PreviewPlayer::Relay {
    std::mutex mutex;
    PreviewPlayer* target = nullptr;
    std::atomic<bool> eventsQueued{false};
    std::atomic<bool> renderQueued{false};
    std::atomic<bool> renderWanted{false};

    static void Wakeup(void* self) {
        auto* r = static_cast<Relay*>(self);
        std::lock_guard<std::mutex> lock(r->mutex);
        if (r->target && !r->eventsQueued.exchange(true)) {
            PreviewPlayer* t = r->target;
            QMetaObject::invokeMethod(
                t, [t] { t->DrainEvents(); }, Qt::QueuedConnection);
        }
    }
    static void Update(void* self) {
        auto* r = static_cast<Relay*>(self);
        r->renderWanted = true;
        std::lock_guard<std::mutex> lock(r->mutex);
        if (r->target && !r->renderQueued.exchange(true)) {
            PreviewPlayer* t = r->target;
            QMetaObject::invokeMethod(
                t, [t] { t->RenderFrame(); }, Qt::QueuedConnection);
        }
    }
};

namespace {

constexpr double kUnitsPerSecond = 10000000.0; // 100-ns units

// libmpv refuses to start unless numbers are formatted the C way; the application object sets
// the locale from the environment, so this runs after it exists.
void UseCNumbers() {
    std::setlocale(LC_NUMERIC, "C");
}

void SetOptions(mpv_handle* h, const std::initializer_list<std::pair<const char*, const char*>>& options) {
    for (const auto& option : options) {
        mpv_set_option_string(h, option.first, option.second);
    }
}

// Options every player shares: no configuration, scripts or key bindings of the user's own mpv.
void SetCommonOptions(mpv_handle* h) {
    SetOptions(h, {{"config", "no"},
                   {"terminal", "no"},
                   {"input-default-bindings", "no"},
                   {"input-vo-keyboard", "no"},
                   {"osc", "no"},
                   {"load-scripts", "no"},
                   {"ytdl", "no"},
                   {"hwdec", "no"},
                   {"sub-auto", "no"},
                   {"audio-file-auto", "no"},
                   {"cover-art-auto", "no"},
                   {"pause", "yes"},
                   {"idle", "yes"},
                   {"keep-open", "yes"},
                   {"hr-seek", "yes"},
                   {"osd-level", "0"}});
}

struct TrackCounts {
    int video = 0, audio = 0;                 // streams in the file
    int videoSelected = 0, audioSelected = 0; // streams that play
};

TrackCounts CountTracks(mpv_handle* h) {
    TrackCounts counts;
    mpv_node list;
    if (mpv_get_property(h, "track-list", MPV_FORMAT_NODE, &list) < 0) {
        return counts;
    }
    if (list.format == MPV_FORMAT_NODE_ARRAY) {
        for (int i = 0; i < list.u.list->num; ++i) {
            const mpv_node& track = list.u.list->values[i];
            if (track.format != MPV_FORMAT_NODE_MAP) {
                continue;
            }
            std::string type;
            bool selected = false;
            for (int k = 0; k < track.u.list->num; ++k) {
                const char* key = track.u.list->keys[k];
                const mpv_node& value = track.u.list->values[k];
                if (std::strcmp(key, "type") == 0 && value.format == MPV_FORMAT_STRING) {
                    type = value.u.string;
                } else if (std::strcmp(key, "selected") == 0 && value.format == MPV_FORMAT_FLAG) {
                    selected = value.u.flag != 0;
                }
            }
            if (type == "video") {
                ++counts.video;
                counts.videoSelected += selected;
            } else if (type == "audio") {
                ++counts.audio;
                counts.audioSelected += selected;
            }
        }
    }
    mpv_free_node_contents(&list);
    return counts;
}

int Command(mpv_handle* h, std::initializer_list<const char*> args) {
    const char* argv[8] = {};
    int i = 0;
    for (const char* a : args) {
        if (i < 7) {
            argv[i++] = a;
        }
    }
    return mpv_command(h, argv);
}

int64_t ToUnits(double seconds) {
    return static_cast<int64_t>(std::llround(seconds * kUnitsPerSecond));
}

} // namespace

std::string PreviewPlayer::ErrorText(int code) {
    return mpv_error_string(code);
}

PreviewPlayer::Playability PreviewPlayer::CheckPlayable(const std::string& path, int timeoutMs, std::string* why) {
    auto fail = [why](Playability p, const std::string& text) {
        if (why) {
            *why = text;
        }
        return p;
    };
    UseCNumbers();
    mpv_handle* h = mpv_create();
    if (!h) {
        return fail(Playability::NotOpened, "libmpv could not be created");
    }
    SetCommonOptions(h);
    SetOptions(h, {{"vo", "null"}, {"ao", "null"}});
    if (mpv_initialize(h) < 0) {
        mpv_terminate_destroy(h);
        return fail(Playability::NotOpened, "libmpv could not be started");
    }
    Command(h, {"loadfile", path.c_str(), "replace"});
    bool loaded = false, started = false, ended = false;
    std::string endText = "timed out";
    QElapsedTimer clock;
    clock.start();
    while (!started && !ended) {
        const qint64 left = timeoutMs - clock.elapsed();
        if (left <= 0) {
            break;
        }
        mpv_event* ev = mpv_wait_event(h, static_cast<double>(left) / 1000.0);
        switch (ev->event_id) {
        case MPV_EVENT_FILE_LOADED:
            loaded = true;
            break;
        case MPV_EVENT_PLAYBACK_RESTART:
            started = loaded;
            break;
        case MPV_EVENT_END_FILE: {
            const auto* end = static_cast<mpv_event_end_file*>(ev->data);
            ended = true;
            endText = end->reason == MPV_END_FILE_REASON_ERROR ? mpv_error_string(end->error) : "ended";
            break;
        }
        default:
            break;
        }
    }
    const TrackCounts tracks = loaded ? CountTracks(h) : TrackCounts{};
    mpv_terminate_destroy(h);
    if (!loaded) {
        return fail(Playability::NotOpened, endText);
    }
    if (tracks.video + tracks.audio == 0) {
        return fail(Playability::NotOpened, "no picture or sound stream");
    }
    if (tracks.video > 0 && tracks.videoSelected == 0) {
        return fail(Playability::VideoNotRendered, "no decoder for the picture");
    }
    if (tracks.audio > 0 && tracks.audioSelected == 0) {
        return fail(Playability::AudioNotRendered, "no decoder for the sound");
    }
    return Playability::Playable;
}

std::unique_ptr<PreviewPlayer> PreviewPlayer::Create(std::string* error) {
    UseCNumbers();
    std::unique_ptr<PreviewPlayer> player(new PreviewPlayer);
    player->m_relay = std::make_shared<Relay>();
    player->m_relay->target = player.get();
    mpv_handle* h = mpv_create();
    if (!h) {
        if (error) {
            *error = "libmpv could not be created";
        }
        return nullptr;
    }
    player->m_mpv = h;
    SetCommonOptions(h);
    // Sound goes to the first output that opens; a machine without one plays the picture alone.
    SetOptions(h, {{"vo", "libmpv"},
                   {"ao", "pipewire,pulse,alsa,null"},
                   {"audio-client-name", "QX Movie Disc"},
                   {"screenshot-format", "png"}});
    int rc = mpv_initialize(h);
    if (rc >= 0) {
        mpv_observe_property(h, 0, "eof-reached", MPV_FORMAT_FLAG);
        mpv_render_param params[] = {{MPV_RENDER_PARAM_API_TYPE, const_cast<char*>(MPV_RENDER_API_TYPE_SW)},
                                     {MPV_RENDER_PARAM_INVALID, nullptr}};
        rc = mpv_render_context_create(&player->m_render, h, params);
    }
    if (rc < 0) {
        if (error) {
            *error = std::string("libmpv could not be started: ") + mpv_error_string(rc);
        }
        return nullptr;
    }
    mpv_set_wakeup_callback(h, &Relay::Wakeup, player->m_relay.get());
    mpv_render_context_set_update_callback(player->m_render, &Relay::Update, player->m_relay.get());
    return player;
}

PreviewPlayer::~PreviewPlayer() {
    if (m_relay) {
        std::lock_guard<std::mutex> lock(m_relay->mutex);
        m_relay->target = nullptr;
    }
    // The render context must go before the core it belongs to.
    if (m_render) {
        mpv_render_context_set_update_callback(m_render, nullptr, nullptr);
        mpv_render_context_free(m_render);
    }
    if (m_mpv) {
        mpv_set_wakeup_callback(m_mpv, nullptr, nullptr);
        mpv_terminate_destroy(m_mpv);
    }
}

Status PreviewPlayer::Open(const std::string& path, int timeoutMs) {
    m_bLoaded = m_bHasVideo = m_bHasAudio = m_bAtEnd = m_bEndPending = m_bSeekPending = false;
    m_frame = QImage();
    Pause(); // a new file starts paused at its beginning
    const int rc = Command(m_mpv, {"loadfile", path.c_str(), "replace"});
    if (rc < 0) {
        return Status::Fail(mpv_error_string(rc));
    }
    // Events seen here are handled as usual; signals wait for the next drain on the event loop.
    std::string failure;
    QElapsedTimer clock;
    clock.start();
    while (!m_bLoaded && failure.empty()) {
        const qint64 left = timeoutMs - clock.elapsed();
        if (left <= 0) {
            failure = "timed out loading " + path;
            break;
        }
        mpv_event* ev = mpv_wait_event(m_mpv, static_cast<double>(left) / 1000.0);
        HandleEvent(ev);
        if (ev->event_id == MPV_EVENT_FILE_LOADED) {
            m_bLoaded = true;
        } else if (ev->event_id == MPV_EVENT_END_FILE) {
            const auto* end = static_cast<mpv_event_end_file*>(ev->data);
            if (end->reason == MPV_END_FILE_REASON_ERROR) {
                failure = mpv_error_string(end->error);
            }
        }
    }
    if (!m_bLoaded) {
        Command(m_mpv, {"stop"});
        return Status::Fail(failure);
    }
    QueueDrain();
    const TrackCounts tracks = CountTracks(m_mpv);
    m_bHasVideo = tracks.videoSelected > 0;
    m_bHasAudio = tracks.audioSelected > 0;
    return Status::Ok();
}

bool PreviewPlayer::HasUndecodedStream() const {
    if (!m_bLoaded) {
        return false;
    }
    const TrackCounts tracks = CountTracks(m_mpv);
    return (tracks.video > 0 && tracks.videoSelected == 0) || (tracks.audio > 0 && tracks.audioSelected == 0);
}

bool PreviewPlayer::CanSeek() const {
    int flag = 0;
    return m_bLoaded && mpv_get_property(m_mpv, "seekable", MPV_FORMAT_FLAG, &flag) >= 0 && flag != 0;
}

int PreviewPlayer::Run() {
    int no = 0;
    return mpv_set_property(m_mpv, "pause", MPV_FORMAT_FLAG, &no);
}

int PreviewPlayer::Pause() {
    int yes = 1;
    return mpv_set_property(m_mpv, "pause", MPV_FORMAT_FLAG, &yes);
}

bool PreviewPlayer::Paused() const {
    int flag = 1;
    mpv_get_property(m_mpv, "pause", MPV_FORMAT_FLAG, &flag);
    return flag != 0;
}

int PreviewPlayer::Duration(int64_t* rt) const {
    double seconds = 0;
    const int rc = mpv_get_property(m_mpv, "duration", MPV_FORMAT_DOUBLE, &seconds);
    if (rc >= 0) {
        *rt = ToUnits(seconds);
    }
    return rc < 0 ? rc : 0;
}

int PreviewPlayer::Position(int64_t* rt) const {
    // libmpv reports the old position until a seek has landed; whoever asked for the seek expects
    // the new one (a late landing is ignored after a few seconds).
    if (m_bSeekPending && QDateTime::currentMSecsSinceEpoch() - m_nSeekStartMs < 3000) {
        *rt = m_rtSeekTarget;
        return 0;
    }
    double seconds = 0;
    const int rc = mpv_get_property(m_mpv, "time-pos", MPV_FORMAT_DOUBLE, &seconds);
    if (rc >= 0) {
        *rt = ToUnits(seconds < 0 ? 0 : seconds);
    }
    return rc < 0 ? rc : 0;
}

int PreviewPlayer::Seek(int64_t rt) {
    const std::string seconds = std::to_string(static_cast<double>(rt) / kUnitsPerSecond);
    const int rc = Command(m_mpv, {"seek", seconds.c_str(), "absolute+exact"});
    if (rc < 0) {
        return rc;
    }
    m_bSeekPending = true;
    m_rtSeekTarget = rt;
    m_nSeekStartMs = QDateTime::currentMSecsSinceEpoch();
    return 0;
}

int PreviewPlayer::WriteStill(const std::string& path) {
    // A seek that is still under way would give the frame before it: let it finish (bounded),
    // rendering meanwhile, since the video output waits for its frame to be taken.
    QElapsedTimer clock;
    clock.start();
    while (m_bSeekPending && clock.elapsed() < 2000) {
        m_relay->renderWanted = true;
        RenderFrame();
        HandleEvent(mpv_wait_event(m_mpv, 0.01));
    }
    QueueDrain();
    const int rc = Command(m_mpv, {"screenshot-to-file", path.c_str(), "video"});
    if (rc < 0) {
        return rc;
    }
    // libmpv writes no bitmap format of its own: turn what it wrote into one under the same name.
    QImage still(QString::fromStdString(path));
    if (still.isNull() || !still.save(QString::fromStdString(path), "BMP")) {
        return MPV_ERROR_GENERIC;
    }
    return 0;
}

void PreviewPlayer::SetRenderSize(QSize size) {
    if (size.width() > 0 && size.height() > 0) {
        m_renderSize = size;
    }
}

void PreviewPlayer::HandleEvent(const mpv_event* ev) {
    switch (ev->event_id) {
    case MPV_EVENT_PROPERTY_CHANGE: {
        const auto* prop = static_cast<const mpv_event_property*>(ev->data);
        if (std::strcmp(prop->name, "eof-reached") == 0 && prop->format == MPV_FORMAT_FLAG) {
            const bool atEnd = *static_cast<int*>(prop->data) != 0;
            m_bEndPending = m_bEndPending || (atEnd && !m_bAtEnd);
            m_bAtEnd = atEnd;
        }
        break;
    }
    case MPV_EVENT_PLAYBACK_RESTART:
    case MPV_EVENT_END_FILE:
        m_bSeekPending = false;
        break;
    default:
        break;
    }
}

void PreviewPlayer::QueueDrain() {
    if (!m_relay->eventsQueued.exchange(true)) {
        QMetaObject::invokeMethod(
            this, [this] { DrainEvents(); }, Qt::QueuedConnection);
    }
}

void PreviewPlayer::DrainEvents() {
    m_relay->eventsQueued = false;
    for (;;) {
        mpv_event* ev = mpv_wait_event(m_mpv, 0);
        if (ev->event_id == MPV_EVENT_NONE) {
            break;
        }
        HandleEvent(ev);
    }
    if (m_bEndPending) {
        m_bEndPending = false;
        emit endOfFile();
    }
}

void PreviewPlayer::RenderFrame() {
    m_relay->renderQueued = false;
    if (!m_render || !m_relay->renderWanted.exchange(false)) {
        return;
    }
    const uint64_t flags = mpv_render_context_update(m_render);
    if (!(flags & MPV_RENDER_UPDATE_FRAME)) {
        return;
    }
    QImage image(m_renderSize, QImage::Format_RGB32);
    int size[2] = {image.width(), image.height()};
    size_t stride = static_cast<size_t>(image.bytesPerLine());
    char format[] = "bgr0";
    mpv_render_param params[] = {{MPV_RENDER_PARAM_SW_SIZE, size},
                                 {MPV_RENDER_PARAM_SW_FORMAT, format},
                                 {MPV_RENDER_PARAM_SW_STRIDE, &stride},
                                 {MPV_RENDER_PARAM_SW_POINTER, image.bits()},
                                 {MPV_RENDER_PARAM_INVALID, nullptr}};
    if (mpv_render_context_render(m_render, params) < 0) {
        return;
    }
    // The fourth byte is left undefined by the renderer; the image format wants it opaque.
    for (int y = 0; y < image.height(); ++y) {
        auto* line = reinterpret_cast<uint32_t*>(image.scanLine(y));
        for (int x = 0; x < image.width(); ++x) {
            line[x] |= 0xff000000u;
        }
    }
    m_frame = std::move(image);
    emit frameChanged();
}

} // namespace qx
