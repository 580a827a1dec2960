// File URLs of this machine and percent-encoding: the one rule by which every component turns
// a file:// URL into a local path and a path into a URL, so that none of them disagrees about
// which file a URL names.
//
// Parsing (parseFileUrl, localPathOfFileUrl):
//   - the scheme is "file" in any case, followed by "//" and an authority, or by the path
//     itself ("file:/tmp/x", the form java.io.File.toURI writes);
//   - the authority is empty, "localhost" or this machine's host name (gethostname), in any
//     case; any other host names another machine's file and is refused;
//   - the path is absolute; every "%XX" is decoded to its byte ("%2F" too); a "%" without two
//     hex digits after it is malformed;
//   - a query ("?") or fragment ("#") is refused: neither means anything for a local file, and
//     a writer that forgot to escape a "?" or "#" in a name would otherwise make us act on
//     another file than it meant (our own URLs escape both);
//   - ".." and "." segments are kept as written: the file system resolves them as it resolves
//     any path, and removing them by text would disagree with it where a segment is a link;
//   - a U+0000, written or as "%00", is refused: it would end the path early and name another
//     file.
//   Other bytes (spaces, UTF-8) are taken as written, as the desktop's tools take them.
//
// Making (fileUrlOf): "file://" and the path with every byte but the unreserved ones and "/"
// percent-encoded, so that parsing it gives the path back.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "expected.h"

namespace kestrane::url {

// Why a text names no local file.
enum class FileUrlError {
    notFileUrl = 1,    // not a URL of the file scheme: a plain path, another scheme, not a URL
    otherHost = 2,     // a file URL of another machine
    malformed = 3,     // a file URL without an absolute path, with a bad escape, a query or a fragment
    nulCharacter = 4,  // it would name a path holding U+0000
};

// The local path that url names, or why it names none.
Expected<std::string> parseFileUrl(std::string_view url);
// The same when the reason does not matter.
std::optional<std::string> localPathOfFileUrl(std::string_view url);

// Whether the text's scheme is "file" (any case), whatever follows.
bool hasFileScheme(std::string_view url);

// The file:// URL of an absolute path. (A relative path would read as a host name.)
std::string fileUrlOf(std::string_view absolutePath);

// Every byte but the unreserved ones (letters, digits, "-._~") and those in alsoKept as %XX
// with capital hex digits: with nothing kept, a URL component such as a query value.
std::string percentEncode(std::string_view bytes, std::string_view alsoKept = {});

// The bytes of percent-encoded text; none when a "%" lacks two hex digits after it or the
// bytes would hold U+0000 (written or as "%00"), since they name a file or a folder.
std::optional<std::string> percentDecode(std::string_view text);

}  // namespace kestrane::url
