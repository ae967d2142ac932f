#ifndef FEMTOKIT_CONFIG_NUMBERREADER_H
#define FEMTOKIT_CONFIG_NUMBERREADER_H

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "config/fileio.h"

namespace femtokit {

// ---------------------------------------------------------------------------
// Sizes of tables built from input.
//
// Every table whose size comes from a file is checked against the memory
// budget before it is allocated: the largest number of bytes one table may
// take. 2 GiB by default; process-wide.
constexpr std::uint64_t kDefaultMemoryBudget = std::uint64_t(2) << 30;
void SetMemoryBudget(std::uint64_t bytes);
std::uint64_t GetMemoryBudget();

// a*b, saturated at UINT64_MAX instead of wrapping.
std::uint64_t SaturatingProduct(std::uint64_t a, std::uint64_t b);

// Fatal, about `file` (may be empty), when `count` elements of `elementbytes`
// bytes each exceed the memory budget. `what` begins the message: it names the
// file and the settings that gave the count, for example
// "array parameter file a.dat: LMAX=4, NRADIAL=60".
void CheckTableSize(const std::string &file, const std::string &what, std::uint64_t count,
                    std::uint64_t elementbytes);

// ---------------------------------------------------------------------------
// Whole-word number syntax (the C locale's, whatever the process locale is).
//
// A number word is an optional sign, decimal digits with at most one decimal
// point (at least one digit), and an optional exponent "e"/"E", sign, digits.
// Hexadecimal forms, "nan", "inf" and anything after the number are not
// numbers. ParseNumber gives false also for a value beyond the range of a
// double (1e999); a value below the smallest subnormal reads as 0.
bool ParseNumber(const std::string &word, double &value);
// An optional sign and decimal digits, within the range of long long.
bool ParseInteger(const std::string &word, long long &value);

// Words longer than this are no numbers (a double needs at most 25 characters
// in any of the formats the library writes).
constexpr std::size_t kMaxNumberWord = 64;

// Why a word is not a finite number (or, with the range, not an integer in
// [min, max]); nullptr/empty when it is one, with the value stored. These are
// the reasons every reader of numeric text gives: "not a number", "not a
// finite number", "longer than 64 characters, no number", "not an integer",
// "out of range", "out of range (min ... max)".
const char *NumberFault(std::string_view word, double &value);
std::string IntegerFault(std::string_view word, long long min, long long max, long long &value);

// Reads the whitespace-separated numbers of a text file strictly: every word
// must be wholly a number (above), finite, and for counts an integer in the
// caller's range. A word that is not is fatal, with a message naming the file,
// the line and column, what was being read and the word itself. The reader
// never holds more than one word of kMaxNumberWord characters, so no input can
// make it grow.
class NumberReader {
 public:
  // Opens the file for reading; check IsOpen() (each reader words its own
  // message for a missing file).
  explicit NumberReader(const std::string &filename);

  bool IsOpen() const { return file_ != nullptr; }
  const std::string &filename() const { return filename_; }

  // The next word as a finite double; false at the end of the file. `what`
  // names the quantity in the message ("RADSTEP", "value 3", ...).
  bool Next(double &value, const char *what);
  // The next word as an integer within [min, max]; false at the end of the file.
  bool Next(long long &value, long long min, long long max, const char *what);

  // "<file>, line L, column C" of the last word read, for callers' messages.
  std::string Where() const;

  // True when only white space is left.
  bool AtEnd();
  // Warns, naming the file and position, when anything but white space follows.
  void WarnIfTrailing();

  // Bytes from the current position to the end of a regular file; UINT64_MAX
  // when the size is unknown (pipes, devices).
  std::uint64_t BytesLeft();
  // The most values that can follow in the file (each takes a character and a
  // separator): what a reader may reserve for an announced count.
  std::uint64_t MostValuesLeft() { return BytesLeft() / 2 + 1; }

 private:
  // Reads the next word into word_, with its line and column; false at the end.
  bool NextWord(const char *what);
  [[noreturn]] void Refuse(const char *what, const char *reason) const;

  std::string filename_;
  FilePtr file_;
  std::string word_;
  long line_ = 1, column_ = 0;          // position of the next character
  long wordline_ = 0, wordcolumn_ = 0;  // position of word_
};

class ByteSource;

// Reads a text file line by line for formats whose lines mean something (a
// table row, an event record): each line is split into whitespace-separated
// words, and a word is taken as a number by the same rules, with the same
// messages, as NumberReader. Lines may be of any length. The file is read in
// blocks of 1 MiB (a line longer than a block widens the buffer): the reader
// holds about one block, whatever the size of the file. A gzip-compressed
// file (told by its first bytes) is read decompressed, when the build has zlib
// (fatal, naming the file, otherwise).
class LineReader {
 public:
  // With hashcomments, '#' and everything after it on a line are no words.
  explicit LineReader(const std::string &filename, bool hashcomments = true);
  ~LineReader();
  LineReader(const LineReader &) = delete;
  LineReader &operator=(const LineReader &) = delete;

  bool IsOpen() const;
  const std::string &filename() const { return filename_; }
  // True when the file is gzip-compressed.
  bool Compressed() const;
  // Bytes taken from the file so far (compressed bytes of a compressed file),
  // for progress reports.
  std::size_t BytesConsumed() const;

  // The next line; false at the end of the file.
  bool Next();
  // The next line that holds a word (blank and comment lines skipped).
  bool NextWithWords();

  long Line() const { return line_; }
  // False for a last line that the end of the file cut before its newline
  // (what a truncated file ends with).
  bool Terminated() const { return terminated_; }
  // The line without its newline (comments included); valid until Next.
  std::string_view Text() const { return text_; }
  std::size_t Size() const { return words_.size(); }
  std::string_view Word(std::size_t i) const { return text_.substr(words_[i].first, words_[i].second); }

  // Word i as a finite number, or an integer within [min, max]; fatal
  // otherwise, naming file, line, column, `what` and the word.
  double Number(std::size_t i, const char *what) const;
  long long Integer(std::size_t i, long long min, long long max, const char *what) const;
  // The same tests without the error.
  bool IsNumber(std::size_t i, double &value) const;
  bool IsInteger(std::size_t i, long long &value) const;

  // "<file>, line L" and "<file>, line L, column C" (of word i).
  std::string Where() const;
  std::string Where(std::size_t i) const;
  // Fatal unless the line holds exactly n words: "<file>, line L: <what> needs
  // n numbers, the line holds m words" (extra text is refused, not ignored).
  void ExpectWords(std::size_t n, const char *what) const;

 private:
  // Moves the unread bytes to the front of the buffer (widening it when they
  // fill it) and reads more; false at the end of the file.
  bool Refill();

  std::string filename_;
  std::unique_ptr<ByteSource> source_;
  bool hashcomments_;
  std::vector<char> buffer_;
  std::size_t begin_ = 0, end_ = 0;  // unread bytes of buffer_
  bool eof_ = false;
  std::string_view text_;
  std::vector<std::pair<std::size_t, std::size_t>> words_;  // offset and length in text_
  long line_ = 0;
  bool terminated_ = true;
};

// The word as a message shows it: printable characters only, at most 40 of them.
std::string QuotedWord(std::string_view word);

}  // namespace femtokit

#endif
