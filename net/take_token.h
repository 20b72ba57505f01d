// Splitting a text at a delimiter, the step of every parser of the transport
// and the FTP client.
#pragma once

#include <string>

namespace net {

// Finds the first occurrence of delimiter in text and gives the part before
// it; with remove, text becomes the part after the delimiter. When the
// delimiter does not occur, gives all of text (and with remove, empties it).
// A match never starts on the second byte of a GBK double-byte character,
// except that a delimiter of the single byte 0 is searched byte by byte.
// Without case_sensitive, the ASCII letters a to z match their upper case.
std::string TakeToken(std::string& text, const std::string& delimiter = " ", bool remove = true,
                      bool case_sensitive = true);

// The 0-based position of the first match of delimiter in text by the rules
// of TakeToken, or std::string::npos.
size_t FindToken(const std::string& text, const std::string& delimiter, bool case_sensitive = true);

}  // namespace net
