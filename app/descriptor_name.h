// What the descriptor retrieval reads from an entry's name: its version
// number, and the order of the remote listing table.
#pragma once

#include <cstdint>
#include <string>

namespace app {

// The version number of a descriptor named "<stem>" plus four characters
// (".ini"): the stem's value when the integer rule accepts it; otherwise the
// magnitude of the digits the rule read before the first character it
// rejected, without the sign ("12a" gives 12, "-7a" gives 7); 0 when it read
// no digit (also for names of four characters or fewer). 64 bits wide, so a
// stem too long for 32 bits still counts as the large number it reads as.
int64_t DescriptorVersion(const std::string& name);

// The order of the remote listing table: letter case significant; runs of
// ASCII digits compare by their value (so "9.ini" comes before "10.ini"),
// everything else by byte value; names that compare equal so far (as "07"
// and "7") are ordered by their bytes. A strict weak order on byte strings.
bool RemoteNameLess(const std::string& a, const std::string& b);

}  // namespace app
