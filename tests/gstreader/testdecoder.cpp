#include "testdecoder.hpp"

#include "media.hpp"

#include <gst/gst.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace gstreader_test {

namespace {

constexpr const char* MAGIC = "GSTRTEST";

// Memory that cannot be mapped: its allocator's map function fails.
struct RefusingAllocator {
    GstAllocator parent;
};
struct RefusingAllocatorClass {
    GstAllocatorClass parent_class;
};

G_DEFINE_TYPE(RefusingAllocator, refusing_allocator, GST_TYPE_ALLOCATOR)

gpointer refusingMap(GstMemory*, gsize, GstMapFlags) {
    return nullptr;
}
void refusingUnmap(GstMemory*) {}

GstMemory* refusingAlloc(GstAllocator*, gsize, GstAllocationParams*) {
    return nullptr;
}
void refusingFree(GstAllocator*, GstMemory* memory) {
    g_free(memory);
}

void refusing_allocator_class_init(RefusingAllocatorClass* klass) {
    GstAllocatorClass* allocatorClass = GST_ALLOCATOR_CLASS(klass);
    allocatorClass->alloc = refusingAlloc;
    allocatorClass->free = refusingFree;
}

void refusing_allocator_init(RefusingAllocator* self) {
    GstAllocator* allocator = GST_ALLOCATOR(self);
    allocator->mem_type = "GstReaderTestRefusing";
    allocator->mem_map = refusingMap;
    allocator->mem_unmap = refusingUnmap;
    GST_OBJECT_FLAG_SET(allocator, GST_ALLOCATOR_FLAG_CUSTOM_ALLOC);
}

GstAllocator* refusingAllocator() {
    static GstAllocator* allocator = [] {
        auto* a = static_cast<GstAllocator*>(g_object_new(refusing_allocator_get_type(), nullptr));
        gst_object_ref_sink(a);
        return a;
    }();
    return allocator;
}

struct TestDec {
    GstElement parent;
    GstPad* sinkpad;
    GstPad* srcpad;
    bool started;
    bool failed;
    bool swallowEos;
};
struct TestDecClass {
    GstElementClass parent_class;
};

G_DEFINE_TYPE(TestDec, test_dec, GST_TYPE_ELEMENT)

GstStaticPadTemplate sinkTemplate = GST_STATIC_PAD_TEMPLATE(
    "sink", GST_PAD_SINK, GST_PAD_ALWAYS, GST_STATIC_CAPS("application/x-gstreader-test"));
GstStaticPadTemplate srcTemplate = GST_STATIC_PAD_TEMPLATE(
    "src", GST_PAD_SRC, GST_PAD_ALWAYS, GST_STATIC_CAPS("video/x-raw, format = (string) RGB"));

GstBuffer* makeFrame(int index, int width, int height, int fps, char mode) {
    const std::vector<std::uint8_t> packed = testDecoderFrame(index, width, height);
    const std::size_t row = static_cast<std::size_t>(width) * 3;
    const std::size_t padded = (row + 3) & ~static_cast<std::size_t>(3);
    GstBuffer* buffer = nullptr;
    if (mode == 'u') {
        buffer = gst_buffer_new();
        GstMemory* memory = g_new0(GstMemory, 1);
        gst_memory_init(memory, static_cast<GstMemoryFlags>(0), refusingAllocator(), nullptr,
                        packed.size(), 0, 0, packed.size());
        gst_buffer_append_memory(buffer, memory);
    } else {
        std::vector<std::uint8_t> bytes;
        if (mode == 'd') {
            bytes.assign(padded * static_cast<std::size_t>(height), 0xEE);
            for (int y = 0; y < height; ++y) {
                std::memcpy(bytes.data() + y * padded, packed.data() + y * row, row);
            }
        } else {
            bytes = packed;  // 'p', and 'n' and 'z' below
            if (mode == 's') bytes.pop_back();
            if (mode == 'o') bytes.push_back(0xEE);
        }
        buffer = gst_buffer_new_allocate(nullptr, bytes.size(), nullptr);
        gst_buffer_fill(buffer, 0, bytes.data(), bytes.size());
    }
    GST_BUFFER_PTS(buffer) = mode == 'n'   ? GST_CLOCK_TIME_NONE
                             : mode == 'z' ? 0
                                           : gst_util_uint64_scale(static_cast<guint64>(index), GST_SECOND,
                                                                   static_cast<guint64>(fps));
    GST_BUFFER_DURATION(buffer) = gst_util_uint64_scale(1, GST_SECOND, static_cast<guint64>(fps));
    return buffer;
}

GstFlowReturn decodeAll(TestDec* self, const std::string& text) {
    std::istringstream in(text);
    std::string magic, modes;
    int width = 0, height = 0, fps = 0, failAt = -1, swallow = 0;
    in >> magic >> width >> height >> fps >> failAt >> swallow >> modes;
    self->swallowEos = swallow != 0;
    GstCaps* caps = gst_caps_new_simple("video/x-raw", "format", G_TYPE_STRING, "RGB", "width",
                                        G_TYPE_INT, width, "height", G_TYPE_INT, height,
                                        "framerate", GST_TYPE_FRACTION, fps, 1, nullptr);
    gst_pad_push_event(self->srcpad, gst_event_new_caps(caps));
    gst_caps_unref(caps);
    GstSegment segment;
    gst_segment_init(&segment, GST_FORMAT_TIME);
    gst_pad_push_event(self->srcpad, gst_event_new_segment(&segment));
    for (int i = 0; i < static_cast<int>(modes.size()); ++i) {
        if (i == failAt) {
            self->failed = true;
            GST_ELEMENT_ERROR(self, STREAM, DECODE, ("test stream breaks here"), (nullptr));
            return GST_FLOW_ERROR;
        }
        GstFlowReturn ret = gst_pad_push(self->srcpad, makeFrame(i, width, height, fps, modes[i]));
        if (ret != GST_FLOW_OK) {
            return ret;
        }
    }
    return GST_FLOW_OK;
}

GstFlowReturn testDecChain(GstPad*, GstObject* parent, GstBuffer* buffer) {
    TestDec* self = reinterpret_cast<TestDec*>(parent);
    if (self->started) {
        gst_buffer_unref(buffer);
        return GST_FLOW_OK;
    }
    self->started = true;
    GstMapInfo map;
    std::string text;
    if (gst_buffer_map(buffer, &map, GST_MAP_READ)) {
        text.assign(reinterpret_cast<const char*>(map.data), map.size);
        gst_buffer_unmap(buffer, &map);
    }
    gst_buffer_unref(buffer);
    return decodeAll(self, text);
}

gboolean testDecSinkEvent(GstPad* pad, GstObject* parent, GstEvent* event) {
    TestDec* self = reinterpret_cast<TestDec*>(parent);
    switch (GST_EVENT_TYPE(event)) {
    case GST_EVENT_CAPS:
    case GST_EVENT_SEGMENT:
        gst_event_unref(event);  // ours come with the first frame
        return TRUE;
    case GST_EVENT_EOS:
        if (self->failed && self->swallowEos) {
            gst_event_unref(event);
            return TRUE;
        }
        return gst_pad_event_default(pad, parent, event);
    default:
        return gst_pad_event_default(pad, parent, event);
    }
}

void test_dec_class_init(TestDecClass* klass) {
    GstElementClass* elementClass = GST_ELEMENT_CLASS(klass);
    gst_element_class_add_static_pad_template(elementClass, &sinkTemplate);
    gst_element_class_add_static_pad_template(elementClass, &srcTemplate);
    gst_element_class_set_static_metadata(elementClass, "Reader test decoder", "Codec/Decoder/Video",
                                          "Frames on cue for the reader tests", "tests");
}

void test_dec_init(TestDec* self) {
    self->sinkpad = gst_pad_new_from_static_template(&sinkTemplate, "sink");
    gst_pad_set_chain_function(self->sinkpad, testDecChain);
    gst_pad_set_event_function(self->sinkpad, testDecSinkEvent);
    gst_element_add_pad(GST_ELEMENT(self), self->sinkpad);
    self->srcpad = gst_pad_new_from_static_template(&srcTemplate, "src");
    gst_pad_use_fixed_caps(self->srcpad);
    gst_element_add_pad(GST_ELEMENT(self), self->srcpad);
    self->started = false;
    self->failed = false;
    self->swallowEos = false;
}

void typeFind(GstTypeFind* find, gpointer) {
    const guint8* data = gst_type_find_peek(find, 0, 8);
    if (data != nullptr && std::memcmp(data, MAGIC, 8) == 0) {
        GstCaps* caps = gst_caps_new_empty_simple("application/x-gstreader-test");
        gst_type_find_suggest(find, GST_TYPE_FIND_MAXIMUM, caps);
        gst_caps_unref(caps);
    }
}

gboolean pluginInit(GstPlugin* plugin) {
    return gst_element_register(plugin, "gstreadertestdec", GST_RANK_PRIMARY + 100, test_dec_get_type()) &&
           gst_type_find_register(plugin, "application/x-gstreader-test", GST_RANK_PRIMARY, typeFind,
                                  nullptr, nullptr, nullptr, nullptr);
}

}  // namespace

