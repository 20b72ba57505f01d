// The arithmetic of the transfer progress display, apart from the window so
// that it can be checked on its own.
#pragma once

#include <cstdint>
#include <string>

namespace app {

// The seconds of an elapsed time in days, as the transfer display counts
// them: the time of day of the value rounded to milliseconds (whole days
// dropped), its hours, minutes and seconds summed as an unsigned 16-bit
// number (so they wrap to 0 after 65535), plus the milliseconds.
double TransferSeconds(double elapsed_days);

// Replaces out with prefix followed by the speed in the pattern "0.00 KB/s":
// at least one digit before the point, two after it, rounded half away from
// zero, no thousands separators. Reuses out's storage.
void FormatSpeedText(const std::string& prefix, double speed, std::string& out);

// The current-file bar's maximum for a reported size: the size rounded to a
// whole number; 0 for a size that is unknown (-1), negative or not a number,
// so the bar shows an empty range instead of refusing it.
int32_t BarMaximum(double expected_size);

}  // namespace app
