// A streaming reader of XML property lists. It reads the subset of XML that property lists use
// (elements without attributes that matter, the five predefined entities, character
// references, CDATA, comments, processing instructions and a DOCTYPE without an internal
// subset) from UTF-8 bytes, normalising line ends as they arrive. Errors carry the line and the
// column (in characters) where they were found.
#pragma once

#include <cstddef>
#include <functional>
#include <optional>
#include <string_view>

#include "expected.h"
#include "plist_sink.h"

namespace kestrane::musiclibrary {

// Reads the document that source supplies (UTF-8; fromUtf16: the UTF-8 form of a UTF-16
// document, whose declaration may then name UTF-16). Errors: PlistError::malformed,
// "line L, column C: reason".
Expected<void> scanXmlPlist(const ByteSource& source, PlistSink& sink, bool fromUtf16);

// A document read by two readers at once: while the first reads it from its start, a second
// reads it from offset on (scanXmlPlistTail). Where the first reader finds offset to be the
// start of a key directly inside a dictionary that is a value of the top-level dictionary, it
// calls join: true means that the second reader's events stand for the rest of the document,
// and the first reader stops there with success. Anywhere else it calls abandon once and reads
// on alone, as it does when join is false.
struct XmlSplit {
    std::size_t offset = 0;
    std::function<bool()> join;
    std::function<void()> abandon;
};

// scanXmlPlist of a UTF-8 document, offering split (may be null) to a second reader.
Expected<void> scanXmlPlist(const ByteSource& source, PlistSink& sink, XmlSplit* split);

// Reads a UTF-8 document from a place a first reader may join (XmlSplit) to its end: the
// events of the rest of the second-level dictionary, of the top-level dictionary after it, and
// the document's end. Line numbers in errors count from that place.
Expected<void> scanXmlPlistTail(const ByteSource& source, PlistSink& sink);

// A place to split a document at, in window (some of its bytes): the start of a key that
// follows the end of a dictionary, as between two tracks of a library file. Whether it is one
// the first reader can join is for that reader to find.
std::optional<std::size_t> xmlSplitCandidate(std::string_view window);

}  // namespace kestrane::musiclibrary
