#pragma once
// Owning handles for GStreamer and GLib objects, and the reader's log lines.
//
// The verbs name the ownership rule of the C call that produced the pointer:
//  - adopt*: the call returned a "transfer full" reference; the handle takes
//    it over and releases it once.
//  - sinkElement: the call returned a floating reference (element factories);
//    it is sunk first, which turns it into the handle's own reference.
// A "transfer none" pointer is never put into a handle.

#include <gst/gst.h>

#include <cstdarg>
#include <memory>

namespace qsVideoReader {
namespace gst {

inline std::shared_ptr<GstElement> adoptElement(GstElement* element) {
    return std::shared_ptr<GstElement>(element, [](GstElement* e) {
        if (e != nullptr) {
            gst_object_unref(e);
        }
    });
}

inline std::shared_ptr<GstElement> sinkElement(GstElement* element) {
    if (element != nullptr) {
        gst_object_ref_sink(element);
    }
    return adoptElement(element);
}

inline std::shared_ptr<GstPad> adoptPad(GstPad* pad) {
    return std::shared_ptr<GstPad>(pad, [](GstPad* p) {
        if (p != nullptr) {
            gst_object_unref(p);
        }
    });
}

inline std::shared_ptr<GstBus> adoptBus(GstBus* bus) {
    return std::shared_ptr<GstBus>(bus, [](GstBus* b) {
        if (b != nullptr) {
            gst_object_unref(b);
        }
    });
}

// Caps, samples, tag lists and messages are mini objects.
template <typename T>
std::shared_ptr<T> adoptMiniObject(T* object) {
    return std::shared_ptr<T>(object, [](T* o) {
        if (o != nullptr) {
            gst_mini_object_unref(GST_MINI_OBJECT_CAST(o));
        }
    });
}

inline std::shared_ptr<gchar> adoptString(gchar* text) {
    return std::shared_ptr<gchar>(text, [](gchar* t) { g_free(t); });
}

// A line on GStreamer's debug log, default category, source "GstReader";
// formatted only when the category's threshold admits the level.
inline void logLine(GstDebugLevel level, const char* function, int line, const char* format, ...)
    G_GNUC_PRINTF(4, 5);

inline void logLine(GstDebugLevel level, const char* function, int line, const char* format, ...) {
    if (gst_debug_category_get_threshold(GST_CAT_DEFAULT) < level) {
        return;
    }
    va_list args;
    va_start(args, format);
    gst_debug_log_valist(GST_CAT_DEFAULT, level, "GstReader", function, line, nullptr, format,
                         args);
    va_end(args);
}

// Moves `element` to `target` and waits, at most five seconds, until it is
// there. False when the change fails or a live source cannot preroll: a
// pipeline in that state cannot deliver frames.
inline bool changeStateAndWait(GstElement* element, GstState target) {
    constexpr GstClockTime kStateWait = 5 * GST_SECOND;
    if (gst_element_set_state(element, target) == GST_STATE_CHANGE_FAILURE) {
        return false;
    }
    const GstStateChangeReturn reached = gst_element_get_state(element, nullptr, nullptr, kStateWait);
    return reached != GST_STATE_CHANGE_FAILURE && reached != GST_STATE_CHANGE_NO_PREROLL;
}

}  // namespace gst
}  // namespace qsVideoReader

#define QS_GST_INFO(function, ...) \
    ::qsVideoReader::gst::logLine(GST_LEVEL_INFO, function, __LINE__, __VA_ARGS__)
#define QS_GST_WARNING(function, ...) \
    ::qsVideoReader::gst::logLine(GST_LEVEL_WARNING, function, __LINE__, __VA_ARGS__)
