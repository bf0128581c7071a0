// Appending a line to a log shared with other programs; see LogAppend.h.
#include "platform/LogAppend.h"

#include <algorithm>

namespace platform {
namespace {

using std::chrono::milliseconds;

// How long a writer pauses between tries at a file another program holds: short against the
// budget, long enough not to spin.
constexpr milliseconds RetryPause{10};
// A writer that finds its file rotated away under it opens the new one; this many times in a
// row means something other than our writers keeps moving the file.
constexpr int OpenTries = 8;

// Tries `step` until it is no longer Busy or the budget is spent, and takes what the tries took
// from the first Busy on from the budget. With nothing left, the first try is the only one.
template <typename Step>
TryResult Retry(LogTarget& target, WaitBudget& budget, const Step& step) {
  TryResult result = step();
  if (result != TryResult::Busy) return result;
  const milliseconds started = target.Now();
  for (;;) {
    const milliseconds left = budget.Left() - (target.Now() - started);
    if (left <= milliseconds::zero()) break;
    target.Sleep(std::min(RetryPause, left));
    result = step();
    if (result != TryResult::Busy) break;
  }
  budget.Spend(target.Now() - started);
  return result;
}

std::string Held(const char* how) {
  return std::string("another program ") + how +
         "; this run has waited for its logs as long as it may (" +
         std::to_string(LogWaitBudget.count() / 1000) + " s in all)";
}

// Closes the target when a try ends, however it ends.
class OpenFile {
 public:
  explicit OpenFile(LogTarget& target) : target_(target) {}
  ~OpenFile() { target_.Close(); }
  OpenFile(const OpenFile&) = delete;
  OpenFile& operator=(const OpenFile&) = delete;

 private:
  LogTarget& target_;
};

}  // namespace

std::string AppendWhole(LogTarget& target, const std::string& path, std::string_view line,
                        std::uint64_t rotateAt, WaitBudget& budget) {
  for (int tries = 0; tries < OpenTries; ++tries) {
    std::string error;
    const TryResult opened = Retry(target, budget, [&] { return target.Open(path, error); });
    if (opened == TryResult::Busy) return Held("has the log open and lets no one write to it");
    if (opened == TryResult::Failed) return error;
    const OpenFile open(target);
    // One writer at a time, each line in one write: lines never interleave.
    const TryResult locked = Retry(target, budget, [&] { return target.TryLock(error); });
    if (locked == TryResult::Busy) return Held("keeps the log locked");
    if (locked == TryResult::Failed) return error;
    // Another writer may have rotated the file between our open and our lock: this handle then
    // holds the older file, and the line belongs in the new one.
    if (!target.StillNamed()) continue;
    const std::optional<std::uint64_t> size = target.Size(error);
    if (!size) return error;
    // Writers waiting for the lock see the rename and follow to the new file. A file that could
    // not be renamed takes the line anyway: a longer log is better than a lost line.
    if (rotateAt > 0 && *size >= rotateAt && target.RenameToOlder()) continue;
    // A line left without its end (its writer was killed, or wrote before this took care of it)
    // is closed first, so that this line is whole on its own; a last byte that cannot be read
    // costs at most an empty line, which readers pass over.
    const bool freshLine = *size == 0 || target.LastByte() == '\n';
    std::string text(freshLine ? 0 : 1, '\n');
    text.append(line).push_back('\n');
    const std::size_t written = target.Write(text, error);
    if (written == text.size() && error.empty()) return {};
    // A short write sets no error: the disk is full. What was written is taken back, or the next
    // line would continue it.
    std::string reason = error.empty() ? target.DiskFullText() : error;
    if (!target.CutBack(*size) && written > 0) {
      reason += " (the part written could not be taken back)";
    }
    return reason;
  }
  return "the log was renamed each time it was opened";
}

}  // namespace platform
