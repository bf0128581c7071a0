// Reading a line of the trail back; see Reader.h.
#include "trail/Reader.h"

#include <nlohmann/json.hpp>

namespace trail {
namespace {

// Whether the JSON text nests no deeper than DeepestNesting, counted outside its strings, so that
// nothing is built of a line made to exhaust the stack or the memory.
bool ShallowEnough(std::string_view text) {
  int depth = 0;
  bool inString = false;
  bool escaped = false;
  for (const char c : text) {
    if (inString) {
      if (escaped) {
        escaped = false;
      } else if (c == '\\') {
        escaped = true;
      } else if (c == '"') {
        inString = false;
      }
      continue;
    }
    if (c == '"') {
      inString = true;
    } else if (c == '{' || c == '[') {
      if (++depth > DeepestNesting) return false;
    } else if (c == '}' || c == ']') {
      --depth;
    }
  }
  return true;
}

int Digits(std::string_view text, std::size_t at, std::size_t count) {
  int value = 0;
  for (std::size_t i = at; i < at + count; ++i) {
    if (text[i] < '0' || text[i] > '9') return -1;
    value = value * 10 + (text[i] - '0');
  }
  return value;
}

// Days since 1970-01-01 of a date of the proleptic Gregorian calendar.
std::int64_t DaysOf(int year, int month, int day) {
  year -= month <= 2 ? 1 : 0;
  const int era = year / 400;
  const int yearOfEra = year - era * 400;
  const int dayOfYear = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
  const int dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
  return static_cast<std::int64_t>(era) * 146097 + dayOfEra - 719468;
}

using Json = nlohmann::json;

std::string Text(const Json& object, Key key) {
  const auto found = object.find(KeyOf(key));
  return found != object.end() && found->is_string() ? found->get<std::string>() : std::string();
}

std::optional<long long> Number(const Json& object, Key key) {
  const auto found = object.find(KeyOf(key));
  if (found == object.end() || !found->is_number_integer()) return std::nullopt;
  return found->get<long long>();
}

std::optional<bool> Flag(const Json& object, Key key) {
  const auto found = object.find(KeyOf(key));
  if (found == object.end() || !found->is_boolean()) return std::nullopt;
  return found->get<bool>();
}

template <class Type>
std::optional<Type> Word(const Json& object, Key key,
                         std::optional<Type> (*named)(std::string_view)) {
  const std::string word = Text(object, key);
  return word.empty() ? std::nullopt : named(word);
}

}  // namespace

std::optional<std::int64_t> TimeNamed(std::string_view text) {
  // 2026-12-08T11:40:10Z
  if (text.size() != 20 || text[4] != '-' || text[7] != '-' || text[10] != 'T' || text[13] != ':' ||
      text[16] != ':' || text[19] != 'Z') {
    return std::nullopt;
  }
  const int year = Digits(text, 0, 4), month = Digits(text, 5, 2), day = Digits(text, 8, 2),
            hour = Digits(text, 11, 2), minute = Digits(text, 14, 2), second = Digits(text, 17, 2);
  if (year < 1970 || month < 1 || month > 12 || day < 1 || hour < 0 || hour > 23 || minute < 0 ||
      minute > 59 || second < 0 || second > 59) {
    return std::nullopt;
  }
  constexpr int Days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
  if (day > Days[month - 1] + (month == 2 && leap ? 1 : 0)) return std::nullopt;
  return DaysOf(year, month, day) * 86400 + std::int64_t{hour} * 3600 + std::int64_t{minute} * 60 +
         second;
}

Reading ReadLine(std::string_view text, Line& line) {
  if (text.size() > LongestLine) return Reading::TooLong;
  if (!ShallowEnough(text)) return Reading::Unreadable;
  // Invalid UTF-8, which our writer never writes, is not read either.
  const Json json = Json::parse(text, nullptr, false);
  if (json.is_discarded() || !json.is_object()) return Reading::Unreadable;
  const std::optional<std::int64_t> time = TimeNamed(Text(json, Key::Time));
  if (!time) return Reading::BadTime;
  line.time = *time;
  line.program = Word(json, Key::Program, &ProgramNamed);
  line.version = Text(json, Key::Version);
  line.command = Word(json, Key::Command, &CommandNamed);
  line.computer = Text(json, Key::Computer);
  line.user = Text(json, Key::User);
  line.station = Text(json, Key::Station);
  line.run = Text(json, Key::Run);
  if (const auto sequence = Number(json, Key::Sequence);
      sequence && *sequence >= 0 && *sequence <= INT32_MAX) {
    line.sequence = static_cast<int>(*sequence);
  }
  line.unit = Text(json, Key::Unit);
  line.repeated = Flag(json, Key::Repeated).value_or(false);
  line.path = Text(json, Key::Path);
  line.identity = Text(json, Key::Identity);
  line.versionBefore = Text(json, Key::VersionBefore);
  line.versionAfter = Text(json, Key::VersionAfter);
  line.state = Word(json, Key::State, &StateNamed);
  line.check = Word(json, Key::Check, &CheckNamed);
  line.result = Word(json, Key::Result, &ResultNamed);
  if (const auto code = Number(json, Key::ExitCode);
      code && *code >= INT32_MIN && *code <= UINT32_MAX) {
    // Windows' exit codes are 32-bit; the log writes them as the program saw them.
    line.exitCode = static_cast<int>(static_cast<std::uint32_t>(*code));
  }
  line.durationMs = Number(json, Key::DurationMs).value_or(0);
  line.reason = Text(json, Key::Reason);
  line.warning = Text(json, Key::Warning);
  line.notified = Flag(json, Key::Notified);
  if (const auto earlier = json.find(KeyOf(Key::PreviousAttempt));
      earlier != json.end() && earlier->is_object()) {
    line.interruptedProgram = Text(*earlier, Key::Program);
    if (const auto started = earlier->find(StartedKey);
        started != earlier->end() && started->is_string()) {
      line.interruptedStarted = TimeNamed(started->get<std::string>()).value_or(0);
    }
  }
  line.programmed = TimeNamed(Text(json, Key::Programmed)).value_or(0);
  return Reading::Read;
}

}  // namespace trail
