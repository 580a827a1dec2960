// Owning holders for the ICU objects of the spell checker, so that no path forgets a
// ubrk_close.
#pragma once

#include <unicode/ubrk.h>

#include <memory>

namespace kestrane::spelling {

struct BreakIteratorClose {
    void operator()(UBreakIterator* breaks) const {
        if (breaks != nullptr) ubrk_close(breaks);
    }
};
// A break iterator (ubrk_open), closed when the holder goes.
using BreakIteratorPtr = std::unique_ptr<UBreakIterator, BreakIteratorClose>;

}  // namespace kestrane::spelling
