// The parsed form of a directory listing: one entry per line, with name,
// size, modification date and kind. The layout is recognised from the first
// line (DetectFormat) and every line is then parsed by it (ParseListing).
// A line that cannot be read is skipped and counted, the entries around it
// stay; ParseListing itself never raises.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "net/exceptions.h"

namespace ftp {

enum TIdFTPListFormat : uint8_t {
  flfNone = 0,       // lines kept as received, no field filled
  flfDos = 1,        // DOS-style lines
  flfUnix = 2,       // Unix long-listing lines
  flfVax = 3,        // parsed exactly like flfUnix
  flfNoDetails = 4,  // one name per line
  flfUnknown = 5,    // every line fails
  flfCustom = 6,     // parsed by the custom-line handler
};

// The numbers are what the application tests.
enum TFTPListItemType : uint8_t {
  litDirectory = 0,
  litFile = 1,
  litSymbolicLink = 2,
};

// Raised for a listing of unknown layout, and for flfCustom without a
// handler: "Unknown FTP listing format".
class EIdInvalidFTPListingFormat : public net::EIdException {
 public:
  EIdInvalidFTPListingFormat() : net::EIdException("Unknown FTP listing format") {}
};

// A Unix line that cannot be read: too few columns, no date in any layout
// the parser knows, an impossible date or time, no name, a device. ParseListing
// catches it like any error of a line.
class EIdInvalidFTPListLine : public net::EIdException {
 public:
  using net::EIdException::EIdException;
};

class TIdFTPListItem {
 public:
  // Written out rather than defaulted: a defaulted constructor makes
  // TIdFTPListItem() zero the whole entry before setting the initial values,
  // and a listing builds one entry per line.
  TIdFTPListItem() {}  // NOLINT(modernize-use-equals-default)
  virtual ~TIdFTPListItem() = default;

  // Copies every field of source.
  virtual void CopyValuesFrom(const TIdFTPListItem& source);

  int64_t EntrySize = 0;
  int32_t LinkCount = 0;
  TFTPListItemType EntryKind = litFile;  // beside LinkCount: no padding of its own
  std::string RawLine;
  std::string EntryName;
  std::string GroupRights = "???";
  std::string GroupText = "????????";
  std::string OwnerRights = "???";
  std::string OwnerText = "????????";
  std::string OtherRights = "???";
  double ModifiedAt = 0;  // local time as listed, days since 1899-12-30
  std::string LinkTarget;
};

// Fills an entry of an flfCustom listing from its RawLine.
using TIdOnParseCustomListFormat = std::function<void(TIdFTPListItem& AItem)>;

class TIdFTPListItems {
 public:
  // Gives the local date and time as days since 1899-12-30.
  using ClockFunction = std::function<double()>;

  TIdFTPListItems();
  virtual ~TIdFTPListItems();
  TIdFTPListItems(const TIdFTPListItems&) = delete;
  TIdFTPListItems& operator=(const TIdFTPListItems&) = delete;

  int Count() const { return static_cast<int>(count_); }
  // 0-based; std::out_of_range outside 0 to Count() - 1.
  TIdFTPListItem& Items(int index);
  const TIdFTPListItem& Items(int index) const;
  // Appends an entry with the initial field values and returns it. Entries
  // never move: a reference stays valid until RemoveAll or destruction.
  TIdFTPListItem& AddEntry();
  void RemoveAll();

  // The layout of a listing whose first line is Line; flfNoDetails when
  // Details is false.
  virtual TIdFTPListFormat DetectFormat(const std::string& Line, bool Details);
  // Fills an flfCustom entry through OnParseCustomListFormat; raises
  // EIdInvalidFTPListingFormat when no handler is set.
  virtual void ParseCustomLine(TIdFTPListItem& Entry);

  // Rebuilds the entries from Lines by DetectedFormat. Blank lines (empty,
  // or spaces and tabs only) make no entry; a first line "total ..." of a
  // Unix listing is skipped; a line that raises makes no entry and is
  // counted in SkippedLines, and parsing goes on with the next line. A
  // listing none of whose lines reads is empty.
  void ParseListing(const std::vector<std::string>& Lines);
  // The lines the last ParseListing could not read.
  int SkippedLines() const { return skipped_lines_; }
  // Fills Entry from its RawLine by DetectedFormat.
  void ParseEntry(TIdFTPListItem& Entry);

  // Where the current date comes from (the year of a "Mar 5 14:30" line,
  // the two-digit years of DOS lines); platform::Now by default. Tests set a
  // fixed day here.
  void SetClock(ClockFunction clock);

  TIdFTPListFormat DetectedFormat = flfUnix;
  TIdOnParseCustomListFormat OnParseCustomListFormat;

 private:
  struct Today {
    int year = 0;
    int month = 0;
    int day = 0;
  };

  // ParseEntry's work on raw_line, a text equal to Entry.RawLine. A listing
  // passes its input line, which copying it into RawLine has just brought
  // into the cache; reading the fresh copy instead would wait for its memory.
  void ParseLine(TIdFTPListItem& Entry, std::string_view raw_line);
  void ParseDosLine(TIdFTPListItem& Entry, std::string_view raw_line);
  void ParseUnixLine(TIdFTPListItem& Entry, std::string_view raw_line);
  // The Unix line read from its date outwards, for the lines whose columns
  // are not where ParseUnixLine expects them; false when it finds no date
  // among the first 32 columns.
  bool ParseUnixLineAroundDate(TIdFTPListItem& Entry, std::string_view line);
  // Today's date: the one ParseListing read when it started, or the clock's
  // now for a ParseEntry outside a listing.
  Today CurrentDate() const;
  // Drops the last entry (the one of a line that failed).
  void RemoveLastEntry();

  // Entries live in blocks of kBlockSize, so a listing of a million lines
  // costs thousands of block allocations, not a million. A block reserves
  // room for kBlockSize entries and each entry is built only when AddEntry
  // hands it out, right before the line fills it; a block never grows past
  // its reservation, so entries never move.
  static constexpr size_t kBlockSize = 256;
  std::vector<std::vector<TIdFTPListItem>> blocks_;
  size_t count_ = 0;
  int skipped_lines_ = 0;
  ClockFunction clock_;
  // One listing is read against one date, taken when ParseListing starts.
  bool listing_date_set_ = false;
  Today listing_date_;
};

}  // namespace ftp
