#include "SubpictureRender.h"

#include <algorithm>
#include <cstring>
#include <memory>

extern "C" {
#include <ass/ass.h>
}

namespace qx::enc {
namespace {

int64_t FrameTicks(TvStandard tv) {
    return tv == TvStandard::Pal ? 3600 : 3003;
}

struct LibraryFree {
    void operator()(ASS_Library* l) const { ass_library_done(l); }
};
struct RendererFree {
    void operator()(ASS_Renderer* r) const { ass_renderer_done(r); }
};
struct TrackFree {
    void operator()(ASS_Track* t) const { ass_free_track(t); }
};

void QuietLibass(int level, const char* fmt, va_list args, void*) {
    (void)level;
    (void)fmt;
    (void)args;
}

// Crops a frame-sized plane of pixel values to what is not background; false when all is.
bool Crop(const std::vector<uint8_t>& plane, int planeWidth, int planeHeight, int offsetX, int offsetY,
          Subpicture* out) {
    int left = planeWidth, right = -1, top = planeHeight, bottom = -1;
    for (int y = 0; y < planeHeight; ++y)
        for (int x = 0; x < planeWidth; ++x)
            if (plane[static_cast<size_t>(y) * planeWidth + x] != SP_BACKGROUND) {
                left = std::min(left, x);
                right = std::max(right, x);
                top = std::min(top, y);
                bottom = std::max(bottom, y);
            }
    if (right < 0)
        return false;
    out->x = offsetX + left;
    out->y = offsetY + top;
    out->width = right - left + 1;
    out->height = bottom - top + 1;
    out->pixels.resize(static_cast<size_t>(out->width) * out->height);
    for (int y = 0; y < out->height; ++y)
        std::memcpy(&out->pixels[static_cast<size_t>(y) * out->width],
                    &plane[static_cast<size_t>(top + y) * planeWidth + left], static_cast<size_t>(out->width));
    return true;
}

// Adds a subpicture, joining it to the one before when it shows the same pixels from where that
// ends; long ones are cut in pieces a subpicture can time.
void Append(std::vector<Subpicture>* list, Subpicture sp) {
    if (!list->empty()) {
        Subpicture& last = list->back();
        if (last.end == sp.start && last.x == sp.x && last.y == sp.y && last.width == sp.width &&
            last.height == sp.height && last.pixels == sp.pixels && sp.end - last.start <= kMaxSubpictureTicks) {
            last.end = sp.end;
            return;
        }
    }
    while (sp.end - sp.start > kMaxSubpictureTicks) {
        Subpicture head = sp;
        head.end = sp.start + kMaxSubpictureTicks;
        sp.start = head.end;
        list->push_back(std::move(head));
    }
    list->push_back(std::move(sp));
}

// Clips a cue's frame-rounded times to the movie; false when nothing of it is left.
bool ClipToMovie(int64_t* start, int64_t* end, const SubpictureFrame& frame) {
    *start = std::max<int64_t>(0, *start);
    if (frame.movieSeconds > 0)
        *end = std::min(*end, TicksOnFrame(static_cast<int64_t>(frame.movieSeconds * 1000.0), frame.tv));
    return *end > *start;
}

} // namespace

int64_t TicksOnFrame(int64_t ms, TvStandard tv) {
    const int64_t f = FrameTicks(tv);
    const int64_t ticks = ms * 90;
    return (ticks >= 0 ? (ticks + f / 2) / f : -((-ticks + f / 2) / f)) * f;
}

SafeArea TitleSafeArea(TvStandard tv) {
    const int lines = FrameLines(tv);
    const int mx = 720 / 10, my = lines / 10;
    return {mx, my, 720 - 2 * mx, lines - 2 * my};
}

std::vector<Subpicture> RenderTextCues(const SubtitleCues& cues, const SubpictureFrame& frame,
                                       std::vector<std::string>* notes) {
    std::vector<Subpicture> out;
    if (cues.text.empty())
        return out;
    std::unique_ptr<ASS_Library, LibraryFree> library(ass_library_init());
    if (!library) {
        notes->push_back("libass cannot start: the subtitles are left out");
        return out;
    }
    ass_set_message_cb(library.get(), QuietLibass, nullptr);
    std::unique_ptr<ASS_Renderer, RendererFree> renderer(ass_renderer_init(library.get()));
    std::unique_ptr<ASS_Track, TrackFree> track(ass_new_track(library.get()));
    if (!renderer || !track) {
        notes->push_back("libass cannot start: the subtitles are left out");
        return out;
    }
    const SafeArea safe = TitleSafeArea(frame.tv);
    ass_set_frame_size(renderer.get(), safe.width, safe.height);
    ass_set_storage_size(renderer.get(), safe.width, safe.height);
    // The frame's pixels are not square: 720 of them span 4:3 or 16:9 of the screen, so each is
    // wider than tall and the glyphs are drawn narrower by as much (libass takes the inverse).
    const double display = frame.wide ? 16.0 / 9.0 : 4.0 / 3.0;
    const double pixelWidth = display / (720.0 / FrameLines(frame.tv));
    ass_set_pixel_aspect(renderer.get(), 1.0 / pixelWidth);
    ass_set_fonts(renderer.get(), nullptr, "sans-serif", ASS_FONTPROVIDER_AUTODETECT, nullptr, 1);
    std::string header = cues.assHeader;
    ass_process_codec_private(track.get(), header.data(), static_cast<int>(header.size()));

    // The times at which what is shown may change, on picture boundaries.
    std::vector<int64_t> bounds;
    size_t clipped = 0, dropped = 0;
    for (const TextCue& c : cues.text) {
        int64_t start = TicksOnFrame(c.startMs, frame.tv), end = TicksOnFrame(c.endMs, frame.tv);
        const int64_t rawEnd = end;
        if (!ClipToMovie(&start, &end, frame)) {
            ++dropped;
            continue;
        }
        if (end < rawEnd)
            ++clipped;
        std::string event = c.event;
        ass_process_chunk(track.get(), event.data(), static_cast<int>(event.size()), c.startMs,
                          std::max<int64_t>(1, c.endMs - c.startMs));
        bounds.push_back(start);
        bounds.push_back(end);
    }
    if (dropped)
        notes->push_back(std::to_string(dropped) + " cues outside the movie are left out");
    if (clipped)
        notes->push_back(std::to_string(clipped) + " cues running past the movie's end are cut there");
    std::sort(bounds.begin(), bounds.end());
    bounds.erase(std::unique(bounds.begin(), bounds.end()), bounds.end());

    // Coverage of the text and of its outline (and shadow) over the title-safe area; only the box
    // the images cover is looked at and cleared again.
    std::vector<uint8_t> text(static_cast<size_t>(safe.width) * safe.height);
    std::vector<uint8_t> outline(text.size());
    std::vector<uint8_t> plane;
    for (size_t i = 0; i + 1 < bounds.size(); ++i) {
        // Shown in the middle of the span: the cues that cover it, whatever their rounding.
        const int64_t at = (bounds[i] + bounds[i + 1]) / 2 / 90;
        int changed = 0;
        ASS_Image* first = ass_render_frame(renderer.get(), track.get(), at, &changed);
        int left = safe.width, top = safe.height, right = 0, bottom = 0; // box [left, right) x [top, bottom)
        for (ASS_Image* img = first; img; img = img->next) {
            std::vector<uint8_t>& target = img->type == ASS_Image::IMAGE_TYPE_CHARACTER ? text : outline;
            const unsigned opacity = 255 - (img->color & 0xFF);
            // Whatever lies outside the title-safe area is clipped.
            const int x0 = std::max(0, img->dst_x), x1 = std::min(safe.width, img->dst_x + img->w);
            const int y0 = std::max(0, img->dst_y), y1 = std::min(safe.height, img->dst_y + img->h);
            if (x0 >= x1 || y0 >= y1)
                continue;
            left = std::min(left, x0);
            right = std::max(right, x1);
            top = std::min(top, y0);
            bottom = std::max(bottom, y1);
            for (int py = y0; py < y1; ++py) {
                const unsigned char* row = img->bitmap + (py - img->dst_y) * img->stride - img->dst_x;
                uint8_t* t = &target[static_cast<size_t>(py) * safe.width];
                for (int px = x0; px < x1; ++px)
                    t[px] = static_cast<uint8_t>(std::max<unsigned>(t[px], row[px] * opacity / 255));
            }
        }
        if (left >= right)
            continue;
        const int bw = right - left, bh = bottom - top;
        plane.assign(static_cast<size_t>(bw) * bh, SP_BACKGROUND);
        for (int y = 0; y < bh; ++y) {
            uint8_t* t = &text[static_cast<size_t>(top + y) * safe.width + left];
            uint8_t* o = &outline[static_cast<size_t>(top + y) * safe.width + left];
            uint8_t* p = &plane[static_cast<size_t>(y) * bw];
            for (int x = 0; x < bw; ++x) {
                const unsigned tv = t[x], ov = o[x];
                p[x] = tv >= 160 ? SP_TEXT : tv >= 64 ? SP_EDGE : std::max(tv, ov) >= 96u ? SP_OUTLINE : SP_BACKGROUND;
                t[x] = o[x] = 0;
            }
        }
        Subpicture sp;
        sp.start = bounds[i];
        sp.end = bounds[i + 1];
        if (Crop(plane, bw, bh, safe.x + left, safe.y + top, &sp))
            Append(&out, std::move(sp));
    }
    return out;
}

std::vector<Subpicture> RenderPictureCues(const SubtitleCues& cues, const SubpictureFrame& frame,
                                          std::vector<std::string>* notes) {
    std::vector<Subpicture> out;
    const int lines = FrameLines(frame.tv);
    const int pw = std::clamp(frame.pictureWidth, 1, 720), ph = std::clamp(frame.pictureHeight, 1, lines);
    const int ox = (720 - pw) / 2, oy = (lines - ph) / 2;
    size_t dropped = 0;
    std::vector<uint8_t> plane(static_cast<size_t>(720) * lines);
    // In time order, whatever order the track brought them in.
    std::vector<const PictureCue*> order;
    for (const PictureCue& c : cues.pictures)
        order.push_back(&c);
    std::stable_sort(order.begin(), order.end(),
                     [](const PictureCue* a, const PictureCue* b) { return a->startMs < b->startMs; });
    for (const PictureCue* cue : order) {
        const PictureCue& c = *cue;
        int64_t start = TicksOnFrame(c.startMs, frame.tv), end = TicksOnFrame(c.endMs, frame.tv);
        if (c.canvasWidth <= 0 || c.canvasHeight <= 0 || !ClipToMovie(&start, &end, frame)) {
            ++dropped;
            continue;
        }
        std::fill(plane.begin(), plane.end(), 0);
        // The cue's canvas maps onto the active picture; each frame pixel takes its nearest source pixel.
        const int x0 = ox + static_cast<int>(static_cast<int64_t>(c.x) * pw / c.canvasWidth);
        const int x1 = ox + static_cast<int>(static_cast<int64_t>(c.x + c.width) * pw / c.canvasWidth);
        const int y0 = oy + static_cast<int>(static_cast<int64_t>(c.y) * ph / c.canvasHeight);
        const int y1 = oy + static_cast<int>(static_cast<int64_t>(c.y + c.height) * ph / c.canvasHeight);
        for (int y = std::max(0, y0); y < std::min(lines, y1); ++y) {
            const int sy = std::min(c.height - 1,
                                    static_cast<int>(static_cast<int64_t>(y - y0) * c.height / std::max(1, y1 - y0)));
            for (int x = std::max(0, x0); x < std::min(720, x1); ++x) {
                const int sx = std::min(
                    c.width - 1, static_cast<int>(static_cast<int64_t>(x - x0) * c.width / std::max(1, x1 - x0)));
                const uint32_t argb = c.argb[static_cast<size_t>(sy) * c.width + sx];
                const unsigned alpha = argb >> 24, r = (argb >> 16) & 0xFF, g = (argb >> 8) & 0xFF, b = argb & 0xFF;
                const unsigned luma = (r * 77 + g * 150 + b * 29) >> 8;
                plane[static_cast<size_t>(y) * 720 + x] = alpha < 128   ? SP_BACKGROUND
                                                          : luma >= 170 ? SP_TEXT
                                                          : luma < 85   ? SP_OUTLINE
                                                                        : SP_EDGE;
            }
        }
        Subpicture sp;
        sp.start = start;
        sp.end = end;
        if (Crop(plane, 720, lines, 0, 0, &sp)) {
            // A later cue replaces what is shown.
            if (!out.empty() && out.back().end > sp.start)
                out.back().end = sp.start;
            if (!out.empty() && out.back().end <= out.back().start)
                out.pop_back();
            Append(&out, std::move(sp));
        }
    }
    if (dropped)
        notes->push_back(std::to_string(dropped) + " picture cues outside the movie are left out");
    return out;
}

} // namespace qx::enc
