// Writing and reading a call's fields through their keys.
#include "recording/CallFields.h"

#include <algorithm>
#include <cstring>

namespace recorder {

const CallFields* FieldsOf(std::string_view name) {
  const auto found = std::ranges::find(AllCallFields, name, &CallFields::name);
  return found == AllCallFields.end() ? nullptr : &*found;
}

Field Write(IntKey key, int value) { return {std::string(key.key), std::to_string(value)}; }

Field Write(PathKey key, const char* path) {
  if (!path) return {std::string(key.key), "null"};
  return {std::string(key.key),
          Hex(std::string_view(path, strnlen(path, updatelib::PathBufferSize)))};
}

Field Write(BytesKey key, std::string_view bytes) { return {std::string(key.key), Hex(bytes)}; }

Field Write(SlotsKey key, std::size_t slot, std::string_view bytes) {
  const std::string slotKey = std::string(key.key) + std::to_string(slot);
  return Write(BytesKey{slotKey}, bytes);
}

Field Write(MarkKey key) { return {std::string(key.key), std::string(key.value)}; }

std::optional<int> Read(const std::vector<Field>& fields, IntKey key) {
  const std::string* value = FindField(fields, key.key);
  return value ? DecimalInt(*value) : std::nullopt;
}

const std::string* Read(const std::vector<Field>& fields, PathKey key) {
  return FindField(fields, key.key);
}

std::optional<std::string> Read(const std::vector<Field>& fields, BytesKey key) {
  const std::string* value = FindField(fields, key.key);
  if (!value || *value == "null") return std::nullopt;
  return Unhex(*value);
}

std::optional<std::string> Read(const std::vector<Field>& fields, SlotsKey key, std::size_t slot) {
  const std::string slotKey = std::string(key.key) + std::to_string(slot);
  return Read(fields, BytesKey{slotKey});
}

bool Read(const std::vector<Field>& fields, MarkKey key) {
  const std::string* value = FindField(fields, key.key);
  return value && *value == key.value;
}

std::string TextBytes(const char* buffer, std::size_t size) {
  return std::string(buffer, strnlen(buffer, size));
}

}  // namespace recorder
