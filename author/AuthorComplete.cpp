// Completing a group's attribute record after its scan: defaults, audio stream matching, subpicture
// binding and the summary lines.
#include "AuthorLog.h"
#include "ProgramChain.h"

#include <algorithm>
#include <string>

namespace {

bool channelPresent(const PgcGroup& group, int channel) {
    for (const auto& source : group.sources)
        if (!source->channels[channel].entries.empty())
            return true;
    return false;
}

// The channel's values over the group's sources: the first source that set a value decides.
AuthorAudioValues channelValues(const PgcGroup& group, int channel) {
    AuthorAudioValues merged;
    for (const auto& source : group.sources) {
        const AuthorAudioValues& v = source->channels[channel].values;
        if (merged.quantization == 0)
            merged.quantization = v.quantization;
        if (merged.surround == 0)
            merged.surround = v.surround;
        if (merged.channels == 0)
            merged.channels = v.channels;
        if (merged.samplingRate == 0)
            merged.samplingRate = v.samplingRate;
    }
    return merged;
}

// Number of values equal in both where both are set, or -1 when a value set in both differs.
int matchScore(const AuthorAudioStream& slot, int format, const AuthorAudioValues& v) {
    const int pairs[5][2] = {{slot.format, format},
                             {slot.values.quantization, v.quantization},
                             {slot.values.surround, v.surround},
                             {slot.values.channels, v.channels},
                             {slot.values.samplingRate, v.samplingRate}};
    int score = 0;
    for (const auto& pair : pairs) {
        if (pair[0] == 0 || pair[1] == 0)
            continue;
        if (pair[0] != pair[1])
            return -1;
        ++score;
    }
    return score;
}

bool audioBound(const AuthorAttributes& a, int format, int streamNumber) {
    for (int i = 0; i < a.numAudio; ++i)
        if (a.audio[i].streamNumber == streamNumber && a.audio[i].format == format)
            return true;
    return false;
}

void matchAudioStreams(AuthorAttributes& a, const PgcGroup& group) {
    for (int stream = 1; stream <= 8; ++stream) {
        for (int format = AUDIO_AC3; format <= AUDIO_DTS; ++format) {
            int channel = AuthorAudioChannel(format, stream);
            if (!channelPresent(group, channel) || audioBound(a, format, stream))
                continue;
            AuthorAudioValues values = channelValues(group, channel);
            int best = -1;
            int bestScore = -1;
            for (int i = 0; i < a.numAudio; ++i) {
                if (a.audio[i].streamNumber != 0)
                    continue;
                int score = matchScore(a.audio[i], format, values);
                if (score > bestScore) {
                    best = i;
                    bestScore = score;
                }
            }
            if (best < 0) {
                if (a.numAudio >= AUTHOR_MAX_AUDIO) {
                    AuthorLog(AUTHOR_LOG_WARN, "WARN: More than %d audio streams; audio channel %d is not used\n",
                              AUTHOR_MAX_AUDIO, channel);
                    continue;
                }
                best = a.numAudio++;
            }
            AuthorAudioStream& slot = a.audio[best];
            AuthorMergeAttr(slot.format, format, slot.lastFormat, ATTR_AUDIO_FORMAT);
            slot.streamNumber = stream;
            AuthorAudioValues& s = slot.values;
            if (values.quantization)
                AuthorMergeAttr(s.quantization, values.quantization, s.lastQuantization, ATTR_QUANTIZATION);
            if (values.surround)
                AuthorMergeAttr(s.surround, values.surround, s.lastSurround, ATTR_SURROUND);
            if (values.channels)
                AuthorMergeAttr(s.channels, values.channels, s.lastChannels, ATTR_CHANNELS);
            if (values.samplingRate)
                AuthorMergeAttr(s.samplingRate, values.samplingRate, s.lastSamplingRate, ATTR_SAMPLING_RATE);
        }
    }
}

void audioDefaults(AuthorAttributes& a) {
    for (int i = 0; i < a.numAudio; ++i) {
        AuthorAudioStream& s = a.audio[i];
        if (s.format == 0) {
            AuthorLog(AUTHOR_LOG_WARN, "WARN: audio stream %d was not autodetected\n", i);
            s.format = AUDIO_MP2;
        }
        int quantization = QUANT_DRC;
        int channels = 6;
        if (s.format == AUDIO_MP2) {
            quantization = QUANT_20;
            channels = 2;
        } else if (s.format == AUDIO_PCM) {
            quantization = QUANT_16;
            channels = 2;
        }
        if (s.values.quantization == 0)
            s.values.quantization = quantization;
        if (s.values.channels == 0)
            s.values.channels = channels;
        if (s.values.samplingRate == 0)
            s.values.samplingRate = SAMPLING_48K;
    }
}

void bindSubpictures(AuthorAttributes& a, const PgcGroup& group) {
    if (!group.subpictureMaps.empty()) {
        // Streams offered as a whole: one slot each, synchronised on its wide (or only) picture.
        a.numSubpicture = static_cast<int>(std::min<size_t>(group.subpictureMaps.size(), AUTHOR_MAX_SUBPICTURE));
        for (int j = 0; j < a.numSubpicture; ++j)
            a.subpicture[j].streamNumber = group.subpictureMaps[j].wide + 1;
        return;
    }
    for (int channel = AUTHOR_FIRST_SUBPICTURE_CHANNEL; channel < AUTHOR_CHANNELS; ++channel) {
        if (!channelPresent(group, channel))
            continue;
        int stream = channel - 31;
        bool bound = false;
        for (int j = 0; j < a.numSubpicture && !bound; ++j)
            bound = a.subpicture[j].streamNumber == stream;
        if (bound)
            continue;
        int slot = -1;
        for (int j = 0; j < a.numSubpicture && slot < 0; ++j)
            if (a.subpicture[j].streamNumber == 0)
                slot = j;
        if (slot < 0)
            slot = a.numSubpicture++; // 32 channels fit the 32 slots
        a.subpicture[slot].streamNumber = stream;
    }
}

void summary(const AuthorAttributes& a, int groupKind) {
    const AuthorVideoAttributes& v = a.video;
    AuthorLog(AUTHOR_LOG_WARN, "INFO: Generating %s with the following video attributes:\n",
              AuthorGroupName(groupKind));
    AuthorLog(AUTHOR_LOG_WARN, "INFO: MPEG version: %s\n", AuthorAttrName(ATTR_MPEG_FORMAT, v.mpegFormat));
    AuthorLog(AUTHOR_LOG_WARN, "INFO: TV standard: %s\n", AuthorAttrName(ATTR_TV_FORMAT, v.tvFormat));
    AuthorLog(AUTHOR_LOG_WARN, "INFO: Aspect ratio: %s\n", AuthorAttrName(ATTR_ASPECT, v.aspect));
    AuthorLog(AUTHOR_LOG_WARN, "INFO: Resolution: %dx%d\n", AuthorResolutionWidth(v), AuthorResolutionHeight(v));
    for (int i = 0; i < a.numAudio; ++i) {
        const AuthorAudioStream& s = a.audio[i];
        std::string line = "INFO: Audio ch " + std::to_string(i) +
                           " format: " + AuthorAttrName(ATTR_AUDIO_FORMAT, s.format) + "/" +
                           AuthorAttrName(ATTR_CHANNELS, s.values.channels) + ", " +
                           AuthorAttrName(ATTR_SAMPLING_RATE, s.values.samplingRate) + " " +
                           AuthorAttrName(ATTR_QUANTIZATION, s.values.quantization);
        if (s.values.surround)
            line += ", surround";
        if (s.languageType == LANG_SET) {
            line += ", '";
            line += s.language[0];
            line += s.language[1];
            line += "'";
        }
        line += "\n";
        AuthorLog(AUTHOR_LOG_WARN, "%s", line.c_str());
        if (s.streamNumber == 0)
            AuthorLog(AUTHOR_LOG_WARN, "WARN: Audio ch %d is not used!\n", i);
    }
}

} // namespace

