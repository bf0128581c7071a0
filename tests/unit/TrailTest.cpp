// The trail's vocabulary is one table: the log's schema lists exactly its words and keys, every
// word reads back as what it was written for, and no face spells a word of its own.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "trail/Line.h"
#include "trail/Words.h"

namespace {

const std::filesystem::path Root =
    std::filesystem::path(__FILE__).parent_path().parent_path().parent_path();

nlohmann::json Schema(const char* name) {
  std::ifstream file(Root / "cli" / name);
  return nlohmann::json::parse(file);
}

std::vector<std::string> Listed(std::span<const std::string_view> words) {
  return {words.begin(), words.end()};
}

// The schema's enum without its null.
std::vector<std::string> Enum(const nlohmann::json& property) {
  std::vector<std::string> words;
  for (const auto& word : property["enum"]) {
    if (!word.is_null()) words.push_back(word.get<std::string>());
  }
  return words;
}

TEST(TrailWords, TheSchemasListExactlyTheTablesWordsAndKeys) {
  const auto log = Schema("flashwright-log.schema.json");
  const auto& properties = log["properties"];
  EXPECT_EQ(Enum(properties["state"]), Listed(trail::StateWords()));
  EXPECT_EQ(Enum(properties["result"]), Listed(trail::ResultWords()));
  EXPECT_EQ(Enum(properties["check"]), Listed(trail::CheckWords()));
  EXPECT_EQ(Enum(properties["command"]), Listed(trail::CommandWords()));
  EXPECT_EQ(Enum(properties["program"]), Listed(trail::ProgramWords()));
  std::set<std::string> keys;
  for (const auto& [key, value] : properties.items()) keys.insert(key);
  EXPECT_EQ(keys, std::set<std::string>(std::begin(trail::Keys), std::end(trail::Keys)));
  const auto& previous = properties["previousAttempt"]["properties"];
  EXPECT_EQ(previous["state"]["const"], trail::WordOf(trail::State::Interrupted));
  EXPECT_TRUE(previous.contains(trail::StartedKey));

  // The --json document speaks the same words: a device's state and result, and the records'.
  const auto document = Schema("flashwright-cli.schema.json");
  const auto& device = document["$defs"]["device"]["properties"];
  const auto states = Listed(trail::StateWords());
  const auto results = Listed(trail::ResultWords());
  for (const std::string& word : Enum(device["state"])) {
    EXPECT_NE(std::find(states.begin(), states.end(), word), states.end()) << word;
  }
  for (const std::string& word : Enum(device["result"])) {
    EXPECT_NE(std::find(results.begin(), results.end(), word), results.end()) << word;
  }
  for (const auto remembered :
       {update::Remembered::Interrupted, update::Remembered::PendingPowerCycle,
        update::Remembered::DidNotTake, update::Remembered::UnderWay}) {
    const std::string word(trail::WordOf(*trail::StateOf(remembered)));
    const auto attempt = Enum(device["attempt"]["properties"]["state"]);
    EXPECT_NE(std::find(attempt.begin(), attempt.end(), word), attempt.end()) << word;
  }
}

TEST(TrailWords, EachWordReadsBackAsItsOwnAndUnknownWordsAsNone) {
  for (const std::string_view word : trail::StateWords()) {
    EXPECT_EQ(trail::WordOf(*trail::StateNamed(word)), word);
  }
  for (const std::string_view word : trail::ResultWords()) {
    EXPECT_EQ(trail::WordOf(*trail::ResultNamed(word)), word);
  }
  for (const std::string_view word : trail::CheckWords()) {
    EXPECT_EQ(trail::WordOf(*trail::CheckNamed(word)), word);
  }
  for (const std::string_view word : trail::CommandWords()) {
    EXPECT_EQ(trail::WordOf(*trail::CommandNamed(word)), word);
  }
  for (const std::string_view word : trail::ProgramWords()) {
    EXPECT_EQ(trail::WordOf(*trail::ProgramNamed(word)), word);
  }
  for (const char* unknown : {"", "Updated", "updated ", "pending", "flashwright"}) {
    EXPECT_FALSE(trail::StateNamed(unknown)) << unknown;
    EXPECT_FALSE(trail::ResultNamed(unknown)) << unknown;
    EXPECT_FALSE(trail::ProgramNamed(unknown)) << unknown;
  }
}

// Where each device stands, as the fleet report and the machine's status summary class it: the
// result first, else the state; a PC without a device and a line of another unit stand nowhere.
TEST(TrailWords, AStandingComesFromTheResultElseTheState) {
  using trail::Result;
  using trail::Standing;
  using trail::State;
  const struct {
    std::optional<State> state;
    std::optional<Result> result;
    std::optional<Standing> standing;
  } cases[] = {
      {State::UpdateRequired, Result::Updated, Standing::WaitsForPowerCycle},
      {State::PendingPowerCycle, Result::PendingPowerCycle, Standing::WaitsForPowerCycle},
      {State::PendingPowerCycle, std::nullopt, Standing::WaitsForPowerCycle},
      {State::UpdateRequired, Result::Failed, Standing::Failed},
      {State::UpToDate, Result::Confirmed, Standing::Done},
      {State::UpdateRequired, Result::Verified, Standing::Done},
      {State::DidNotTake, Result::DidNotTake, Standing::DidNotTake},
      {State::Interrupted, std::nullopt, Standing::Interrupted},
      {State::ImageMismatch, Result::NotUpdatable, Standing::NotUpdatable},
      {State::InternalCode, std::nullopt, Standing::NotUpdatable},
      {State::Busy, Result::Skipped, Standing::NeedsUpdate},
      {State::UpdateRequired, Result::Skipped, Standing::NeedsUpdate},
      {State::Error, std::nullopt, Standing::Failed},
      {State::NoDevice, std::nullopt, std::nullopt},
      {std::nullopt, Result::AnotherUnit, std::nullopt},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(trail::StandingOf(c.state, c.result), c.standing)
        << (c.state ? trail::WordOf(*c.state) : "-") << " "
        << (c.result ? trail::WordOf(*c.result) : "-");
  }
}

// The faces (the window, the command line, the entry points) take every state, result, check and
// standing word from the trail's table: a word spelled again drifts from the log, the events and
// the report that read it. Comments may quote them.
TEST(TrailWords, NoFaceSpellsATrailWord) {
  std::set<std::string> words;
  for (const auto list :
       {trail::StateWords(), trail::ResultWords(), trail::CheckWords(), trail::StandingWords()}) {
    words.insert(list.begin(), list.end());
  }
  const std::regex literal(R"((\[?)\"([a-z-]+)\")");
  int files = 0;
  for (const char* room : {"app", "cli", "programs"}) {
    for (const auto& entry : std::filesystem::recursive_directory_iterator(Root / room)) {
      const auto extension = entry.path().extension();
      if (extension != ".cpp" && extension != ".h") continue;
      ++files;
      std::ifstream file(entry.path());
      std::string text;
      int number = 0;
      while (std::getline(file, text)) {
        ++number;
        if (const auto comment = text.find("//"); comment != std::string::npos) {
          text.erase(comment);
        }
        for (std::sregex_iterator at(text.begin(), text.end(), literal), end; at != end; ++at) {
          const std::string word = (*at)[2];
          // "error" is also the name of the --json document's member that tells what went wrong.
          if (word == "error" && (*at)[1] == "[") continue;
          EXPECT_EQ(words.count(word), 0u) << entry.path().lexically_relative(Root).string() << ":"
                                           << number << " spells \"" << word << "\"";
        }
      }
    }
  }
  EXPECT_GT(files, 10);
}

}  // namespace
