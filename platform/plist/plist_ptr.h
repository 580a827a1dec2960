// Owning holders for libplist: a node tree (plist_t) and the bytes libplist's writers hand
// over. The release functions of these objects are called here only.
#pragma once

#include <plist/plist.h>
#include <pthread.h>

#include <algorithm>
#include <cstddef>
#include <memory>

namespace kestrane::plist {

struct FreeTree {
    void operator()(plist_t node) const {
        if (node != nullptr) plist_free(node);
    }
};
// A libplist tree (plist_t is a void*), freed with plist_free when the holder goes.
using PlistPtr = std::unique_ptr<void, FreeTree>;

struct FreeBinary {
    void operator()(char* bytes) const {
        if (bytes != nullptr) plist_to_bin_free(bytes);
    }
};
// The bytes of plist_to_bin.
using PlistBytesPtr = std::unique_ptr<char, FreeBinary>;

struct FreeXml {
    void operator()(char* text) const {
        if (text != nullptr) plist_to_xml_free(text);
    }
};
// The text of plist_to_xml.
using PlistXmlPtr = std::unique_ptr<char, FreeXml>;

// Frees a tree of depth levels. plist_free recurses once per level, so a tree deeper than the
// caller's stack allows (a hostile file nests hundreds of thousands of levels in a megabyte) is
// freed on a thread of its own with a stack that fits it; its pages are touched only as used.
inline void freeDeepTree(PlistPtr tree, std::size_t depth) {
    constexpr std::size_t kBytesPerLevel = 256;  // several times what plist_free takes a level
    // Without a thread of its own the tree is left allocated: freeing it here could overflow
    // the caller's stack.
    plist_t node = tree.release();
    pthread_attr_t attributes;
    if (pthread_attr_init(&attributes) != 0) return;
    pthread_attr_setstacksize(&attributes, std::max<std::size_t>(PTHREAD_STACK_MIN, depth * kBytesPerLevel + (1u << 20)));
    pthread_t thread;
    auto freeIt = [](void* node) -> void* {
        plist_free(node);
        return nullptr;
    };
    if (pthread_create(&thread, &attributes, freeIt, node) == 0) pthread_join(thread, nullptr);
    pthread_attr_destroy(&attributes);
}

}  // namespace kestrane::plist
