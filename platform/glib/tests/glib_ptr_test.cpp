// The holders give back exactly what they own: weak references show when a GObject dies.
#include <gtest/gtest.h>

#include "glib_ptr.h"

namespace glib = kestrane::glib;

namespace {

// A plain GObject with a weak pointer that GLib clears when the object is finalised.
struct Watched {
    GObject* object = static_cast<GObject*>(g_object_new(G_TYPE_OBJECT, nullptr));
    gpointer alive = object;
    Watched() { g_object_add_weak_pointer(object, &alive); }
};

}  // namespace

TEST(ObjectPtr, ReleasesItsReferenceAndRefTakesANewOne) {
    Watched w;
    {
        glib::ObjectPtr<GObject> owner(w.object);  // takes over the creation reference
        {
            glib::ObjectPtr<GObject> extra = glib::ref(w.object);
        }
        EXPECT_NE(w.alive, nullptr);  // the extra reference went, the owner's stays
    }
    EXPECT_EQ(w.alive, nullptr);
    EXPECT_EQ(glib::ref<GObject>(nullptr), nullptr);
}

TEST(ObjectList, FreesTheListAndEveryElement) {
    Watched a, b;
    int seen = 0;
    {
        glib::ObjectList list(g_list_append(g_list_append(nullptr, a.object), b.object));
        for (gpointer element : list) {
            EXPECT_TRUE(G_IS_OBJECT(element));
            ++seen;
        }
    }
    EXPECT_EQ(seen, 2);
    EXPECT_EQ(a.alive, nullptr);
    EXPECT_EQ(b.alive, nullptr);
    glib::ObjectList empty(nullptr);
    EXPECT_FALSE(empty.begin() != empty.end());
}

TEST(Owned, FreesStringsAndErrors) {
    glib::CharPtr s(g_strdup("x"));
    EXPECT_EQ(glib::text(s.get()), "x");
    EXPECT_EQ(glib::text(nullptr), "");
    glib::ErrorPtr e(g_error_new_literal(G_FILE_ERROR, G_FILE_ERROR_NOENT, "gone"));
    EXPECT_STREQ(e->message, "gone");
}
