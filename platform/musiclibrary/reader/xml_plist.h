// A streaming reader of XML property lists. It reads the subset of XML that property lists use
// (elements without attributes that matter, the five predefined entities, character
// references, CDATA, comments, processing instructions and a DOCTYPE without an internal
// subset) from UTF-8 bytes, normalising line ends as they arrive. Errors carry the line and the
// column (in characters) where they were found.
#pragma once

#include "expected.h"
#include "plist_sink.h"

namespace kestrane::musiclibrary {

// Reads the document that source supplies (UTF-8; fromUtf16: the UTF-8 form of a UTF-16
// document, whose declaration may then name UTF-16). Errors: PlistError::malformed,
// "line L, column C: reason".
Expected<void> scanXmlPlist(const ByteSource& source, PlistSink& sink, bool fromUtf16);

}  // namespace kestrane::musiclibrary
