// The recording format's writer and reader.
#include "recording/Recording.h"

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <map>

#include "updatelib/EntryPoints.h"

namespace recorder {
namespace {

constexpr std::string_view Arrow = "->";
constexpr std::string_view FaultWord = "fault";

std::string Hex32(std::uint32_t value) {
  char text[12];
  std::snprintf(text, sizeof text, "%08X", static_cast<unsigned>(value));
  return text;
}

template <typename Int>
std::optional<Int> ParseNumber(std::string_view text, int base = 10) {
  Int value{};
  const char* end = text.data() + text.size();
  auto [ptr, error] = std::from_chars(text.data(), end, value, base);
  if (text.empty() || error != std::errc{} || ptr != end) return std::nullopt;
  return value;
}

bool IsKey(std::string_view key) {
  return !key.empty() && std::all_of(key.begin(), key.end(), [](char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
  });
}

// A value holds no blank and no control byte: ints, "null", hex, message kinds.
bool IsValue(std::string_view value) {
  return std::all_of(value.begin(), value.end(), [](char c) {
    auto byte = static_cast<unsigned char>(c);
    return byte > 0x20 && byte < 0x7f;
  });
}

std::vector<std::string_view> Words(std::string_view line) {
  std::vector<std::string_view> words;
  std::size_t at = 0;
  while (at < line.size()) {
    const std::size_t end = std::min(line.find(' ', at), line.size());
    if (end > at) words.push_back(line.substr(at, end - at));
    at = end + 1;
  }
  return words;
}

}  // namespace

std::string Hex(std::string_view bytes) {
  static constexpr char Digits[] = "0123456789ABCDEF";
  std::string text;
  text.reserve(bytes.size() * 2);
  for (char c : bytes) {
    auto byte = static_cast<unsigned char>(c);
    text += Digits[byte >> 4];
    text += Digits[byte & 0x0f];
  }
  return text;
}

std::optional<std::string> Unhex(std::string_view hex) {
  if (hex.size() % 2 != 0) return std::nullopt;
  std::string bytes;
  bytes.reserve(hex.size() / 2);
  for (std::size_t i = 0; i < hex.size(); i += 2) {
    const auto byte = ParseNumber<unsigned>(hex.substr(i, 2), 16);
    if (!byte) return std::nullopt;
    bytes += static_cast<char>(*byte);
  }
  return bytes;
}

std::optional<int> DecimalInt(std::string_view text) { return ParseNumber<int>(text); }

const std::string* FindField(const std::vector<Field>& fields, std::string_view key) {
  for (const Field& field : fields) {
    if (field.key == key) return &field.value;
  }
  return nullptr;
}

bool IsCalledEntryPoint(std::string_view name) {
  return std::ranges::find(updatelib::CalledEntryPointNames, name) !=
         updatelib::CalledEntryPointNames.end();
}

std::string FormatCall(const RecordedCall& call) {
  std::string line = std::to_string(call.sequence) + " " + call.name;
  for (const Field& field : call.in) line += " " + field.key + "=" + field.value;
  line += " -> ";
  if (call.result) {
    line += std::to_string(*call.result);
  } else {
    line += FaultWord;
  }
  for (const Field& field : call.out) line += " " + field.key + "=" + field.value;
  if (call.fault) {
    line += " code=" + Hex32(call.fault->code) + " address=" + Hex32(call.fault->address);
  }
  line += " us=" + std::to_string(call.micros) + " messages=" + std::to_string(call.messages);
  if (!call.messageKinds.empty()) line += " kinds=" + call.messageKinds;
  return line;
}

ParsedLine ParseCall(std::string_view line) {
  auto fail = [](std::string what) { return ParsedLine{std::nullopt, std::move(what)}; };
  if (line.size() > MaxLineLength) return fail("line too long");
  const std::vector<std::string_view> words = Words(line);
  if (words.size() < 3) return fail("not a call");
  RecordedCall call;
  const auto sequence = ParseNumber<std::uint64_t>(words[0]);
  if (!sequence || *sequence == 0)
    return fail("bad sequence number '" + std::string(words[0]) + "'");
  call.sequence = *sequence;
  if (!IsCalledEntryPoint(words[1]))
    return fail("unknown entry point '" + std::string(words[1]) + "'");
  call.name = words[1];

  std::size_t at = 2;
  auto field = [&](std::string_view word, Field& into) {
    const std::size_t equals = word.find('=');
    if (equals == std::string_view::npos) return false;
    into.key = word.substr(0, equals);
    into.value = word.substr(equals + 1);
    return IsKey(into.key) && IsValue(into.value);
  };
  for (; at < words.size() && words[at] != Arrow; ++at) {
    Field in;
    if (!field(words[at], in)) return fail("bad argument '" + std::string(words[at]) + "'");
    call.in.push_back(std::move(in));
  }
  if (at + 1 >= words.size()) return fail("no result");
  if (words[++at] != FaultWord) {
    call.result = ParseNumber<int>(words[at]);
    if (!call.result) return fail("bad result '" + std::string(words[at]) + "'");
  }
  std::optional<std::int64_t> micros;
  std::optional<int> messages;
  std::optional<std::uint32_t> code, address;
  for (++at; at < words.size(); ++at) {
    Field out;
    if (!field(words[at], out)) return fail("bad out-value '" + std::string(words[at]) + "'");
    if (out.key == "us") {
      micros = ParseNumber<std::int64_t>(out.value);
      if (!micros || *micros < 0) return fail("bad time '" + out.value + "'");
    } else if (out.key == "messages") {
      messages = ParseNumber<int>(out.value);
      if (!messages || *messages < 0) return fail("bad message count '" + out.value + "'");
    } else if (out.key == "kinds") {
      call.messageKinds = out.value;
    } else if (out.key == "code") {
      code = ParseNumber<std::uint32_t>(out.value, 16);
      if (!code) return fail("bad fault code '" + out.value + "'");
    } else if (out.key == "address") {
      address = ParseNumber<std::uint32_t>(out.value, 16);
      if (!address) return fail("bad fault address '" + out.value + "'");
    } else {
      if (FindField(call.out, out.key)) return fail("out-value '" + out.key + "' twice");
      call.out.push_back(std::move(out));
    }
  }
  if (!micros || !messages) return fail("no us= or messages=");
  call.micros = *micros;
  call.messages = *messages;
  if (code.has_value() != address.has_value()) return fail("a fault needs code= and address=");
  if (code) call.fault = Fault{*code, *address};
  if (!call.result && !call.fault) return fail("a fault without code=");
  return {std::move(call), {}};
}

constexpr std::string_view CommandKey = " command=";

std::string FormatOrigin(const Origin& origin) {
  std::string note = "origin recorder=" + origin.recorderVersion +
                     " version=" + origin.programVersion + " program=" + origin.program;
  if (!origin.command.empty()) {
    std::string command = origin.command;
    for (char& c : command) {
      if (c == '\r' || c == '\n') c = ' ';
    }
    note += std::string(CommandKey) + command;
  }
  return note;
}

std::optional<Origin> ParseOrigin(std::string_view note) {
  // Each field's key, in its place; the versions are one word each.
  constexpr std::string_view Keys[] = {"origin recorder=", " version=", " program="};
  std::string* values[3] = {};
  Origin origin;
  values[0] = &origin.recorderVersion;
  values[1] = &origin.programVersion;
  values[2] = &origin.program;
  for (std::size_t i = 0; i < 3; ++i) {
    if (!note.starts_with(Keys[i])) return std::nullopt;
    note.remove_prefix(Keys[i].size());
    const std::size_t end = i < 2 ? note.find(' ') : note.size();
    if (end == 0 || end == std::string_view::npos) return std::nullopt;
    values[i]->assign(note.substr(0, end));
    note.remove_prefix(end);
  }
  if (const std::size_t command = origin.program.find(CommandKey); command != std::string::npos) {
    origin.command = origin.program.substr(command + CommandKey.size());
    origin.program.resize(command);
    if (origin.program.empty()) return std::nullopt;
  }
  return origin;
}

ParsedRecording ParseRecording(std::string_view text) {
  std::map<std::uint64_t, RecordedCall> calls;
  Recording recording;
  bool headerSeen = false;
  std::size_t lineNumber = 0;
  for (std::size_t at = 0; at < text.size();) {
    std::size_t end = text.find('\n', at);
    if (end == std::string_view::npos) end = text.size();
    std::string_view line = text.substr(at, end - at);
    at = end + 1;
    ++lineNumber;
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    auto fail = [&](const std::string& what) {
      return ParsedRecording{std::nullopt, "line " + std::to_string(lineNumber) + ": " + what};
    };
    if (line.empty()) continue;
    if (!headerSeen) {
      if (line != FormatHeader)
        return fail("not a recording (expected \"" + std::string(FormatHeader) + "\")");
      headerSeen = true;
      continue;
    }
    if (line.front() == '#') {
      line.remove_prefix(
          std::min<std::size_t>(line.size(), line.size() > 1 && line[1] == ' ' ? 2 : 1));
      recording.notes.emplace_back(line.substr(0, std::min(line.size(), MaxLineLength)));
      if (!recording.origin) recording.origin = ParseOrigin(recording.notes.back());
      continue;
    }
    ParsedLine parsed = ParseCall(line);
    if (!parsed.call) return fail(parsed.error);
    calls[parsed.call->sequence] = std::move(*parsed.call);
  }
  if (!headerSeen) return {std::nullopt, "line 1: not a recording (empty)"};
  for (auto& [sequence, call] : calls) recording.calls.push_back(std::move(call));
  return {std::move(recording), {}};
}

ParsedRecording LoadRecording(const std::string& fileName) {
  std::ifstream in(fileName, std::ios::binary);
  if (!in) return {std::nullopt, fileName + ": cannot be read"};
  std::string text;
  char buffer[65536];
  while (in.read(buffer, sizeof buffer) || in.gcount() > 0) {
    text.append(buffer, static_cast<std::size_t>(in.gcount()));
    if (text.size() > MaxRecordingBytes) return {std::nullopt, fileName + ": larger than 64 MiB"};
  }
  ParsedRecording parsed = ParseRecording(text);
  if (!parsed.recording) parsed.error = fileName + ": " + parsed.error;
  return parsed;
}

}  // namespace recorder
