// The date and time of a DOS-style listing line, read by one fixed rule that
// does not depend on the user's regional settings.
#pragma once

#include <string_view>

namespace ftp {

// Reads "month/day/year[ time]" into a date-time value (days since
// 1899-12-30, local time as listed).
//
//   date: three numbers of one to four digits separated by "/", blanks
//         allowed before each number and each "/"; always month, day, year.
//         A year of one or two digits lies in the hundred years that begin
//         50 years before current_year ("08" is 2008 and "60" is 1960 when
//         current_year is 2008). The date must exist.
//   time: optional, after optional blanks: hours[:minutes[:seconds[.ms]]],
//         with an AM or PM marker (any letter case) before the hours or after
//         the last number. With a marker the hours are 1 to 12, 12 counting
//         as 0 and PM adding 12; without, below 24. Minutes and seconds below
//         60, milliseconds below 1000. Nothing but blanks after the date
//         means midnight; text after a time that reads is ignored; a time
//         part that does not read fails the whole text.
//
// Gives false (and leaves result alone) when the text does not read.
bool TryParseDosDate(std::string_view text, int current_year, double& result);

}  // namespace ftp
