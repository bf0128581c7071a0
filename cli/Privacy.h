// What support collect does to the logs and status document it gathers so that they carry no
// computer or user name: each name is replaced by a pseudonym ("computer-1", "user-1") that stays
// the same for that name throughout one archive, and case does not matter, as for Windows names.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace cli {

class Pseudonyms {
 public:
  // Names known before any line is read: this computer's and the running account's
  // (DOMAIN\name); either may be empty.
  Pseudonyms(std::string_view computer, std::string_view account);

  // One log line (JSON, without its line end) with every name replaced; a note in its place when
  // it is not JSON, since what it holds cannot be told apart.
  std::string LogLine(std::string_view line);
  // The status document (one JSON value) the same way.
  std::string Document(std::string_view text);
  // A free text (a note, a reason, a path): profile folders' names and every name known so far
  // replaced where each stands as a word of its own.
  std::string Text(std::string_view text);

 private:
  struct Name {
    std::string folded;  // upper case
    std::string pseudonym;
  };
  const std::string& Of(std::vector<Name>& names, std::string_view name, const char* kind);
  std::string Account(std::string_view account);
  template <typename Json>
  void Scrub(Json& json, std::string_view key);

  std::vector<Name> computers_;
  std::vector<Name> users_;
};

// Splits what is read in chunks into lines: each complete line goes to the function, without its
// line end; Finish passes the last line when it has no line end. A line longer than `longest` is
// dropped, whole, and passed as a note in its place (its bytes are never all held).
class LineSplitter {
 public:
  explicit LineSplitter(std::size_t longest) : longest_(longest) {}
  template <typename Take>
  void Feed(std::string_view chunk, Take&& take) {
    while (!chunk.empty()) {
      const std::size_t end = chunk.find('\n');
      const std::string_view part = chunk.substr(0, end);
      if (!tooLong_ && pending_.size() + part.size() > longest_) {
        tooLong_ = true;
        pending_.clear();
        pending_.shrink_to_fit();
      }
      if (!tooLong_) pending_ += part;
      if (end == std::string_view::npos) return;
      Pass(take);
      chunk.remove_prefix(end + 1);
    }
  }
  template <typename Take>
  void Finish(Take&& take) {
    if (!pending_.empty() || tooLong_) Pass(take);
  }

 private:
  template <typename Take>
  void Pass(Take& take) {
    if (!pending_.empty() && pending_.back() == '\r') pending_.pop_back();
    take(std::string_view(pending_), tooLong_);
    pending_.clear();
    tooLong_ = false;
  }
  std::size_t longest_;
  std::string pending_;
  bool tooLong_ = false;
};

}  // namespace cli
