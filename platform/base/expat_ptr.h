// An owning holder for an expat parser, freed when the holder goes (XML_ParserFree).
#pragma once

#include <expat.h>

#include <memory>
#include <type_traits>

namespace kestrane {

struct ParserFree {
    void operator()(XML_Parser parser) const {
        if (parser != nullptr) XML_ParserFree(parser);
    }
};
// XML_Parser is a pointer to expat's parser structure.
using ParserPtr = std::unique_ptr<std::remove_pointer_t<XML_Parser>, ParserFree>;

}  // namespace kestrane
