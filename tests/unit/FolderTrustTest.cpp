// Whether a folder may take an elevated program's files: its owner, whether it is a link, and who
// its access list lets change it. Wine gives every file to the running account with a list made
// from Unix permissions, so the owners and entries Windows really has are tried here. And whether
// the programs take the recorder by its signature.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/FolderTrust.h"
#include "platform/RecorderTrust.h"

namespace {

using platform::AccessEntry;
using platform::FolderFacts;
using platform::RecorderVerdict;
using platform::SignatureFacts;
using platform::SignatureRead;
using platform::Trustee;

constexpr std::uint32_t FullControl = 0x001F01FF;
constexpr std::uint32_t ReadExecute = 0x001200A9;
constexpr std::uint32_t GenericAll = 0x10000000;

// The entries of the data folder as the programs make it.
AccessEntry System() { return {Trustee::System, "NT AUTHORITY\\SYSTEM", true, FullControl}; }
AccessEntry Administrators() {
  return {Trustee::Administrators, "BUILTIN\\Administrators", true, FullControl};
}
std::vector<AccessEntry> Ours() {
  return {System(), Administrators(), {Trustee::Other, "BUILTIN\\Users", true, ReadExecute}};
}

FolderFacts Folder(Trustee owner, std::vector<AccessEntry> entries) {
  FolderFacts folder;
  folder.path = "C:\\ProgramData\\Flashwright";
  folder.owner = owner;
  folder.ownerName = owner == Trustee::Other ? "PC\\bob" : "BUILTIN\\Administrators";
  folder.entries = std::move(entries);
  return folder;
}

FolderFacts OursWith(std::vector<AccessEntry> more) {
  std::vector<AccessEntry> entries = Ours();
  entries.insert(entries.end(), more.begin(), more.end());
  return Folder(Trustee::Administrators, entries);
}

TEST(DataFolderRefusal, TrustsOnlyFoldersNoOneButTheTrustedMayChange) {
  FolderFacts link = OursWith({});
  link.link = true;
  FolderFacts noList = OursWith({});
  noList.hasDacl = false;
  FolderFacts byWine = Folder(Trustee::RunningAccount, {System()});
  byWine.entries.push_back({Trustee::RunningAccount, "PC\\admin", true, FullControl});
  byWine.entries.push_back({Trustee::Other, "Everyone", true, ReadExecute});
  const struct {
    const char* name;
    FolderFacts folder;
    std::string refusal;
  } cases[] = {
      {"ours as made", OursWith({}), ""},
      {"owned by SYSTEM", Folder(Trustee::System, {System(), Administrators()}), ""},
      {"made by the running administrator (Wine's own)", byWine, ""},
      {"a system folder (TrustedInstaller, CREATOR OWNER for children)",
       OursWith({{Trustee::TrustedInstaller, "NT SERVICE\\TrustedInstaller", true, FullControl},
                 {Trustee::CreatorOwner, "CREATOR OWNER", true, GenericAll}}),
       ""},
      {"others only denied", OursWith({{Trustee::Other, "Everyone", false, FullControl}}), ""},
      {"others with extended attributes only",
       OursWith({{Trustee::Other, "BUILTIN\\Users", true, 0x0010}}), ""},
      {"a link, even of a trusted owner", link,
       "C:\\ProgramData\\Flashwright is a link to another place, not a folder of its own"},
      {"planted by a user", Folder(Trustee::Other, {System(), Administrators()}),
       "C:\\ProgramData\\Flashwright is owned by PC\\bob, not by Administrators or SYSTEM"},
      {"no access list", noList,
       "C:\\ProgramData\\Flashwright has no access list, so everyone may change it"},
      {"users may add files (ProgramData's inherited list)",
       OursWith({{Trustee::Other, "BUILTIN\\Users", true, 0x0002 | 0x0004}}),
       "BUILTIN\\Users is allowed to change C:\\ProgramData\\Flashwright, where only SYSTEM and "
       "Administrators may"},
      {"each right that changes alone, named once, in order",
       OursWith({{Trustee::Other, "A\\delete", true, 0x00010000},
                 {Trustee::Other, "A\\dac", true, 0x00040000},
                 {Trustee::Other, "A\\owner", true, 0x00080000},
                 {Trustee::Other, "A\\child", true, 0x0040},
                 {Trustee::Other, "A\\attributes", true, 0x0100},
                 {Trustee::Other, "A\\generic", true, 0x40000000},
                 {Trustee::Other, "A\\dac", true, 0x00040000}}),
       "A\\delete, A\\dac, A\\owner, A\\child, A\\attributes and A\\generic are allowed to change "
       "C:\\ProgramData\\Flashwright, where only SYSTEM and Administrators may"},
      {"a grant for children only still counts (inherited by our files)",
       OursWith({{Trustee::Other, "Everyone", true, GenericAll}}),
       "Everyone is allowed to change C:\\ProgramData\\Flashwright, where only SYSTEM and "
       "Administrators may"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(platform::DataFolderRefusal(c.folder), c.refusal);
  }
}

TEST(ProgramFolderWarning, NamesTheOwnerAndEachOtherWriter) {
  EXPECT_EQ(platform::ProgramFolderWarning(OursWith({})), "");
  FolderFacts tools = Folder(Trustee::Other, {System(), Administrators()});
  tools.path = "C:\\Tools";
  tools.entries.push_back({Trustee::Other, "NT AUTHORITY\\Authenticated Users", true, 0x001301BF});
  tools.entries.push_back({Trustee::Other, "BUILTIN\\Users", true, ReadExecute});
  const std::string warning = platform::ProgramFolderWarning(tools);
  EXPECT_EQ(warning.rfind("PC\\bob and NT AUTHORITY\\Authenticated Users may change C:\\Tools, "
                          "where this program and its library are: ",
                          0),
            0u)
      << warning;
}

// Whether signed programs take the recorder beside them. Wine trusts any signature whose digest and
// key check out, whoever issued its certificate, so the untrusted ones Windows gives (a self-made
// or private certificate, an expired one) are tried here.
TEST(JudgeRecorder, TakesOnlyATrustedRecorderSignedWithTheProgramsKey) {
  const std::vector<std::uint8_t> ourKey = {0x30, 0x82, 0x01, 0x22, 0x01};
  const std::vector<std::uint8_t> theirKey = {0x30, 0x82, 0x01, 0x22, 0x02};
  const SignatureFacts none{SignatureRead::Absent, false, {}};
  const SignatureFacts unreadable{SignatureRead::Unreadable, false, {}};
  // The programs as a private or self-made certificate leaves them: signed, not trusted.
  const SignatureFacts ours{SignatureRead::Read, false, ourKey};
  const SignatureFacts oursTrusted{SignatureRead::Read, true, ourKey};
  const struct {
    const char* name;
    SignatureFacts program;
    SignatureFacts recorder;
    RecorderVerdict verdict;
  } cases[] = {
      {"unsigned programs take an unsigned recorder", none, none, RecorderVerdict::Allowed},
      {"genuine: trusted, our key", oursTrusted, oursTrusted, RecorderVerdict::Allowed},
      {"signed programs, unsigned recorder", oursTrusted, none, RecorderVerdict::RecorderUnsigned},
      {"our key, but the recorder's signature is not trusted (nor the programs')",
       ours,
       {SignatureRead::Read, false, ourKey},
       RecorderVerdict::RecorderUnverified},
      {"the programs' signer cannot be read", unreadable, oursTrusted,
       RecorderVerdict::ProgramUnreadable},
      {"the recorder's signer cannot be read",
       oursTrusted,
       {SignatureRead::Unreadable, true, {}},
       RecorderVerdict::RecorderUnreadable},
      {"impostor: same subject, trusted, another key",
       oursTrusted,
       {SignatureRead::Read, true, theirKey},
       RecorderVerdict::OtherKey},
      {"impostor beside untrusted programs",
       ours,
       {SignatureRead::Read, true, theirKey},
       RecorderVerdict::OtherKey},
      {"empty keys on both sides",
       {SignatureRead::Read, true, {}},
       {SignatureRead::Read, true, {}},
       RecorderVerdict::ProgramUnreadable},
      {"an empty key on the recorder's side",
       oursTrusted,
       {SignatureRead::Read, true, {}},
       RecorderVerdict::RecorderUnreadable},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const RecorderVerdict verdict = platform::JudgeRecorder(c.program, c.recorder);
    EXPECT_EQ(verdict, c.verdict);
    // What status and support say: a reason for each refusal, none for the recorder taken.
    EXPECT_EQ(platform::RecorderRefusal(verdict).empty(), verdict == RecorderVerdict::Allowed);
  }
}

}  // namespace
