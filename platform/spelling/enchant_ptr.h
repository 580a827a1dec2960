// An owning holder for the suggestion lists that Enchant hands back, which go back to the
// dictionary that made them (enchant_dict_free_string_list).
#pragma once

#include <enchant.h>

#include <cstddef>
#include <utility>

namespace kestrane::spelling {

class Suggestions {
public:
    // The suggestions of dict for the UTF-8 word (enchant_dict_suggest).
    Suggestions(EnchantDict* dict, const char* word, ssize_t length)
        : dict_(dict), list_(enchant_dict_suggest(dict, word, length, &count_)) {}
    Suggestions(const Suggestions&) = delete;
    Suggestions& operator=(const Suggestions&) = delete;
    ~Suggestions() {
        if (list_ != nullptr) enchant_dict_free_string_list(dict_, list_);
    }

    std::size_t size() const { return list_ != nullptr ? count_ : 0; }
    const char* operator[](std::size_t i) const { return list_[i]; }

private:
    EnchantDict* dict_;
    std::size_t count_ = 0;
    char** list_;
};

}  // namespace kestrane::spelling
