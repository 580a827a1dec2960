// Owning holders for GLib and GObject resources, so that no path of a platform component
// forgets a g_free, g_object_unref or g_error_free. Each is a std::unique_ptr with the right
// release function: move-only, get() to borrow, release() to hand the resource on.
//
// Ownership follows GLib's annotations: wrap what a call returns as "transfer full"; never
// wrap a "transfer none" result (take a reference first with ref()).
#pragma once

#include <glib-object.h>
#include <glib.h>

#include <memory>
#include <string>

namespace kestrane::glib {

// The release function of a resource, as the deleter of a unique_ptr.
template <class T, auto Free>
struct FreeWith {
    void operator()(T* p) const {
        if (p != nullptr) Free(p);
    }
};

// A resource of type T released with Free, e.g. Owned<GstMessage, gst_message_unref>.
template <class T, auto Free>
using Owned = std::unique_ptr<T, FreeWith<T, Free>>;

// A string allocated by GLib (g_free).
using CharPtr = Owned<gchar, g_free>;
// A GError (g_error_free).
using ErrorPtr = Owned<GError, g_error_free>;
// A GVariant reference (g_variant_unref); sink a floating one first (g_variant_ref_sink).
using VariantPtr = Owned<GVariant, g_variant_unref>;
// A main context and a main loop (g_main_context_unref, g_main_loop_unref).
using MainContextPtr = Owned<GMainContext, g_main_context_unref>;
using MainLoopPtr = Owned<GMainLoop, g_main_loop_unref>;
// An event source (g_source_unref); destroying it (g_source_destroy) is a separate step.
using SourcePtr = Owned<GSource, g_source_unref>;

struct ObjectUnref {
    void operator()(gpointer p) const {
        if (p != nullptr) g_object_unref(p);
    }
};
// One reference to a GObject of type T (g_object_unref), e.g. ObjectPtr<GFile>.
template <class T>
using ObjectPtr = std::unique_ptr<T, ObjectUnref>;

// A new reference to a borrowed object (transfer none in, transfer full out).
template <class T>
ObjectPtr<T> ref(T* object) {
    return ObjectPtr<T>(object != nullptr ? static_cast<T*>(g_object_ref(object)) : nullptr);
}

// A GList whose elements are GObject references, as g_app_info_get_all and its kind return
// it (transfer full): the list and every element go together.
class ObjectList {
public:
    explicit ObjectList(GList* list) : list_(list) {}
    ObjectList(const ObjectList&) = delete;
    ObjectList& operator=(const ObjectList&) = delete;
    ~ObjectList() { g_list_free_full(list_, g_object_unref); }

    // Iteration over the elements (transfer none).
    class Iterator {
    public:
        explicit Iterator(GList* at) : at_(at) {}
        gpointer operator*() const { return at_->data; }
        Iterator& operator++() {
            at_ = at_->next;
            return *this;
        }
        bool operator!=(const Iterator& other) const { return at_ != other.at_; }

    private:
        GList* at_;
    };
    Iterator begin() const { return Iterator(list_); }
    Iterator end() const { return Iterator(nullptr); }

private:
    GList* list_;
};

// The text of a GLib string, or "" for none.
inline std::string text(const gchar* s) {
    return s != nullptr ? std::string(s) : std::string();
}

}  // namespace kestrane::glib
