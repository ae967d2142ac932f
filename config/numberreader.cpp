#include "config/numberreader.h"

#include <sys/stat.h>

#include <algorithm>
#include <atomic>
#include <charconv>
#include <cmath>
#include <cstring>
#include <limits>
#include <system_error>

#include "config/fatal.h"
#include "config/internal/bytesource.h"
#include "config/output.h"

namespace femtokit {

namespace {

std::atomic<std::uint64_t> budget{kDefaultMemoryBudget};

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// White space of the C locale.
bool IsSpace(int c) { return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r'; }

double Gigabytes(std::uint64_t bytes) { return static_cast<double>(bytes) / 1.0e9; }

}  // namespace

void SetMemoryBudget(std::uint64_t bytes) { budget.store(bytes); }
std::uint64_t GetMemoryBudget() { return budget.load(); }

std::uint64_t SaturatingProduct(std::uint64_t a, std::uint64_t b) {
  std::uint64_t product;
  if (__builtin_mul_overflow(a, b, &product)) return std::numeric_limits<std::uint64_t>::max();
  return product;
}

void CheckTableSize(const std::string &file, const std::string &what, std::uint64_t count,
                    std::uint64_t elementbytes) {
  const std::uint64_t bytes = SaturatingProduct(count, elementbytes);
  if (bytes <= GetMemoryBudget()) return;
  FatalFile(file, "%s asks for a table of %llu values (%.3g GB), more than the memory budget of %.3g GB\n",
            what.c_str(), static_cast<unsigned long long>(count), Gigabytes(bytes), Gigabytes(GetMemoryBudget()));
}

namespace {
bool IntegerOf(std::string_view word, long long &value) {
  std::size_t i = 0;
  const bool negative = !word.empty() && word[0] == '-';
  if (!word.empty() && (word[0] == '-' || word[0] == '+')) i = 1;
  if (i == word.size()) return false;
  unsigned long long magnitude = 0;
  const unsigned long long limit =
      negative ? static_cast<unsigned long long>(std::numeric_limits<long long>::max()) + 1
               : static_cast<unsigned long long>(std::numeric_limits<long long>::max());
  for (; i < word.size(); ++i) {
    if (!IsDigit(word[i])) return false;
    const unsigned digit = static_cast<unsigned>(word[i] - '0');
    if (magnitude > (limit - digit) / 10) return false;  // beyond long long
    magnitude = magnitude * 10 + digit;
  }
  value = negative ? static_cast<long long>(0 - magnitude) : static_cast<long long>(magnitude);
  return true;
}
}  // namespace

bool ParseInteger(const std::string &word, long long &value) { return IntegerOf(word, value); }

namespace {

enum class Kind { Number, NotFinite, Malformed };

// Reads a whole word as a decimal number; see ParseNumber.
Kind Classify(std::string_view word, double &value) {
  // Fast path: from_chars reads the whole word to a finite value. Its syntax
  // is the word syntax above (less a leading '+', taken by the slow path)
  // apart from "inf" and "nan" forms, which give no finite value.
  if (!word.empty() && word[0] != '+') {
    const auto fast = std::from_chars(word.data(), word.data() + word.size(), value, std::chars_format::general);
    if (fast.ec == std::errc() && fast.ptr == word.data() + word.size() && std::isfinite(value)) return Kind::Number;
  }
  // Syntax first: [sign] digits [. digits] [e [sign] digits], at least one mantissa digit.
  const std::size_t n = word.size();
  std::size_t i = 0;
  if (i < n && (word[i] == '+' || word[i] == '-')) ++i;
  const std::size_t mantissa = i;
  long long digits = 0;
  long long point = -1;         // number of mantissa digits before the decimal point
  long long firstnonzero = -1;  // index of the first non-zero mantissa digit
  for (; i < n; ++i) {
    if (IsDigit(word[i])) {
      if (firstnonzero < 0 && word[i] != '0') firstnonzero = digits;
      ++digits;
    } else if (word[i] == '.' && point < 0) {
      point = digits;
    } else {
      break;
    }
  }
  if (digits == 0) {
    // "nan", "inf", "infinity" in any case, with or without a sign.
    std::string rest;
    for (std::size_t j = mantissa; j < n; ++j) rest += static_cast<char>(word[j] | 0x20);
    return (rest == "nan" || rest == "inf" || rest == "infinity") ? Kind::NotFinite : Kind::Malformed;
  }
  long long exponent = 0;
  if (i < n && (word[i] == 'e' || word[i] == 'E')) {
    ++i;
    bool negative = false;
    if (i < n && (word[i] == '+' || word[i] == '-')) negative = word[i++] == '-';
    if (i == n) return Kind::Malformed;
    for (; i < n; ++i) {
      if (!IsDigit(word[i])) return Kind::Malformed;
      if (exponent < 100000) exponent = exponent * 10 + (word[i] - '0');  // far beyond any double already
    }
    if (negative) exponent = -exponent;
  }
  if (i != n) return Kind::Malformed;

  // from_chars takes no leading '+'.
  const char *begin = word.data() + mantissa - (word[0] == '-' ? 1 : 0);
  const auto result = std::from_chars(begin, word.data() + n, value, std::chars_format::general);
  if (result.ec == std::errc() && result.ptr == word.data() + n)
    return std::isfinite(value) ? Kind::Number : Kind::NotFinite;
  if (result.ec != std::errc::result_out_of_range || firstnonzero < 0) return Kind::Malformed;
  // Out of range: below the smallest subnormal it is zero, above the largest
  // double no number. The decimal exponent of the first significant digit
  // tells the two apart.
  const long long intdigits = point < 0 ? digits : point;
  if (exponent + intdigits - firstnonzero - 1 >= 0) return Kind::NotFinite;
  value = word[0] == '-' ? -0.0 : 0.0;
  return Kind::Number;
}

}  // namespace

bool ParseNumber(const std::string &word, double &value) {
  double v;
  if (Classify(word, v) != Kind::Number) return false;
  value = v;
  return true;
}

const char *NumberFault(std::string_view word, double &value) {
  if (word.size() > kMaxNumberWord) return "longer than 64 characters, no number";
  switch (Classify(word, value)) {
    case Kind::Number:
      return nullptr;
    case Kind::NotFinite:
      return "not a finite number";
    case Kind::Malformed:
      break;
  }
  return "not a number";
}

std::string IntegerFault(std::string_view word, long long min, long long max, long long &value) {
  if (word.size() > kMaxNumberWord) return "longer than 64 characters, no number";
  if (!IntegerOf(word, value)) {
    // Sign and digits that do not fit are out of range; anything else is no integer.
    const std::size_t start = (!word.empty() && (word[0] == '+' || word[0] == '-')) ? 1 : 0;
    const bool digitsonly = word.size() > start && word.find_first_not_of("0123456789", start) == std::string::npos;
    return digitsonly ? "out of range" : "not an integer";
  }
  if (value < min || value > max) return Format("out of range (%lld ... %lld)", min, max);
  return std::string();
}

std::string QuotedWord(std::string_view word) {
  std::string shown;
  for (std::size_t i = 0; i < word.size() && i < 40; ++i) {
    const unsigned char c = static_cast<unsigned char>(word[i]);
    shown += (c >= 0x20 && c < 0x7f) ? static_cast<char>(c) : '?';
  }
  if (word.size() > 40) shown += "...";
  return "'" + shown + "'";
}

NumberReader::NumberReader(const std::string &filename)
    : filename_(filename), file_(std::fopen(filename.c_str(), "r")) {}

bool NumberReader::NextWord(const char *what) {
  word_.clear();
  int c;
  // Skip white space.
  while ((c = std::getc(file_.get())) != EOF && IsSpace(c)) {
    if (c == '\n') {
      ++line_;
      column_ = 0;
    } else {
      ++column_;
    }
  }
  if (c == EOF) {
    if (std::ferror(file_.get())) FatalFile(filename_, "Error reading %s\n", filename_.c_str());
    return false;
  }
  wordline_ = line_;
  wordcolumn_ = column_ + 1;
  while (c != EOF && !IsSpace(c)) {
    ++column_;
    if (word_.size() == kMaxNumberWord) {
      word_.push_back(static_cast<char>(c));
      Refuse(what, "longer than 64 characters, no number");
    }
    word_.push_back(static_cast<char>(c));
    c = std::getc(file_.get());
  }
  if (c == '\n') {
    ++line_;
    column_ = 0;
  } else if (c != EOF) {
    ++column_;
  } else if (std::ferror(file_.get())) {
    FatalFile(filename_, "Error reading %s\n", filename_.c_str());
  }
  return true;
}

void NumberReader::Refuse(const char *what, const char *reason) const {
  FatalFile(filename_, "%s: %s %s is %s\n", Where().c_str(), what, QuotedWord(word_).c_str(), reason);
}

bool NumberReader::Next(double &value, const char *what) {
  if (!NextWord(what)) return false;
  if (const char *fault = NumberFault(word_, value)) Refuse(what, fault);
  return true;
}

bool NumberReader::Next(long long &value, long long min, long long max, const char *what) {
  if (!NextWord(what)) return false;
  const std::string fault = IntegerFault(word_, min, max, value);
  if (!fault.empty()) Refuse(what, fault.c_str());
  return true;
}

std::string NumberReader::Where() const {
  return Format("%s, line %ld, column %ld", filename_.c_str(), wordline_, wordcolumn_);
}

bool NumberReader::AtEnd() {
  int c;
  while ((c = std::getc(file_.get())) != EOF) {
    if (!IsSpace(c)) {
      std::ungetc(c, file_.get());
      return false;
    }
    if (c == '\n') {
      ++line_;
      column_ = 0;
    } else {
      ++column_;
    }
  }
  return true;
}

void NumberReader::WarnIfTrailing() {
  if (AtEnd()) return;
  Warn("Warning: %s, line %ld, column %ld: text after the last value is ignored\n", filename_.c_str(), line_,
       column_ + 1);
}

std::uint64_t NumberReader::BytesLeft() {
  struct stat st;
  if (fstat(fileno(file_.get()), &st) != 0 || !S_ISREG(st.st_mode)) return std::numeric_limits<std::uint64_t>::max();
  const long position = std::ftell(file_.get());
  if (position < 0 || static_cast<std::uint64_t>(position) > static_cast<std::uint64_t>(st.st_size)) return 0;
  return static_cast<std::uint64_t>(st.st_size) - static_cast<std::uint64_t>(position);
}

LineReader::LineReader(const std::string &filename, bool hashcomments)
    : filename_(filename), source_(std::make_unique<ByteSource>(filename)), hashcomments_(hashcomments) {
  if (source_->IsOpen()) buffer_.resize(std::size_t(1) << 20);
}

LineReader::~LineReader() = default;

bool LineReader::IsOpen() const { return source_->IsOpen(); }
bool LineReader::Compressed() const { return source_->Compressed(); }
std::size_t LineReader::BytesConsumed() const { return source_->Consumed(); }

bool LineReader::Refill() {
  if (eof_) return false;
  const std::size_t left = end_ - begin_;
  if (begin_ > 0) {
    if (left > 0) std::memmove(buffer_.data(), buffer_.data() + begin_, left);
    begin_ = 0;
    end_ = left;
  }
  if (end_ == buffer_.size()) buffer_.resize(2 * buffer_.size());  // a line longer than the buffer
  const std::size_t got = source_->Read(buffer_.data() + end_, buffer_.size() - end_);
  if (got == 0) {
    eof_ = true;
    return false;
  }
  end_ += got;
  return true;
}

bool LineReader::Next() {
  words_.clear();
  text_ = std::string_view();
  if (!source_->IsOpen()) return false;
  std::size_t scanned = begin_;  // bytes before this hold no newline
  const char *newline;
  while ((newline = static_cast<const char *>(
              std::memchr(buffer_.data() + scanned, '\n', end_ - scanned))) == nullptr) {
    const std::size_t offset = scanned - begin_;
    const bool more = Refill();
    scanned = begin_ + offset;
    if (!more) break;
  }
  std::size_t length;
  if (newline) {
    length = static_cast<std::size_t>(newline - (buffer_.data() + begin_));
    terminated_ = true;
  } else {
    if (begin_ == end_) return false;  // the end of the file
    length = end_ - begin_;
    terminated_ = false;
  }
  text_ = std::string_view(buffer_.data() + begin_, length);
  begin_ += length + (newline ? 1 : 0);
  ++line_;
  std::size_t stop = text_.size();
  if (hashcomments_) stop = std::min(stop, text_.find('#'));
  const char *t = text_.data();
  std::size_t i = 0;
  while (true) {
    while (i < stop && IsSpace(static_cast<unsigned char>(t[i]))) ++i;
    if (i >= stop) break;
    const std::size_t start = i;
    while (i < stop && !IsSpace(static_cast<unsigned char>(t[i]))) ++i;
    words_.emplace_back(start, i - start);
  }
  return true;
}

bool LineReader::NextWithWords() {
  while (Next())
    if (!words_.empty()) return true;
  return false;
}

double LineReader::Number(std::size_t i, const char *what) const {
  double value;
  if (const char *fault = NumberFault(Word(i), value))
    FatalFile(filename_, "%s: %s %s is %s\n", Where(i).c_str(), what, QuotedWord(Word(i)).c_str(), fault);
  return value;
}

long long LineReader::Integer(std::size_t i, long long min, long long max, const char *what) const {
  long long value;
  const std::string fault = IntegerFault(Word(i), min, max, value);
  if (!fault.empty())
    FatalFile(filename_, "%s: %s %s is %s\n", Where(i).c_str(), what, QuotedWord(Word(i)).c_str(), fault.c_str());
  return value;
}

bool LineReader::IsNumber(std::size_t i, double &value) const { return NumberFault(Word(i), value) == nullptr; }

bool LineReader::IsInteger(std::size_t i, long long &value) const {
  const std::string_view word = Word(i);
  return word.size() <= kMaxNumberWord && IntegerOf(word, value);
}

std::string LineReader::Where() const { return Format("%s, line %ld", filename_.c_str(), line_); }

std::string LineReader::Where(std::size_t i) const {
  return Format("%s, line %ld, column %zu", filename_.c_str(), line_, words_[i].first + 1);
}

void LineReader::ExpectWords(std::size_t n, const char *what) const {
  if (words_.size() == n) return;
  FatalFile(filename_, "%s: %s needs %zu numbers, the line holds %zu words\n", Where().c_str(), what, n,
            words_.size());
}

}  // namespace femtokit
