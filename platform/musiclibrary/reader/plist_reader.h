// Reading a property list, whatever its form: XML in UTF-8 or UTF-16 (transcoded as it streams)
// or binary, recognised by its first bytes; each form is read by its own reader into the same
// events (plist_sink.h). The bytes go through once, in chunks; no tree of the document is built.
#pragma once

#include <string_view>

#include "expected.h"
#include "plist_sink.h"
#include "xml_plist.h"

namespace kestrane::musiclibrary {

// Errors: PlistError::malformed with "line L, column C: reason" for an XML document, or
// "object N: reason" for a binary one.
Expected<void> scanPlist(const ByteSource& source, PlistSink& sink);

// The same, offering split (xml_plist.h) to a second reader when the document is XML in UTF-8;
// a document of another form abandons it before it is read.
Expected<void> scanPlist(const ByteSource& source, PlistSink& sink, XmlSplit* split);

// Convenience for tests and fuzzing: the whole document in memory.
Expected<void> scanPlist(std::string_view document, PlistSink& sink);

}  // namespace kestrane::musiclibrary
