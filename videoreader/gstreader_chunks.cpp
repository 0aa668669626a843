// ChunkTrack: the AVI video chunks seen between demuxer and decoder.

#include <videoreader/chunktrack.hpp>

#include <algorithm>
#include <cstring>
#include <vector>

namespace qsVideoReader {

namespace {

using Weak = std::weak_ptr<ChunkTrack>;

void deleteWeak(gpointer data, GClosure*) { delete static_cast<Weak*>(data); }
void deleteWeakNotify(gpointer data) { delete static_cast<Weak*>(data); }

// Where the next start code prefix (00 00 01) at or after `from` begins, or
// `size`. memchr finds the 01 bytes: a chunk is scanned once per frame, and
// byte by byte that shows in the frame rate.
std::size_t nextStartCode(const std::uint8_t* data, std::size_t from, std::size_t size) {
    for (std::size_t j = from + 2; j < size;) {
        const void* one = std::memchr(data + j, 1, size - j);
        if (one == nullptr) break;
        j = static_cast<std::size_t>(static_cast<const std::uint8_t*>(one) - data);
        if (data[j - 1] == 0 && data[j - 2] == 0) return j - 2;
        ++j;
    }
    return size;
}

// The coding types of the coded VOPs of one MPEG-4 Part 2 chunk, in file
// order (0 I, 1 P, 2 B, 3 S). A packed bitstream holds a P and a B VOP in one
// chunk; a VOP a few bytes long is a not-coded placeholder and shows nothing
// new, so it is left out.
std::vector<int> vopTypes(const std::uint8_t* data, std::size_t size) {
    constexpr std::size_t kNotCodedMax = 8;
    std::vector<int> types;
    // One pass over the chunk: the next start code (or the chunk's end) is
    // where the VOP before it ends.
    std::size_t vop = size;  // the VOP whose end is sought, if any
    for (std::size_t i = nextStartCode(data, 0, size);;) {
        if (vop < size) {
            if (i - vop - 4 > kNotCodedMax) types.push_back(data[vop + 4] >> 6);
            vop = size;
        }
        if (i + 4 >= size) break;
        if (data[i + 3] == 0xB6) {
            vop = i;
            i = nextStartCode(data, i + 4, size);
        } else {
            i = nextStartCode(data, i + 1, size);
        }
    }
    return types;
}

// The first picture of an MPEG-1 or MPEG-2 video chunk (an AVI chunk holds
// one frame: one picture, or two field pictures of the same frame), as a
// coding type on the MPEG-4 scale (0 I, 1 P, 2 B; -1 none), and whether a
// group header before it says the group is closed.
struct Mpeg12Picture {
    int type = -1;
    bool closedGroup = false;
};

Mpeg12Picture mpeg12Picture(const std::uint8_t* data, std::size_t size) {
    Mpeg12Picture picture;
    for (std::size_t i = nextStartCode(data, 0, size); i + 5 < size; i = nextStartCode(data, i + 3, size)) {
        const std::uint8_t code = data[i + 3];
        if (code == 0xB8 && i + 7 < size) {
            // 25 bits of time code, then closed_gop.
            picture.closedGroup = (data[i + 7] >> 6 & 1) != 0;
        } else if (code == 0x00) {
            // 10 bits of temporal reference, then picture_coding_type.
            const int coding = data[i + 5] >> 3 & 7;
            picture.type = coding >= 1 && coding <= 3 ? coding - 1 : -1;
            break;
        }
    }
    return picture;
}

// The kind of picture an H.264 chunk starts: an IDR picture, another picture
// made of intra slices only (an open group's keyframe), or neither.
enum class H264Start { None, Intra, Idr };

// ue(v) of the slice header, read from `data`; false when it runs out.
bool expGolomb(const std::uint8_t* data, std::size_t size, std::size_t& bit, std::uint32_t& value) {
    int zeros = 0;
    while (bit < size * 8 && !(data[bit / 8] >> (7 - bit % 8) & 1)) {
        ++zeros;
        ++bit;
    }
    if (zeros > 31 || bit >= size * 8) return false;
    ++bit;
    std::uint32_t rest = 0;
    for (int i = 0; i < zeros; ++i, ++bit) {
        if (bit >= size * 8) return false;
        rest = rest << 1 | (data[bit / 8] >> (7 - bit % 8) & 1);
    }
    value = (1u << zeros) - 1 + rest;
    return true;
}

H264Start unitStart(const std::uint8_t* unit, std::size_t size) {
    if (size < 2) return H264Start::None;
    const int type = unit[0] & 0x1F;
    if (type == 5) return H264Start::Idr;
    if (type != 1) return H264Start::None;
    // first_mb_in_slice 0 and slice_type I or SI (2, 4, 7, 9).
    std::size_t bit = 8;
    std::uint32_t firstMb = 0;
    std::uint32_t sliceType = 0;
    const std::size_t head = std::min<std::size_t>(size, 16);
    if (!expGolomb(unit, head, bit, firstMb) || !expGolomb(unit, head, bit, sliceType)) return H264Start::None;
    return firstMb == 0 && (sliceType % 5 == 2 || sliceType % 5 == 4) ? H264Start::Intra : H264Start::None;
}

// The best start among the units of one chunk, in a byte stream (start
// codes) or in length-prefixed units of `lengthSize` bytes.
H264Start chunkStart(const std::uint8_t* data, std::size_t size, int lengthSize) {
    H264Start best = H264Start::None;
    const auto take = [&best](H264Start s) {
        if (static_cast<int>(s) > static_cast<int>(best)) best = s;
    };
    if (lengthSize > 0) {
        for (std::size_t at = 0; at + static_cast<std::size_t>(lengthSize) < size;) {
            std::size_t length = 0;
            for (int i = 0; i < lengthSize; ++i) length = length << 8 | data[at + static_cast<std::size_t>(i)];
            at += static_cast<std::size_t>(lengthSize);
            if (at < size) take(unitStart(data + at, std::min(length, size - at)));
            at += length;
        }
        return best;
    }
    for (std::size_t i = 0; i + 3 < size; ++i) {
        if (data[i] == 0 && data[i + 1] == 0 && data[i + 2] == 1) {
            take(unitStart(data + i + 3, size - i - 3));
            i += 2;
        }
    }
    return best;
}

GstPadProbeReturn onChunk(GstPad*, GstPadProbeInfo* info, gpointer data) {
    auto track = static_cast<Weak*>(data)->lock();
    if (!track) return GST_PAD_PROBE_OK;
    if (info->type & GST_PAD_PROBE_TYPE_BUFFER) {
        if (!track->numbered()) return GST_PAD_PROBE_OK;
        GstBuffer* buffer = gst_buffer_make_writable(GST_PAD_PROBE_INFO_BUFFER(info));
        GST_PAD_PROBE_INFO_DATA(info) = buffer;
        if (!track->chunk(buffer)) {
            return GST_PAD_PROBE_DROP;
        }
        // The demuxer's stamp is the decode slot, not the display time (see
        // the header): the decoder is to stamp nothing.
        GST_BUFFER_PTS(buffer) = GST_CLOCK_TIME_NONE;
    } else if (info->type & GST_PAD_PROBE_TYPE_EVENT_BOTH) {
        GstEvent* event = GST_PAD_PROBE_INFO_EVENT(info);
        if (GST_EVENT_TYPE(event) == GST_EVENT_CAPS) {
            GstCaps* caps = nullptr;
            gst_event_parse_caps(event, &caps);
            track->streamCaps(caps);
        } else if (GST_EVENT_TYPE(event) == GST_EVENT_SEGMENT && track->numbered()) {
            // A segment starting at the seek position would have the decoder
            // drop the pictures before it by the times it guesses for them,
            // and counting would lose its footing; the reader drops what lies
            // before the target itself. The same stream times, from 0.
            const GstSegment* segment = nullptr;
            gst_event_parse_segment(event, &segment);
            if (segment != nullptr && segment->format == GST_FORMAT_TIME && segment->start > 0) {
                GstSegment opened;
                gst_segment_copy_into(segment, &opened);
                opened.time = segment->time >= segment->start ? segment->time - segment->start : 0;
                opened.start = 0;
                opened.position = 0;
                GstEvent* replaced = gst_event_new_segment(&opened);
                gst_event_set_seqnum(replaced, gst_event_get_seqnum(event));
                gst_event_unref(event);
                GST_PAD_PROBE_INFO_DATA(info) = replaced;
            }
        } else if (GST_EVENT_TYPE(event) == GST_EVENT_EOS) {
            track->ended();
        } else if (GST_EVENT_TYPE(event) == GST_EVENT_FLUSH_STOP ||
                   GST_EVENT_TYPE(event) == GST_EVENT_STREAM_START) {
            track->flushed();
        }
    }
    return GST_PAD_PROBE_OK;
}

GstPadProbeReturn onDecoded(GstPad*, GstPadProbeInfo* info, gpointer data) {
    auto track = static_cast<Weak*>(data)->lock();
    if (!track) return GST_PAD_PROBE_OK;
    if (info->type & GST_PAD_PROBE_TYPE_BUFFER) {
        return track->decoded() ? GST_PAD_PROBE_OK : GST_PAD_PROBE_DROP;
    }
    if ((info->type & GST_PAD_PROBE_TYPE_EVENT_FLUSH) &&
        GST_EVENT_TYPE(GST_PAD_PROBE_INFO_EVENT(info)) == GST_EVENT_FLUSH_STOP) {
        track->decodedFlushed();
    }
    return GST_PAD_PROBE_OK;
}

void onPadAdded(GstElement*, GstPad* pad, gpointer data) {
    auto track = static_cast<Weak*>(data)->lock();
    if (!track) return;
    gchar* name = gst_pad_get_name(pad);
    const bool video = name != nullptr && std::strncmp(name, "video_", 6) == 0;
    g_free(name);
    // The first video stream is the one playbin plays unless told otherwise;
    // chunks of a second one must not mix with its count.
    if (!video || !track->claimPad()) return;
    if (GstCaps* caps = gst_pad_get_current_caps(pad)) {
        track->streamCaps(caps);
        gst_caps_unref(caps);
    }
    gst_pad_add_probe(pad,
                      static_cast<GstPadProbeType>(GST_PAD_PROBE_TYPE_BUFFER |
                                                   GST_PAD_PROBE_TYPE_EVENT_DOWNSTREAM |
                                                   GST_PAD_PROBE_TYPE_EVENT_FLUSH),
                      onChunk, new Weak(track), deleteWeakNotify);
}

void onElementSetup(GstElement*, GstElement* element, gpointer data) {
    GstElementFactory* factory = gst_element_get_factory(element);  // transfer none
    if (factory == nullptr ||
        std::strcmp(gst_plugin_feature_get_name(GST_PLUGIN_FEATURE(factory)), "avidemux") != 0) {
        return;
    }
    auto track = static_cast<Weak*>(data)->lock();
    if (!track) return;
    g_signal_connect_data(element, "pad-added", G_CALLBACK(onPadAdded), new Weak(track), deleteWeak,
                          static_cast<GConnectFlags>(0));
}

}  // namespace

std::shared_ptr<ChunkTrack> ChunkTrack::attach(GstElement* pipeline) {
    std::shared_ptr<ChunkTrack> track(new ChunkTrack());
    track->pipeline_ = pipeline;
    track->setupHandler_ = g_signal_connect_data(pipeline, "element-setup", G_CALLBACK(onElementSetup),
                                                 new Weak(track), deleteWeak, static_cast<GConnectFlags>(0));
    return track;
}

void ChunkTrack::detach() {
    if (pipeline_ != nullptr && setupHandler_ != 0) {
        g_signal_handler_disconnect(pipeline_, setupHandler_);
    }
    setupHandler_ = 0;
    pipeline_ = nullptr;
}

ChunkTrack::~ChunkTrack() { detach(); }

void ChunkTrack::watchDecoded(GstPad* pad) {
    gst_pad_add_probe(pad,
                      static_cast<GstPadProbeType>(GST_PAD_PROBE_TYPE_BUFFER | GST_PAD_PROBE_TYPE_EVENT_FLUSH),
                      onDecoded, new Weak(shared_from_this()), deleteWeakNotify);
}

void ChunkTrack::skipBefore(std::uint64_t timeNs, std::uint64_t periodNs) {
    std::lock_guard<std::mutex> lock(mutex_);
    skipBeforeNs_ = timeNs;
    skipPeriodNs_ = periodNs;
}

bool ChunkTrack::decoded() {
    std::lock_guard<std::mutex> lock(mutex_);
    // Only the first pictures after a flush are skipped, and only while the
    // count from the keyframe gives their times, exactly as the reader
    // counts them: not in a packed bitstream (its times come from the
    // chunks), not before the B-pictures shown before the keyframe are
    // counted. A picture is of no use when the next one is shown at or
    // before the target.
    if (skipping_ && skipBeforeNs_ > 0 && skipPeriodNs_ > 0 && codec_ != Codec::Other && sawKeyframe_ &&
        !countingB_ && !packed_ && !keyPacked_) {
        const std::uint64_t nextNs = keyDtsNs_ + (leadingB_ + skippedPictures_ + 1) * skipPeriodNs_;
        if (nextNs <= skipBeforeNs_) {
            ++skippedPictures_;
            return false;
        }
    }
    skipping_ = false;
    return true;
}

void ChunkTrack::decodedFlushed() {
    std::lock_guard<std::mutex> lock(mutex_);
    skipping_ = true;
    skippedPictures_ = 0;
}

bool ChunkTrack::claimPad() {
    std::lock_guard<std::mutex> lock(mutex_);
    const bool first = !havePad_;
    havePad_ = true;
    return first;
}

bool ChunkTrack::numbered() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return codec_ != Codec::Other;
}

