// support: the two commands support asks a customer's administrator to run. `support record
// on|off` sets the machine's recording switch (the programs then bind the recorder in the
// library's place, see docs/support-recording.md); `support collect [FILE]` writes one ZIP of what
// support needs: the recordings, the logs, status --json, the versions and the support settings.
#pragma once

#include "cli/Cli.h"

namespace cli {

ExitCode RunSupport(const Options& options, const Services& services);

// Why a run would record nothing although the switch is on: the recorder would not be bound, or
// it would refuse its folder ("the recorder cannot be used: ..." or "the recordings folder cannot
// be used: ..."); empty when the run is recorded.
std::string NothingRecordedBecause(platform::SupportDesk& desk);

}  // namespace cli
