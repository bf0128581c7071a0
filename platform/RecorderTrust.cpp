// The recorder's trust decision over what was read of two signatures; see RecorderTrust.h.
#include "platform/RecorderTrust.h"

namespace platform {
namespace {

// A signer known well enough to compare: read, with a key.
bool SignerKnown(const SignatureFacts& facts) {
  return facts.read == SignatureRead::Read && !facts.signerKey.empty();
}

}  // namespace

RecorderVerdict JudgeRecorder(const SignatureFacts& program, const SignatureFacts& recorder) {
  if (program.read == SignatureRead::Absent) return RecorderVerdict::Allowed;
  if (!SignerKnown(program)) return RecorderVerdict::ProgramUnreadable;
  if (recorder.read == SignatureRead::Absent) return RecorderVerdict::RecorderUnsigned;
  if (!SignerKnown(recorder)) return RecorderVerdict::RecorderUnreadable;
  if (!recorder.verifies) return RecorderVerdict::RecorderUnverified;
  if (recorder.signerKey != program.signerKey) return RecorderVerdict::OtherKey;
  return RecorderVerdict::Allowed;
}

std::string RecorderRefusal(RecorderVerdict verdict) {
  switch (verdict) {
    case RecorderVerdict::Allowed:
      return {};
    case RecorderVerdict::ProgramUnreadable:
      return "the programs are signed and their signature cannot be read";
    case RecorderVerdict::RecorderUnsigned:
      return "the programs are signed and the recorder is not";
    case RecorderVerdict::RecorderUnreadable:
      return "the recorder's signature cannot be read";
    case RecorderVerdict::RecorderUnverified:
      return "the recorder's signature does not verify";
    case RecorderVerdict::OtherKey:
      return "the recorder is signed with a key other than the programs'";
  }
  return "the recorder's signature cannot be judged";
}

}  // namespace platform