bool ChunkTrack::anchor(std::uint64_t periodNs, std::uint64_t& timeNs) const {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!sawKeyframe_) return false;
    timeNs = keyDtsNs_ + ((keyPacked_ ? 0 : leadingB_) + skippedPictures_) * periodNs;
    return true;
}

void ChunkTrack::streamCaps(const GstCaps* caps) {
    if (caps == nullptr || gst_caps_get_size(caps) == 0) return;
    const GstStructure* s = gst_caps_get_structure(caps, 0);
    const char* name = gst_structure_get_name(s);
    Codec codec = Codec::Other;
    int lengthSize = 0;
    gint version = 0;
    gboolean system = FALSE;
    if (std::strcmp(name, "video/x-h264") == 0) {
        codec = Codec::H264;
        const char* format = gst_structure_get_string(s, "stream-format");
        if (format != nullptr && std::strcmp(format, "avc") == 0) {
            // The unit length size is in the codec data; 4 bytes is what
            // every AVI writer uses.
            lengthSize = 4;
        }
    } else if (std::strcmp(name, "video/x-xvid") == 0) {
        codec = Codec::Mpeg4Part2;
    } else if (std::strcmp(name, "video/x-divx") == 0) {
        // DivX 3 is an MS-MPEG-4 variant without B-pictures.
        if (gst_structure_get_int(s, "divxversion", &version) && version >= 4) codec = Codec::Mpeg4Part2;
    } else if (std::strcmp(name, "video/mpeg") == 0 && gst_structure_get_int(s, "mpegversion", &version) &&
               !(gst_structure_get_boolean(s, "systemstream", &system) && system)) {
        codec = version == 4 ? Codec::Mpeg4Part2 : version == 1 || version == 2 ? Codec::Mpeg12 : Codec::Other;
    }
    gint num = 0;
    gint den = 0;
    std::uint64_t period = 0;
    if (gst_structure_get_fraction(s, "framerate", &num, &den) && num > 0 && den > 0) {
        period = gst_util_uint64_scale_round(GST_SECOND, static_cast<guint64>(den), static_cast<guint64>(num));
    }
    std::lock_guard<std::mutex> lock(mutex_);
    codec_ = codec;
    lengthSize_ = lengthSize;
    periodNs_ = period;
}

