// Each called entry point's fields on a recording's line: the arguments it carries (the replay
// matches on them) and the out-values (the replay writes them back), each key with its kind. The
// recorder writes through these keys and the replay reads through them, so a field's name is
// spelled here only. Portable.
#pragma once

#include <array>
#include <cstddef>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

#include "recording/Recording.h"
#include "updatelib/EntryPoints.h"

namespace recorder {

// How a field's value is written: a decimal int; a path's bytes in hex ("null" for none); bytes
// in hex; bytes in hex under KEY0, KEY1, ...; or a fixed word present or absent.
enum class FieldKind { Int, Path, Bytes, Slots, Mark };

struct FieldDescription {
  std::string_view key;
  FieldKind kind;

  bool operator==(const FieldDescription&) const = default;
};

// One key of each kind; its type says how the value is written and read.
struct IntKey {
  std::string_view key;
  constexpr operator FieldDescription() const { return {key, FieldKind::Int}; }
};
struct PathKey {
  std::string_view key;
  constexpr operator FieldDescription() const { return {key, FieldKind::Path}; }
};
struct BytesKey {
  std::string_view key;
  constexpr operator FieldDescription() const { return {key, FieldKind::Bytes}; }
};
// Bytes per slot, slot i under the key followed by i (decimal), for slots 0 to count - 1.
struct SlotsKey {
  std::string_view key;
  std::size_t count;
  constexpr operator FieldDescription() const { return {key, FieldKind::Slots}; }
};
// A key that is there with its one value, or not there.
struct MarkKey {
  std::string_view key;
  std::string_view value;
  constexpr operator FieldDescription() const { return {key, FieldKind::Mark}; }
};

// Every key a called entry point's line may carry.
namespace keys {
inline constexpr IntKey Value{"value"};
inline constexpr PathKey Path{"path"};
inline constexpr IntKey Flag{"flag"};
inline constexpr IntKey BufferLength{"bufferLength"};
inline constexpr IntKey Count{"count"};
inline constexpr SlotsKey ListedPaths{Path.key, updatelib::DeviceListSlotCount};
// The library changed the caller's slot pointers.
inline constexpr MarkKey SlotsOverwritten{"slots", "overwritten"};
inline constexpr IntKey ChipType{"chipType"};
inline constexpr IntKey Mode{"mode"};
inline constexpr BytesKey Version{"version"};
inline constexpr IntKey DataLength{"dataLength"};
inline constexpr BytesKey Data{"data"};
}  // namespace keys

// One description per called entry point, named as the entry point: `in` lists its arguments in
// parameter order (the ones a line carries), `out` its out-values.
namespace calls {
using keys::BufferLength, keys::ChipType, keys::Count, keys::Data, keys::DataLength, keys::Flag,
    keys::ListedPaths, keys::Mode, keys::Path, keys::SlotsOverwritten, keys::Value, keys::Version;
using None = std::array<FieldDescription, 0>;

struct Setter {
  static constexpr std::array<FieldDescription, 1> in{Value};
  static constexpr None out{};
};
struct ZR_SetKV7300BindingCheck : Setter {};
struct ZR_SetKV7300FWModuleForEndUserFWResource : Setter {};
struct ZR_SetLoadEndUserFWFromResourceFlag : Setter {};
struct ZR_SetZRKeepLast4KFileCopyNVRamchk : Setter {};
struct ZR_GetDeviceList {
  static constexpr None in{};
  static constexpr std::array<FieldDescription, 3> out{Count, ListedPaths, SlotsOverwritten};
};
struct ZR_GetChipType {
  static constexpr std::array<FieldDescription, 1> in{Path};
  static constexpr std::array<FieldDescription, 1> out{ChipType};
};
struct ZR_GetFWVersion {
  static constexpr std::array<FieldDescription, 1> in{Path};
  static constexpr std::array<FieldDescription, 1> out{Version};
};
struct ZR_GetRunningCodeMode {
  static constexpr std::array<FieldDescription, 1> in{Path};
  static constexpr std::array<FieldDescription, 1> out{Mode};
};
struct ZR_FWUpdateProgrammingNoCustomizedSetting {
  static constexpr std::array<FieldDescription, 1> in{Path};
  static constexpr None out{};
};
struct ZR_CheckLoadBinFileMatch {
  static constexpr std::array<FieldDescription, 2> in{Path, Flag};
  static constexpr None out{};
};
struct ZR_Inquiry {
  static constexpr std::array<FieldDescription, 2> in{Path, BufferLength};
  static constexpr std::array<FieldDescription, 2> out{DataLength, Data};
};
struct ZR_InitialCustomizedSettingTable {
  static constexpr None in{};
  static constexpr None out{};
};
}  // namespace calls

struct CallFields {
  std::string_view name;
  std::span<const FieldDescription> in;
  std::span<const FieldDescription> out;
};

// The descriptions of all called entry points, in lookup order; one missing fails to compile.
#define FLASHWRIGHT_CALL_FIELDS(name, ...) CallFields{#name, calls::name::in, calls::name::out},
inline constexpr std::array AllCallFields{FLASHWRIGHT_CALLED_ENTRY_POINTS(FLASHWRIGHT_CALL_FIELDS)};
#undef FLASHWRIGHT_CALL_FIELDS
static_assert(AllCallFields.size() == updatelib::CalledEntryPointNames.size());

// The description of a called entry point; nullptr for any other name.
const CallFields* FieldsOf(std::string_view name);

// Writing, as the recorder does. A path is read as the library reads it: up to the first NUL,
// at most 260 bytes.
Field Write(IntKey key, int value);
Field Write(PathKey key, const char* path);
Field Write(BytesKey key, std::string_view bytes);
Field Write(SlotsKey key, std::size_t slot, std::string_view bytes);
Field Write(MarkKey key);

// Reading, as the replay does: none when missing or not of the key's kind ("null" bytes too).
std::optional<int> Read(const std::vector<Field>& fields, IntKey key);
// The path's text as written (hex, or "null"), to compare paths by.
const std::string* Read(const std::vector<Field>& fields, PathKey key);
std::optional<std::string> Read(const std::vector<Field>& fields, BytesKey key);
std::optional<std::string> Read(const std::vector<Field>& fields, SlotsKey key, std::size_t slot);
bool Read(const std::vector<Field>& fields, MarkKey key);

// A text buffer's promised part: the bytes up to the first NUL, or all `size` when none.
std::string TextBytes(const char* buffer, std::size_t size);

namespace detail {
inline Field Argument(const FieldDescription& description, int value) {
  return Write(IntKey{description.key}, value);
}
inline Field Argument(const FieldDescription& description, const char* path) {
  return Write(PathKey{description.key}, path);
}
template <typename Arg>
constexpr FieldKind KindOfArgument() {
  if constexpr (std::is_convertible<Arg, const char*>::value) {
    return FieldKind::Path;
  } else {
    return FieldKind::Int;
  }
}
template <typename Call, typename... Args>
constexpr bool ArgumentsFit() {
  constexpr std::array<FieldKind, sizeof...(Args)> kinds{KindOfArgument<Args>()...};
  for (std::size_t i = 0; i < kinds.size(); ++i) {
    if (Call::in[i].kind != kinds[i]) return false;
  }
  return true;
}
}  // namespace detail

// A call's argument fields, in its description's order: how the recorder writes them and the
// replay matches them. Each argument's type must fit its field's kind (checked when compiled).
template <typename Call, typename... Args>
std::vector<Field> Arguments(Args... args) {
  static_assert(sizeof...(Args) == Call::in.size(), "one argument per described field");
  static_assert(detail::ArgumentsFit<Call, Args...>(), "an argument does not fit its field's kind");
  std::vector<Field> fields;
  [[maybe_unused]] std::size_t at = 0;
  (fields.push_back(detail::Argument(Call::in[at++], args)), ...);
  return fields;
}

}  // namespace recorder