void registerTestDecoder() {
    static const bool registered = [] {
        gst_init(nullptr, nullptr);
        return gst_plugin_register_static(GST_VERSION_MAJOR, GST_VERSION_MINOR, "gstreadertest",
                                          "Reader test elements", pluginInit, "1.0", "LGPL",
                                          "tests", "tests", "tests") == TRUE;
    }();
    (void)registered;
}

std::string testDecoderFile(const std::string& name, int width, int height, int fps, int failAt,
                            bool swallowEos, const std::string& modes) {
    registerTestDecoder();
    std::ostringstream text;
    text << MAGIC << ' ' << width << ' ' << height << ' ' << fps << ' ' << failAt << ' '
         << (swallowEos ? 1 : 0) << ' ' << modes << '\n';
    const std::string path = scratchPath(name);
    std::ofstream(path, std::ios::binary) << text.str();
    return path;
}

std::vector<std::uint8_t> testDecoderFrame(int index, int width, int height) {
    std::vector<std::uint8_t> frame(static_cast<std::size_t>(width) * height * 3);
    std::size_t k = 0;
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            for (int c = 0; c < 3; ++c)
                frame[k++] = static_cast<std::uint8_t>((index * 31 + y * 7 + x * 3 + c) & 0xFF);
    return frame;
}

}  // namespace gstreader_test
