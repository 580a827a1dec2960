#include "plist_values.h"

#include <algorithm>
#include <cstdint>
#include <utility>
#include <vector>

#include "holders.h"

namespace kestrane::plist {

namespace {

std::uint64_t bigEndian(const unsigned char* p, std::size_t size) {
    std::uint64_t v = 0;
    for (std::size_t i = 0; i < size; ++i) v = (v << 8) | p[i];
    return v;
}

// The deepest nesting of a tree (a lone node is 1), found without recursion.
std::size_t depthOf(plist_t root) {
    std::size_t deepest = 0;
    std::vector<std::pair<plist_t, std::size_t>> pending{{root, 1}};
    while (!pending.empty()) {
        const plist_t node = pending.back().first;
        const std::size_t depth = pending.back().second;  // a plain variable: lambdas capture it
        pending.pop_back();
        deepest = std::max(deepest, depth);
        forEachItem(node, [&pending, depth](plist_t item) { pending.emplace_back(item, depth + 1); });
        forEachEntry(node, [&pending, depth](const char*, plist_t value) { pending.emplace_back(value, depth + 1); });
    }
    return deepest;
}

}  // namespace

bool isSafeToDecode(std::string_view bytes, const Bounds& bounds) {
    if (bytes.size() < 8 || bytes.compare(0, 8, "bplist00") != 0) return true;
    if (bytes.size() < 8 + 32) return false;
    const auto* data = reinterpret_cast<const unsigned char*>(bytes.data());
    const unsigned char* trailer = data + bytes.size() - 32;
    const std::size_t offsetSize = trailer[6], refSize = trailer[7];
    const std::uint64_t count = bigEndian(trailer + 8, 8), top = bigEndian(trailer + 16, 8), table = bigEndian(trailer + 24, 8);
    if (offsetSize < 1 || offsetSize > 8 || refSize < 1 || refSize > 8 || count == 0 || count > bounds.maxNodes || top >= count ||
        table > bytes.size() - 32 || count * offsetSize > bytes.size() - 32 - table) {
        return false;
    }
    auto offsetOf = [&](std::uint64_t object) { return bigEndian(data + table + object * offsetSize, offsetSize); };
    // The object's length (its marker's low nibble, or the integer object after it) and where
    // its contents start; none when that runs past the objects.
    auto lengthAt = [&](std::uint64_t at) -> std::optional<std::pair<std::uint64_t, std::uint64_t>> {
        const std::uint64_t length = data[at] & 0x0F, contents = at + 1;
        if (length != 0x0F) return std::pair{length, contents};
        if (contents >= table || (data[contents] >> 4) != 0x1) return std::nullopt;
        const std::size_t width = std::size_t{1} << (data[contents] & 0x0F);
        if (width > 8 || contents + 1 + width > table) return std::nullopt;
        return std::pair{bigEndian(data + contents + 1, width), contents + 1 + width};
    };
    // libplist's key getter asserts (ending the process) on a key whose text holds U+0000, and
    // reading a dictionary's entries uses it.
    auto keyHoldsNul = [&](std::uint64_t at) {
        const unsigned marker = data[at] >> 4;
        if (marker != 0x5 && marker != 0x6) return false;  // not a string: libplist refuses the list
        const auto length = lengthAt(at);
        if (!length) return true;
        const std::uint64_t unit = marker == 0x6 ? 2 : 1;
        if (length->first > (table - length->second) / unit) return true;
        for (std::uint64_t i = 0; i < length->first; ++i) {
            const unsigned char* c = data + length->second + i * unit;
            if (c[0] == 0 && (unit == 1 || c[1] == 0)) return true;
        }
        return false;
    };
    // Walks the references as libplist will follow them, counting every node it would build.
    std::vector<bool> seen(count, false), keyChecked(count, false);
    struct Pending {
        std::uint64_t object;
        std::size_t depth;
        bool isKey;
    };
    std::vector<Pending> pending{{top, 1, false}};
    std::size_t nodes = 1;
    while (!pending.empty()) {
        const Pending next = pending.back();
        pending.pop_back();
        if (next.object >= count) return false;
        if (bounds.sharing == Sharing::refused && seen[next.object]) return false;
        seen[next.object] = true;
        const std::uint64_t at = offsetOf(next.object);
        if (at >= table) return false;
        if (next.isKey) {
            if (!keyChecked[next.object] && keyHoldsNul(at)) return false;
            keyChecked[next.object] = true;
            continue;
        }
        const unsigned marker = data[at] >> 4;
        if (marker != 0xA && marker != 0xC && marker != 0xD) continue;  // not a container
        const auto length = lengthAt(at);
        if (!length) return false;
        const auto [items, refs] = *length;
        if (items > bounds.maxNodes) return false;  // also keeps the doubling below from wrapping
        const std::uint64_t refCount = marker == 0xD ? 2 * items : items;
        if (refCount == 0) continue;
        if (refCount > bounds.maxNodes - nodes || next.depth >= bounds.maxDepth) return false;
        if (refs + refCount * refSize > table) return false;
        nodes += refCount;
        for (std::uint64_t i = 0; i < refCount; ++i) {
            // A dictionary lists its keys' references first, then its values'.
            pending.push_back({bigEndian(data + refs + i * refSize, refSize), next.depth + 1, marker == 0xD && i < items});
        }
    }
    return true;
}

PlistPtr parse(std::string_view bytes, const Bounds& bounds) {
    if (bytes.empty() || bytes.size() > UINT32_MAX || !isSafeToDecode(bytes, bounds)) return nullptr;
    plist_t root = nullptr;
    plist_from_memory(bytes.data(), static_cast<uint32_t>(bytes.size()), &root);
    PlistPtr tree(root);
    if (!tree) return nullptr;
    // An XML list's nesting shows only once it is parsed (libplist parses XML without
    // recursion, but frees every tree with it).
    if (const std::size_t depth = depthOf(tree.get()); depth > bounds.maxDepth) {
        freeDeepTree(std::move(tree), depth);
        return nullptr;
    }
    return tree;
}

std::optional<std::string> stringOf(plist_t node) {
    if (node == nullptr || plist_get_node_type(node) != PLIST_STRING) return std::nullopt;
    uint64_t length = 0;
    const char* text = plist_get_string_ptr(node, &length);
    if (text == nullptr) return std::nullopt;
    return std::string(text, static_cast<std::size_t>(length));
}

void forEachItem(plist_t array, const std::function<void(plist_t item)>& visit) {
    if (array == nullptr || plist_get_node_type(array) != PLIST_ARRAY) return;
    plist_array_iter raw = nullptr;
    plist_array_new_iter(array, &raw);
    const MallocPtr<void> iterator(raw);
    for (;;) {
        plist_t item = nullptr;
        plist_array_next_item(array, iterator.get(), &item);
        if (item == nullptr) return;
        visit(item);
    }
}

void forEachEntry(plist_t dictionary, const std::function<void(const char* key, plist_t value)>& visit) {
    if (dictionary == nullptr || plist_get_node_type(dictionary) != PLIST_DICT) return;
    plist_dict_iter raw = nullptr;
    plist_dict_new_iter(dictionary, &raw);
    const MallocPtr<void> iterator(raw);
    for (;;) {
        char* rawKey = nullptr;
        plist_t value = nullptr;
        plist_dict_next_item(dictionary, iterator.get(), &rawKey, &value);
        const MallocPtr<char> key(rawKey);
        if (key == nullptr) return;
        visit(key.get(), value);
    }
}

}  // namespace kestrane::plist