void AuthorCompleteAttributes(AuthorAttributes& a, const PgcGroup& group, int groupKind) {
    AuthorVideoAttributes& v = a.video;
    if (v.mpegFormat == 0)
        AuthorLog(AUTHOR_LOG_WARN, "WARN: video mpeg version was not autodetected\n");
    if (v.resolution == 0)
        AuthorLog(AUTHOR_LOG_WARN, "WARN: video resolution was not autodetected\n");
    if (v.tvFormat == 0)
        AuthorLog(AUTHOR_LOG_WARN, "WARN: video format was not autodetected\n");
    if (v.aspect == 0)
        AuthorLog(AUTHOR_LOG_WARN, "WARN: aspect ratio was not autodetected\n");
    if (v.mpegFormat == 0)
        v.mpegFormat = MPEG_2;
    if (v.resolution == 0)
        v.resolution = RES_720_FULL;
    if (v.tvFormat == 0)
        v.tvFormat = TV_NTSC;
    if (v.aspect == 0)
        v.aspect = ASPECT_4_3;
    if (v.aspect == ASPECT_4_3)
        v.disallow = DISALLOW_LETTERBOX | DISALLOW_PANSCAN;
    matchAudioStreams(a, group);
    audioDefaults(a);
    bindSubpictures(a, group);
    summary(a, groupKind);
}

void AuthorCompleteGroup(PgcGroup& group, int groupKind) {
    AuthorCompleteAttributes(group.attributes, group, groupKind);
}
