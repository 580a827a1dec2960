// Owning holders for GStreamer objects, as glib_ptr.h has them for GLib: one reference each,
// released when the holder goes, so that no path of the player forgets a gst_object_unref.
#pragma once

#include <gst/gst.h>

#include <memory>

#include "glib_ptr.h"

namespace kestrane::media {

// One reference to a GstObject of type T (GstElement, GstBus, GstPad, ...).
template <class T>
using GstPtr = glib::Owned<T, gst_object_unref>;

// Takes ownership of a newly made object, sinking its floating reference (elements and pads
// are made floating); null stays null.
template <class T>
GstPtr<T> adoptFloating(T* object) {
    return GstPtr<T>(object != nullptr ? static_cast<T*>(gst_object_ref_sink(object)) : nullptr);
}

// A bus message (gst_message_unref).
using MessagePtr = glib::Owned<GstMessage, gst_message_unref>;
// Caps (gst_caps_unref).
using CapsPtr = glib::Owned<GstCaps, gst_caps_unref>;
// A list of plugin features, element factories say (gst_plugin_feature_list_free).
using FeatureListPtr = glib::Owned<GList, gst_plugin_feature_list_free>;

}  // namespace kestrane::media
