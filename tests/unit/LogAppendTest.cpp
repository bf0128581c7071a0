// Appending to a log others hold, rotate, fill or cut short, against a file system in memory whose
// clock moves only when a writer pauses.
#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <utility>

#include "platform/LogAppend.h"

namespace {

using namespace std::chrono_literals;
using platform::TryResult;

constexpr char DiskFull[] = "There is not enough space on the disk.";

// Files by name; a handle keeps its file when the name moves on, as on Windows.
class FakeTarget : public platform::LogTarget {
 public:
  std::map<std::string, std::shared_ptr<std::string>> files;
  int busyOpens = 0;                 // opens answered Busy before one is let through; -1: every one
  int busyLocks = 0;                 // likewise for locks
  std::function<void()> beforeLock;  // runs once, between an open and its lock
  std::optional<std::size_t> room;   // bytes the disk still takes; none: no end
  std::string writeError;            // a write fails with this, after writing what fits
  bool cutBackFails = false;
  std::chrono::milliseconds now{0};
  int opens = 0;

  std::string& File(const std::string& name) {
    auto& file = files[name];
    if (!file) file = std::make_shared<std::string>();
    return *file;
  }

  TryResult Open(const std::string& path, std::string&) override {
    ++opens;
    if (Busy(busyOpens)) return TryResult::Busy;
    File(path);
    path_ = path;
    open_ = files[path];
    return TryResult::Done;
  }
  TryResult TryLock(std::string&) override {
    if (beforeLock) std::exchange(beforeLock, {})();
    return Busy(busyLocks) ? TryResult::Busy : TryResult::Done;
  }
  bool StillNamed() override {
    const auto named = files.find(path_);
    return named != files.end() && named->second == open_;
  }
  std::optional<std::uint64_t> Size(std::string&) override { return open_->size(); }
  std::optional<char> LastByte() override { return open_->back(); }
  bool RenameToOlder() override {
    files[path_ + ".1"] = std::exchange(files[path_], nullptr);
    files.erase(path_);
    return true;
  }
  std::size_t Write(std::string_view bytes, std::string& error) override {
    const std::size_t fits = room ? std::min(*room, bytes.size()) : bytes.size();
    open_->append(bytes.substr(0, fits));
    if (room) *room -= fits;
    error = writeError;
    return fits;
  }
  bool CutBack(std::uint64_t size) override {
    if (cutBackFails) return false;
    if (room) *room += open_->size() - size;
    open_->resize(size);
    return true;
  }
  void Close() override { open_.reset(); }
  std::string DiskFullText() override { return DiskFull; }
  std::chrono::milliseconds Now() override { return now; }
  void Sleep(std::chrono::milliseconds pause) override { now += pause; }

