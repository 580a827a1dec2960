// What the property-list readers (XML and binary) produce: a stream of events (dictionaries,
// arrays, keys and values) for a sink, and where in the document they are, for messages.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "expected.h"

namespace kestrane::musiclibrary {

enum class ValueKind { string, integer, real, date, data, boolean };

// Where the reader is in the document, for the messages of a sink: "line 12" in a text
// document, "object 345" in a binary one.
class PlistLocator {
public:
    virtual ~PlistLocator() = default;
    virtual std::string position() const = 0;
};

// Receives the document's events. Returning false stops the parse; the sink's reason is then
// reported as the error.
class PlistSink {
public:
    virtual ~PlistSink() = default;
    // The reader tells the sink where it is for the time of a scan (transfer none).
    void attach(const PlistLocator* locator) { locator_ = locator; }
    virtual bool beginDict() = 0;
    virtual bool endDict() = 0;
    virtual bool beginArray() = 0;
    virtual bool endArray() = 0;
    virtual bool key(std::string_view text) = 0;
    // The element's text with entities resolved; for booleans "true" or "false".
    virtual bool value(ValueKind kind, std::string_view text) = 0;
    virtual std::string reason() const { return "the document's structure is not the expected one"; }

protected:
    // Where the reader is, or "" outside a scan.
    std::string position() const { return locator_ != nullptr ? locator_->position() : std::string(); }

private:
    const PlistLocator* locator_ = nullptr;
};

// Supplies the next bytes: fills up to `capacity` bytes at `buffer`, returns how many (0 at the
// end), or -1 on a read error.
using ByteSource = std::function<std::ptrdiff_t(char* buffer, std::size_t capacity)>;

// The error of a document that is not a well-formed property list (or that the sink refused):
// its message is "line L, column C: reason", or "object N: reason" for a binary one.
enum class PlistError { malformed = 1 };

}  // namespace kestrane::musiclibrary