bool ChunkTrack::chunk(GstBuffer* buffer) {
    const std::size_t size = gst_buffer_get_size(buffer);
    std::lock_guard<std::mutex> lock(mutex_);
    if (size == 0) {
        return sawKeyframe_;  // a dropped-frame placeholder
    }
    const bool parse = codec_ == Codec::Mpeg4Part2 || codec_ == Codec::Mpeg12 || !sawKeyframe_;
    std::vector<int> types;
    H264Start start = H264Start::None;
    bool closedGroup = false;
    if (parse) {
        GstMapInfo map;
        if (gst_buffer_map(buffer, &map, GST_MAP_READ)) {
            if (codec_ == Codec::Mpeg4Part2) {
                types = vopTypes(map.data, map.size);
            } else if (codec_ == Codec::Mpeg12) {
                const Mpeg12Picture picture = mpeg12Picture(map.data, map.size);
                if (picture.type >= 0) types.push_back(picture.type);
                closedGroup = picture.closedGroup;
            } else {
                start = chunkStart(map.data, map.size, lengthSize_);
            }
            gst_buffer_unmap(buffer, &map);
        }
    }
    if (!sawKeyframe_) {
        // Decoding starts at a picture that needs no other. Without an index
        // the demuxer may start anywhere: what comes before the first real
        // keyframe would decode to damaged pictures, so it never reaches the
        // decoder. A stream whose keyframes this cannot tell is not held up
        // for long: after a while the demuxer's word is taken.
        const bool demuxerKey = !GST_BUFFER_FLAG_IS_SET(buffer, GST_BUFFER_FLAG_DELTA_UNIT);
        // An intra picture that is not IDR starts an open group; the
        // decoder starts from it when the index marks it a keyframe.
        const bool key = codec_ == Codec::Mpeg4Part2 || codec_ == Codec::Mpeg12
                             ? !types.empty() && types.front() == 0
                             : start == H264Start::Idr || (start == H264Start::Intra && demuxerKey);
        if (!key && !(demuxerKey && skipped_ >= kSkipLimit)) {
            ++skipped_;
            return false;
        }
        sawKeyframe_ = true;
        skipped_ = 0;
        keyDtsNs_ = GST_BUFFER_DTS_IS_VALID(buffer) ? GST_BUFFER_DTS(buffer)
                    : GST_BUFFER_PTS_IS_VALID(buffer) ? GST_BUFFER_PTS(buffer)
                                                      : 0;
        keyPacked_ = types.size() >= 2;
        leadingB_ = 0;
        // The B-pictures of a closed group are decoded after a seek too:
        // the first picture delivered is then the keyframe chunk's own slot.
        countingB_ = (codec_ == Codec::Mpeg4Part2 && !keyPacked_) || (codec_ == Codec::Mpeg12 && !closedGroup);
    } else if (countingB_) {
        for (int type : types) {
            if (type != 2) {
                countingB_ = false;
                break;
            }
            ++leadingB_;
        }
    }
    if (codec_ != Codec::Mpeg4Part2 || periodNs_ == 0) {
        return true;
    }
    packed_ = packed_ || types.size() >= 2;
    const std::uint64_t chunkNs = GST_BUFFER_DTS_IS_VALID(buffer) ? GST_BUFFER_DTS(buffer) : keyDtsNs_;
    for (int type : types) {
        if (type != 2) {
            if (pendingRef_) {
                show(pendingRefNs_);
                shownRef_ = true;
                nextBNs_ = pendingRefNs_ + periodNs_;
            }
            pendingRef_ = true;
            pendingRefNs_ = chunkNs;
        } else if (shownRef_) {
            // (Before a second reference the B-pictures refer to one that
            // decoding did not start from: they are not decoded.)
            show(nextBNs_);
            nextBNs_ += periodNs_;
        }
    }
    return true;
}

void ChunkTrack::show(std::uint64_t timeNs) {
    if (packed_) {
        shown_.push_back(timeNs);
    }
}

void ChunkTrack::ended() {
    std::lock_guard<std::mutex> lock(mutex_);
    if (pendingRef_) {
        show(pendingRefNs_);
        pendingRef_ = false;
    }
}

bool ChunkTrack::nextShown(std::uint64_t& timeNs) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!packed_ || shown_.empty()) {
        return false;
    }
    timeNs = shown_.front();
    shown_.pop_front();
    return true;
}

void ChunkTrack::flushed() {
    std::lock_guard<std::mutex> lock(mutex_);
    skipping_ = true;
    skippedPictures_ = 0;
    sawKeyframe_ = false;
    skipped_ = 0;
    countingB_ = false;
    pendingRef_ = false;
    shownRef_ = false;
    shown_.clear();
    leadingB_ = 0;
    keyPacked_ = false;
}

}  // namespace qsVideoReader
