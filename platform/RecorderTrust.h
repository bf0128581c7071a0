// Whether the recorder may stand in for the update library, decided from what was read of the
// programs' and the recorder's signatures. Portable: the Windows side
// (platform/win32/RecorderSwitch.cpp) reads the signatures with the system's trust libraries.
//
// The signer is known by its key, never by the certificate's subject text: anyone can make a
// certificate with our subject, no one can sign with our key. The key (the signer certificate's
// SubjectPublicKeyInfo) is compared rather than the certificate's thumbprint so that a recorder
// from a support kit signed before the certificate was renewed with the same key is still ours;
// the signature is checked against that key when it is read, so a matching key means the holder
// of our private key signed the file.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace platform {

// What reading a file's signature gave.
enum class SignatureRead {
  Absent,      // the file carries no signature (two readers agree there is none)
  Unreadable,  // the file, its signature or its signer could not be read, or the system's trust
               // functions could not be loaded
  Read,        // a signature whose signer certificate was found and whose signature checks out
               // against that certificate's key
};

struct SignatureFacts {
  SignatureRead read = SignatureRead::Unreadable;
  // Whether the system trusts the file's signature: its digest, its certificate chain to a
  // trusted root, the certificates' times and uses.
  bool verifies = false;
  // The signer certificate's SubjectPublicKeyInfo, DER, when Read.
  std::vector<std::uint8_t> signerKey;
};

enum class RecorderVerdict {
  Allowed,
  ProgramUnreadable,   // the programs' signature is there but cannot be read: nothing to compare
  RecorderUnsigned,    // the programs are signed, the recorder is not
  RecorderUnreadable,  // the recorder's signature is there but cannot be read
  RecorderUnverified,  // the system does not trust the recorder's signature
  OtherKey,            // the recorder is signed with a key other than the programs'
};

// An unsigned program takes any recorder. A signed one takes only a recorder signed with the
// same key whose own signature the system trusts, whether or not the program's own signature is
// trusted (a self-made or expired certificate on the programs must not let any other self-made
// one in). Anything that could not be read refuses, and an empty key is a key not read.
RecorderVerdict JudgeRecorder(const SignatureFacts& program, const SignatureFacts& recorder);

// Why the recorder is not bound, as the clause `status` and support give after "the recorder
// cannot be used: "; empty for Allowed.
std::string RecorderRefusal(RecorderVerdict verdict);

}  // namespace platform
