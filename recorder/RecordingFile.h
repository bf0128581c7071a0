// The recording file the recorder appends to: named by FLASHWRIGHT_RECORDING, else made new under
// %ProgramData%\Flashwright\recordings once that folder passes the data folder's checks, opened
// at the first line and never through a link.
#pragma once

#include <string>

namespace recorder {

// Appends one line, as one write the system holds at once: a crash of the process keeps it. A
// line that cannot be written is skipped and counted, and the count said before the next line
// that can. Without a file, nothing happens.
void WriteLine(const std::string& line);
// Closes the file (when the recorder goes).
void CloseRecordingFile();

}  // namespace recorder
