// A decoder of binary property lists ("bplist00", as written by Apple's tools and by Python's
// plistlib), which feeds the same events to a sink as the XML reader does, so that one builder
// serves both forms. Values arrive as the text their XML form would hold: integers in decimal,
// reals as %.17g, dates in ISO 8601, data as base64.
#pragma once

#include <string_view>

#include "expected.h"
#include "plist_sink.h"

namespace kestrane::musiclibrary {

// Whether the first bytes of a document are those of a binary property list.
bool isBinaryPlist(std::string_view firstBytes);

// Decodes a whole binary property list held in memory (borrowed for the call). Errors have the
// code PlistError::malformed and the message "object N: reason" (or a reason alone for a damaged header
// or trailer).
Expected<void> scanBinaryPlist(std::string_view document, PlistSink& sink);

}  // namespace kestrane::musiclibrary