 private:
  static bool Busy(int& count) {
    if (count == 0) return false;
    if (count > 0) --count;
    return true;
  }
  std::string path_;
  std::shared_ptr<std::string> open_;
};

constexpr char Log[] = "C:\\logs\\flashwright.log";
constexpr char Earlier[] = R"({"state":"earlier"})";
constexpr char Next[] = R"({"state":"next"})";

// A line cut short (by a full disk, a failing write, a writer killed mid-line) never joins the
// next one: what a failed write wrote is taken back, the reason is never an empty "success", and
// the next line is whole on a line of its own.
TEST(LogAppendTest, ALineCutShortNeverJoinsTheNext) {
  const struct {
    const char* name;
    std::string before;  // the log as found
    std::size_t room;    // what the disk takes of the first line
    std::string writeError;
    bool cutBackFails;
    std::string reason;  // of the first line; empty: it is written
  } cases[] = {
      {"a short write: the disk fills", std::string(Earlier) + "\n", 7, "", false, DiskFull},
      {"a write that fails", std::string(Earlier) + "\n", 3, "The device is not ready.", false,
       "The device is not ready."},
      {"a short write that cannot be taken back", std::string(Earlier) + "\n", 7, "", true,
       std::string(DiskFull) + " (the part written could not be taken back)"},
      {"a line a killed writer left without its end", std::string(Earlier) + "\n{\"state\":\"cu",
       1000, "", false, ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    FakeTarget target;
    target.File(Log) = c.before;
    target.room = c.room;
    target.writeError = c.writeError;
    target.cutBackFails = c.cutBackFails;
    platform::WaitBudget budget(platform::LogWaitBudget);
    EXPECT_EQ(platform::AppendWhole(target, Log, R"({"state":"first"})", 0, budget), c.reason);
    if (c.reason.empty()) {
      EXPECT_EQ(target.File(Log), c.before + "\n{\"state\":\"first\"}\n");
    } else if (!c.cutBackFails) {
      EXPECT_EQ(target.File(Log), c.before);
    }

    target.room.reset();
    target.writeError.clear();
    const std::string before = target.File(Log);
    EXPECT_EQ(platform::AppendWhole(target, Log, Next, 0, budget), "");
    const std::string& after = target.File(Log);
    ASSERT_GT(after.size(), before.size());
    EXPECT_EQ(after.substr(after.rfind('\n', after.size() - 2) + 1), std::string(Next) + "\n");
    EXPECT_EQ(after.rfind(before, 0), 0u) << "what was there is kept";
  }
}

// A log another program holds (locked, or open without sharing writing) is waited for in short
// pauses, and the waits of a run add up to its budget at most, over every log it writes: once
// spent, a line has one try.
TEST(LogAppendTest, WaitsForAHeldLogNoLongerThanTheRunsBudgetInAll) {
  FakeTarget target;
  platform::WaitBudget budget(platform::LogWaitBudget);
  target.busyLocks = 30;
  EXPECT_EQ(platform::AppendWhole(target, Log, Next, 0, budget), "");
  EXPECT_EQ(target.File(Log), std::string(Next) + "\n");
  EXPECT_GT(target.now, 0ms);
  EXPECT_LT(target.now, 500ms);

  target.busyLocks = -1;
  const std::string locked = platform::AppendWhole(target, Log, Next, 0, budget);
  EXPECT_NE(locked.find("keeps the log locked"), std::string::npos) << locked;
  EXPECT_GE(target.now, platform::LogWaitBudget - 10ms);
  EXPECT_LE(target.now, platform::LogWaitBudget + 10ms);

  // The --log file draws on the same budget: held now, it has one try.
  const auto spent = target.now;
  target.busyOpens = -1;
  target.opens = 0;
  const std::string shared = platform::AppendWhole(target, "D:\\mine.log", Next, 0, budget);
  EXPECT_NE(shared.find("lets no one write to it"), std::string::npos) << shared;
  EXPECT_EQ(target.opens, 1);
  EXPECT_EQ(target.now, spent);
}

// A writer that finds, once it holds the lock, that another rotated the log away writes to the
// new log, never to the older file; one that finds the log full rotates it itself.
TEST(LogAppendTest, AfterARotationTheLineGoesToTheNewLog) {
  FakeTarget target;
  platform::WaitBudget budget(platform::LogWaitBudget);
  target.File(Log) = std::string(Earlier) + "\n";
  target.beforeLock = [&] {
    target.files[std::string(Log) + ".1"] = target.files[Log];
    target.files[Log] = std::make_shared<std::string>("{\"state\":\"newer\"}\n");
  };
  EXPECT_EQ(platform::AppendWhole(target, Log, Next, 1000, budget), "");
  EXPECT_EQ(target.File(std::string(Log) + ".1"), std::string(Earlier) + "\n");
  EXPECT_EQ(target.File(Log), "{\"state\":\"newer\"}\n" + std::string(Next) + "\n");

  const std::string full = target.File(Log);
  EXPECT_EQ(platform::AppendWhole(target, Log, Earlier, full.size(), budget), "");
  EXPECT_EQ(target.File(std::string(Log) + ".1"), full);
  EXPECT_EQ(target.File(Log), std::string(Earlier) + "\n");
}

}  // namespace
