// The recording's contract from both sides: each called entry point's fields, written as the
// recorder writes them, read back by the line reader and by the replay answering that call.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <deque>
#include <string>
#include <vector>

#include "recording/CallFields.h"
#include "sim/Replay.h"
#include "sim/SimulatedLibrary.h"
#include "updatelib/EntryPoints.h"

namespace sim {
namespace {

using recorder::Field;
using recorder::FieldDescription;
using recorder::FieldKind;

constexpr char DevicePath[] = "\\\\.\\SIMUSB1";
constexpr int SampleInt = 7;
const std::string SampleBytes = "ab";

// A field of the description with its sample value, written through its key.
Field Sample(const FieldDescription& description) {
  switch (description.kind) {
    case FieldKind::Int:
      return recorder::Write(recorder::IntKey{description.key}, SampleInt);
    case FieldKind::Path:
      return recorder::Write(recorder::PathKey{description.key}, DevicePath);
    case FieldKind::Bytes:
      return recorder::Write(recorder::BytesKey{description.key}, SampleBytes);
    case FieldKind::Slots:
      return recorder::Write(recorder::SlotsKey{description.key, 1}, 0, SampleBytes);
    case FieldKind::Mark:
      break;
  }
  return recorder::Write(
      recorder::MarkKey{description.key, recorder::keys::SlotsOverwritten.value});
}

// The recorded call of a description, every field at its sample, the marks left out when asked.
recorder::RecordedCall SampleCall(const recorder::CallFields& fields, bool withMarks) {
  recorder::RecordedCall call;
  call.sequence = 1;
  call.name = fields.name;
  call.result = 1;
  for (const FieldDescription& description : fields.in) call.in.push_back(Sample(description));
  for (const FieldDescription& description : fields.out) {
    if (withMarks || description.kind != FieldKind::Mark) call.out.push_back(Sample(description));
  }
  return call;
}

TEST(CallFields, EveryCalledEntryPointHasADescriptionOfFieldsALineCanCarry) {
  for (const std::string_view name : updatelib::CalledEntryPointNames) {
    SCOPED_TRACE(name);
    const recorder::CallFields* fields = recorder::FieldsOf(name);
    ASSERT_NE(fields, nullptr);
    const recorder::RecordedCall call = SampleCall(*fields, true);
    const recorder::ParsedLine parsed = recorder::ParseCall(recorder::FormatCall(call));
    ASSERT_TRUE(parsed.call.has_value()) << parsed.error;
    EXPECT_EQ(*parsed.call, call);
    for (const FieldDescription& description : fields->out) {
      SCOPED_TRACE(description.key);
      const std::vector<Field>& out = parsed.call->out;
      switch (description.kind) {
        case FieldKind::Int:
          EXPECT_EQ(recorder::Read(out, recorder::IntKey{description.key}), SampleInt);
          break;
        case FieldKind::Bytes:
          EXPECT_EQ(recorder::Read(out, recorder::BytesKey{description.key}), SampleBytes);
          break;
        case FieldKind::Slots:
          EXPECT_EQ(recorder::Read(out, recorder::SlotsKey{description.key, 1}, 0), SampleBytes);
          break;
        case FieldKind::Mark:
          EXPECT_TRUE(recorder::Read(out, recorder::MarkKey{description.key, "overwritten"}));
          break;
        case FieldKind::Path:
          EXPECT_NE(recorder::Read(out, recorder::PathKey{description.key}), nullptr);
          break;
      }
    }
  }
  EXPECT_EQ(recorder::FieldsOf("ZR_GetDeviceList_MultiLun"), nullptr);
}

// A replayed call's arguments by type, and what it wrote into them: every int and buffer starts
// unlike the samples, every text holds the device's path (as the path argument reads it).
struct CallArguments {
  template <typename T>
  T Next() {
    if constexpr (std::is_same_v<T, int>) {
      return SampleInt;
    } else if constexpr (std::is_same_v<T, int*>) {
      return &ints.emplace_back(-1);
    } else if constexpr (std::is_same_v<T, char*>) {
      auto& text = texts.emplace_back();
      std::copy_n(DevicePath, sizeof DevicePath, text.begin());
      return text.data();
    } else if constexpr (std::is_same_v<T, unsigned char*>) {
      return bytes.data();
    } else {
      static_assert(std::is_same_v<T, char**>);
      for (std::size_t i = 0; i < slots.size(); ++i) slots[i] = slotTexts[i].data();
      return slots.data();
    }
  }

  // The out-parameters' contents after the call.
  std::vector<std::string> Written() const {
    std::vector<std::string> seen;
    for (int value : ints) seen.push_back(std::to_string(value));
    for (const auto& text : texts) seen.emplace_back(text.data());
    seen.emplace_back(reinterpret_cast<const char*>(bytes.data()), SampleBytes.size());
    seen.emplace_back(slotTexts[0].data());
    return seen;
  }

  // Deques: what an earlier argument points to stays where it is.
  std::deque<int> ints;
  std::deque<std::array<char, updatelib::PathBufferSize>> texts;
  std::array<unsigned char, updatelib::InquiryBufferSize> bytes{};
  std::array<std::array<char, updatelib::PathBufferSize>, updatelib::DeviceListSlotCount>
      slotTexts{};
  std::array<char*, updatelib::DeviceListSlotCount> slots{};
};

TEST(CallFields, TheReplayMatchesEachCallsArgumentsAndWritesBackEachOutValue) {
  recorder::Recording recording;
  for (const recorder::CallFields& fields : recorder::AllCallFields) {
    recording.calls.push_back(SampleCall(fields, false));
    recording.calls.back().sequence = recording.calls.size();
  }
  std::vector<std::string> log;
  SimHost host;
  host.log = [&log](const std::string& line) { log.push_back(line); };
  Replayer replay(host, recording);

  // Each called entry point through the member that answers it, as the DLL's exports call it.
  std::size_t call = 0;
#define SIM_REPLAY_CALL(name, ret, params)                                                     \
  {                                                                                            \
    SCOPED_TRACE(#name);                                                                       \
    CallArguments arguments;                                                                   \
    [&]<typename... Parameters>(ret(ZR_API*)(Parameters...)) {                                 \
      ret result =                                                                             \
          Answering<updatelib::LookupIndexOf(#name)>{replay}(arguments.Next<Parameters>()...); \
      EXPECT_EQ(result, 1);                                                                    \
    }(updatelib::name##_Fn{});                                                                 \
    const std::vector<std::string> seen = arguments.Written();                                 \
    for (const FieldDescription& description : recorder::AllCallFields[call].out) {            \
      if (description.kind == FieldKind::Mark) continue;                                       \
      const std::string sample =                                                               \
          description.kind == FieldKind::Int ? std::to_string(SampleInt) : SampleBytes;        \
      EXPECT_NE(std::find(seen.begin(), seen.end(), sample), seen.end()) << description.key;   \
    }                                                                                          \
    ++call;                                                                                    \
  }
  FLASHWRIGHT_CALLED_ENTRY_POINTS(SIM_REPLAY_CALL)
#undef SIM_REPLAY_CALL

  EXPECT_EQ(replay.Divergences(), 0u);
  EXPECT_EQ(replay.Answered(), recording.calls.size());
  EXPECT_TRUE(ReplayDivergences(recording, log).empty());
}

}  // namespace
}  // namespace sim
