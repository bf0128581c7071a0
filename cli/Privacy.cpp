// Names out of the gathered logs and status document; see Privacy.h.
#include "cli/Privacy.h"

#include <algorithm>
#include <array>
#include <nlohmann/json.hpp>

namespace cli {
namespace {

using Json = nlohmann::ordered_json;

constexpr std::string_view NotJsonNote =
    R"({"note":"a line that is not JSON was left out here: what it holds cannot be told apart from names"})";

std::string Folded(std::string_view text) {
  std::string folded(text);
  for (char& c : folded) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return folded;
}

// Part of a name: a letter, digit, '-' or '_', or any byte of a non-ASCII character.
bool NameByte(char c) {
  const auto byte = static_cast<unsigned char>(c);
  return byte >= 0x80 || (byte >= '0' && byte <= '9') || (byte >= 'A' && byte <= 'Z') ||
         (byte >= 'a' && byte <= 'z') || c == '-' || c == '_';
}

// The accounts and profile folders that are no one's: kept as they are.
bool Anyone(std::string_view folded) {
  static constexpr std::array<std::string_view, 9> names = {
      "NT AUTHORITY",    "BUILTIN", "NT SERVICE", "SYSTEM",   "LOCAL SERVICE",
      "NETWORK SERVICE", "PUBLIC",  "DEFAULT",    "ALL USERS"};
  return folded.empty() || folded == "DEFAULT USER" ||
         std::find(names.begin(), names.end(), folded) != names.end();
}

// Where a profile folder's name ends in a text: at a path separator, a quote or the like.
std::size_t FolderEnd(std::string_view text, std::size_t from) {
  const std::size_t end = text.find_first_of("\\/\"':;,<>|\r\n\t", from);
  return end == std::string_view::npos ? text.size() : end;
}

}  // namespace

Pseudonyms::Pseudonyms(std::string_view computer, std::string_view account) {
  if (!computer.empty()) Of(computers_, computer, "computer");
  if (!account.empty()) Account(account);
}

const std::string& Pseudonyms::Of(std::vector<Name>& names, std::string_view name,
                                  const char* kind) {
  const std::string folded = Folded(name);
  for (const Name& known : names) {
    if (known.folded == folded) return known.pseudonym;
  }
  names.push_back({folded, std::string(kind) + "-" + std::to_string(names.size() + 1)});
  return names.back().pseudonym;
}

// DOMAIN\name: the name replaced, and the domain when it is a computer's (a local account); a
// computer's own account (name$) is the computer's. The system's accounts are kept.
std::string Pseudonyms::Account(std::string_view account) {
  const std::size_t slash = account.rfind('\\');
  const std::string_view domain =
      slash == std::string_view::npos ? std::string_view() : account.substr(0, slash);
  std::string_view name = slash == std::string_view::npos ? account : account.substr(slash + 1);
  if (Anyone(Folded(domain)) && !domain.empty()) return std::string(account);
  std::string result;
  if (!domain.empty()) {
    const std::string folded = Folded(domain);
    const bool computer = std::any_of(computers_.begin(), computers_.end(),
                                      [&](const Name& known) { return known.folded == folded; });
    result = computer ? Of(computers_, domain, "computer") : std::string(domain);
    result += '\\';
  }
  if (name.ends_with('$')) {
    name.remove_suffix(1);
    return result + Of(computers_, name, "computer") + "$";
  }
  return result + (Anyone(Folded(name)) ? std::string(name) : Of(users_, name, "user"));
}

std::string Pseudonyms::Text(std::string_view text) {
  std::string result;
  const std::string folded = Folded(text);
  std::size_t at = 0;
  for (std::size_t users = 0;
       (users = std::min(folded.find("\\USERS\\", at), folded.find("/USERS/", at))) !=
       std::string::npos;) {
    const std::size_t start = users + 7;
    const std::size_t end = FolderEnd(text, start);
    result.append(text.substr(at, start - at));
    const std::string_view name = text.substr(start, end - start);
    result += Anyone(Folded(name)) ? std::string(name) : Of(users_, name, "user");
    at = end;
  }
  result.append(text.substr(at));
  // Longest first, so that a name holding another is replaced whole.
  std::vector<const Name*> known;
  for (const auto* names : {&computers_, &users_}) {
    for (const Name& name : *names) known.push_back(&name);
  }
  std::sort(known.begin(), known.end(),
            [](const Name* a, const Name* b) { return a->folded.size() > b->folded.size(); });
  for (const Name* name : known) {
    if (name->folded.size() < 2) continue;  // one letter would be every such word
    std::string upper = Folded(result);
    for (std::size_t found = 0; (found = upper.find(name->folded, found)) != std::string::npos;) {
      const std::size_t end = found + name->folded.size();
      if ((found > 0 && NameByte(upper[found - 1])) ||
          (end < upper.size() && NameByte(upper[end]))) {
        ++found;
        continue;
      }
      result.replace(found, name->folded.size(), name->pseudonym);
      upper.replace(found, name->folded.size(), name->pseudonym);
      found += name->pseudonym.size();
    }
  }
  return result;
}

template <typename JsonValue>
void Pseudonyms::Scrub(JsonValue& json, std::string_view key) {
  if (json.is_object()) {
    // The computer's name first: an account of it, or a station named after it, then reads as
    // the computer's.
    if (const auto computer = json.find("computer");
        computer != json.end() && computer->is_string()) {
      *computer = Of(computers_, computer->template get<std::string>(), "computer");
    }
    for (auto& [name, value] : json.items()) {
      if (name != "computer") Scrub(value, name);
    }
  } else if (json.is_array()) {
    for (auto& value : json) Scrub(value, key);
  } else if (json.is_string()) {
    const std::string text = json.template get<std::string>();
    if (key == "user" || key == "account") {
      json = Account(text);
    } else {
      json = Text(text);
    }
  }
}

std::string Pseudonyms::LogLine(std::string_view line) {
  if (line.empty()) return {};
  Json json = Json::parse(line, nullptr, false);
  if (json.is_discarded()) return std::string(NotJsonNote);
  Scrub(json, {});
  return json.dump(-1, ' ', false, Json::error_handler_t::replace);
}

std::string Pseudonyms::Document(std::string_view text) {
  if (text.empty()) return {};
  Json json = Json::parse(text, nullptr, false);
  if (json.is_discarded()) return std::string(NotJsonNote) + "\n";
  Scrub(json, {});
  return json.dump(-1, ' ', false, Json::error_handler_t::replace) + "\n";
}

}  // namespace cli
