// Property lists through libplist, with the work bounded before libplist starts, and the one
// safe way to read a string node.
#pragma once

#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "plist_ptr.h"

namespace kestrane::plist {

// How a binary property list may refer to one object from several places. libplist decodes
// an object once per reference to it, so a list of a few hundred bytes whose arrays each refer
// to the next twice would take it longer than the age of the universe.
enum class Sharing {
    refused,  // an object referred to twice (shared or cyclic) makes the list unbounded
    counted,  // allowed; every reference counts as a node towards the bound
};

// What decoding may cost: the nodes libplist builds and how deeply they nest (its decoder
// and plist_free recurse once per level).
struct Bounds {
    std::size_t maxNodes;
    Sharing sharing;
    std::size_t maxDepth = 128;
};

// Whether libplist can decode a binary property list (bplist00) within bounds, and read it
// back without ending the process (its key getter asserts on a dictionary key that holds
// U+0000): its object count, references, nesting and keys are checked without decoding
// anything. Any other bytes are XML to libplist, whose work grows with their size only and
// whose keys hold no U+0000: true.
bool isSafeToDecode(std::string_view bytes, const Bounds& bounds);

// The tree of a property list (XML or binary), or null: bytes that are not one, empty, larger
// than libplist takes (4 GiB), not safe to decode (XML: nested deeper than maxDepth; the
// caller bounds its size).
PlistPtr parse(std::string_view bytes, const Bounds& bounds);

// The text of a string node, whole (U+0000 included), or none for a null node or another
// kind. libplist's copying getter asserts, and so ends the process, on a string that holds
// U+0000, which a binary property list can: this reads it through the pointer getter.
std::optional<std::string> stringOf(plist_t node);

// Every item of an array node, in order (nothing for another kind).
void forEachItem(plist_t array, const std::function<void(plist_t item)>& visit);
// Every entry of a dictionary node, in the dictionary's order (nothing for another kind).
void forEachEntry(plist_t dictionary, const std::function<void(const char* key, plist_t value)>& visit);

}  // namespace kestrane::plist
