// INI profile files. A TIniFile is bound to one file by its full path and
// keeps no copy of it: every read asks the profile service what the file holds
// now, and every write goes to disk at once, so several objects on one file
// see each other's writes and none of them is lost.
//
// Texts (file name, sections, keys, values) are GBK bytes, passed unchanged.
//
// Fixed, locale-independent formats of the typed values:
//   date       yyyy-mm-dd                  (read: 1-4 digit year, 1-2 digit month and day)
//   time       hh:nn:ss, or hh:nn:ss.zzz when there are milliseconds
//              (read: h:nn, h:nn:ss or h:nn:ss.zzz)
//   date-time  the date, a space, the time (read: also a date alone or a time alone)
//   float      the shortest text that reads back as the same double, "." as
//              decimal point (read: decimal or exponent notation, finite only)
// Dates before 1899-12-30 follow the usual convention of these values: the
// whole part counts the days, the fraction is the time of day whatever the sign.
#pragma once

#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "platform/stream.h"
#include "settings/profile.h"
#include "settings/integer_conversion.h"  // EConvertError of the typed writes

namespace settings {

class EIniFileException : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

class TCustomIniFile {
 public:
  explicit TCustomIniFile(std::string file_name) : file_name_(std::move(file_name)) {}
  virtual ~TCustomIniFile() = default;
  TCustomIniFile(const TCustomIniFile&) = delete;
  TCustomIniFile& operator=(const TCustomIniFile&) = delete;

  const std::string& FileName() const { return file_name_; }

  virtual std::string ReadTextValue(const std::string& section, const std::string& ident,
                                    const std::string& default_value) = 0;
  // Raises EIniFileException when the write is refused.
  virtual void WriteTextValue(const std::string& section, const std::string& ident,
                              const std::string& value) = 0;

  // The text converted by the integer rule, "0x..." read as "$..."; Default
  // for a missing, empty or unconvertible value.
  virtual int32_t ReadIntegerValue(const std::string& section, const std::string& ident,
                                   int32_t default_value);
  virtual void WriteIntegerValue(const std::string& section, const std::string& ident, int32_t value);
  // True when the integer read is not 0.
  virtual bool ReadBoolValue(const std::string& section, const std::string& ident, bool default_value);
  virtual void WriteBoolValue(const std::string& section, const std::string& ident, bool value);
  // Decodes two hexadecimal digits a byte, up to the first pair that is not
  // two digits, into the stream at its position (which then follows the
  // bytes). Gives the bytes from the starting position to the stream's end;
  // 0 for an empty value, which leaves the stream alone.
  virtual int64_t ReadHexValue(const std::string& section, const std::string& ident,
                               platform::Stream& stream);
  // Default for an empty value or one that does not convert (formats above).
  virtual double ReadDateValue(const std::string& section, const std::string& ident, double default_value);
  virtual double ReadDateTimeValue(const std::string& section, const std::string& ident,
                                   double default_value);
  virtual double ReadFloatValue(const std::string& section, const std::string& ident, double default_value);
  virtual double ReadTimeValue(const std::string& section, const std::string& ident, double default_value);
  // The stream's bytes from its position to its end, "0123456789ABCDEF", two
  // digits a byte, high half first.
  virtual void WriteHexValue(const std::string& section, const std::string& ident, platform::Stream& stream);
  // These raise EConvertError for a value that has no text in the format
  // (not finite, or a year outside 1 to 9999).
  virtual void WriteDateValue(const std::string& section, const std::string& ident, double value);
  virtual void WriteDateTimeValue(const std::string& section, const std::string& ident, double value);
  virtual void WriteFloatValue(const std::string& section, const std::string& ident, double value);
  virtual void WriteTimeValue(const std::string& section, const std::string& ident, double value);

  // Listings fill the caller's list, emptied first, in file order.
  virtual void ListKeys(const std::string& section, std::vector<std::string>& strings) = 0;
  virtual void ListSections(std::vector<std::string>& strings) = 0;
  // "key=value" for every key of the section.
  virtual void ListKeyValues(const std::string& section, std::vector<std::string>& strings) = 0;
  // Raises EIniFileException when refused.
  virtual void RemoveSection(const std::string& section) = 0;
  // A refusal is ignored.
  virtual void RemoveKey(const std::string& section, const std::string& ident) = 0;
  virtual void FlushFile() = 0;

 private:
  const std::string file_name_;
};

class TIniFile : public TCustomIniFile {
 public:
  // Binds the object to the file; reads and checks nothing, so the file need
  // not exist (its folder must, for writes to succeed).
  explicit TIniFile(std::string file_name) : TCustomIniFile(std::move(file_name)) {}
  // The same as the constructor, under the operation's own name.
  static std::unique_ptr<TIniFile> BindFile(std::string file_name) {
    return std::make_unique<TIniFile>(std::move(file_name));
  }
  // Flushes the file; never raises.
  ~TIniFile() override;

  // Values longer than kValueBufferSize - 1 bytes come back cut.
  static constexpr size_t kValueBufferSize = 2048;
  // Section and key listings stop at the names that fit into this buffer.
  static constexpr size_t kListBufferSize = 16384;

  std::string ReadTextValue(const std::string& section, const std::string& ident,
                            const std::string& default_value) override;
  // A refused write raises "Unable to write to <file>", followed by ": " and
  // the system's reason when there is one ("No space left on device").
  void WriteTextValue(const std::string& section, const std::string& ident,
                      const std::string& value) override;
  void ListKeys(const std::string& section, std::vector<std::string>& strings) override;
  void ListSections(std::vector<std::string>& strings) override;
  void ListKeyValues(const std::string& section, std::vector<std::string>& strings) override;
  void RemoveSection(const std::string& section) override;
  void RemoveKey(const std::string& section, const std::string& ident) override;
  void FlushFile() override;
};

// A profile file read once, when the object is made: reads and listings give
// what a TIniFile on the file gave at that moment, with the same limits
// (values cut to TIniFile::kValueBufferSize - 1 bytes, listings to the names
// that fit TIniFile::kListBufferSize), without reading the file again. For a
// file that is read whole and not written meanwhile, such as an update
// descriptor.
class TIniFileSnapshot {
 public:
  explicit TIniFileSnapshot(std::string file_name);

  const std::string& FileName() const { return file_name_; }
  std::string ReadTextValue(const std::string& section, const std::string& ident,
                            const std::string& default_value) const;
  void ListSections(std::vector<std::string>& strings) const;
  // Every section, however many: no listing buffer cuts it short. For
  // descriptors, where a section left out is a file never offered.
  void ListAllSections(std::vector<std::string>& strings) const;
  void ListKeys(const std::string& section, std::vector<std::string>& strings) const;

 private:
  std::string file_name_;
  ProfileSnapshot snapshot_;
};

}  // namespace settings
