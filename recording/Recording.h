// The recording format: one library call a line, written by the recorder as calls happen and read
// back by the simulator's replay and by usbsim. Which fields each call carries is CallFields.h.
// Portable; see docs/support-recording.md.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace recorder {

// The first line of every recording; a reader refuses other versions.
inline constexpr char FormatHeader[] = "fwrec 1";
// Limits a reader holds a file to: nothing the recorder writes comes near them.
inline constexpr std::size_t MaxLineLength = 16384;
inline constexpr std::size_t MaxRecordingBytes = 64u << 20;

// One argument or out-value: key=value, the value a decimal int, "null", or bytes in hex.
struct Field {
  std::string key;
  std::string value;

  bool operator==(const Field&) const = default;
};

// A structured exception seen on the calling thread during the call.
struct Fault {
  std::uint32_t code = 0;
  std::uint32_t address = 0;

  bool operator==(const Fault&) const = default;
};

struct RecordedCall {
  std::uint64_t sequence = 0;  // from 1, in the order the calls started
  std::string name;            // one of the twelve called entry points
  std::vector<Field> in;       // the arguments, as the call received them
  // The result; none when the call did not return (it faulted and the program took over).
  std::optional<int> result;
  std::vector<Field> out;  // out-values and the promised parts of filled buffers
  std::int64_t micros = 0;
  int messages = 0;          // window messages handled on the calling thread during the call
  std::string messageKinds;  // "WM_TIMER:2,WM_PAINT:1"; empty when none
  std::optional<Fault> fault;

  bool operator==(const RecordedCall&) const = default;
};

// The line for a call, without its line end:
//   SEQ NAME [IN...] -> RESULT [OUT...] us=N messages=N [kinds=K]
//   SEQ NAME [IN...] -> fault code=XXXXXXXX address=XXXXXXXX us=N messages=N [kinds=K]
// A call that saw a fault and still returned has the result form plus code= and address=.
std::string FormatCall(const RecordedCall& call);

// The call on one line; an error text (what is wrong) instead when the line is not one.
struct ParsedLine {
  std::optional<RecordedCall> call;
  std::string error;
};
ParsedLine ParseCall(std::string_view line);

// Who made a recording: the program that bound the recorder (its file name), the program's
// version and the recorder's ("unknown" when one could not be read), and the command line the
// program was started with ("window" for the window program; none when the program did not say,
// as in recordings of earlier versions). The recorder writes it as a note after the header, so
// that a reader that does not know it still reads the recording:
//   # origin recorder=VERSION version=VERSION program=FILE NAME command=COMMAND LINE
// The program's name runs to " command=" (or the line's end): a file name may hold spaces; the
// command line runs to the line's end, its line breaks written as spaces.
struct Origin {
  std::string program;
  std::string programVersion;
  std::string recorderVersion;
  std::string command;

  bool operator==(const Origin&) const = default;
};
// The note's text, without "# ".
std::string FormatOrigin(const Origin& origin);
// The origin in a note; none when the note is not one.
std::optional<Origin> ParseOrigin(std::string_view note);

struct Recording {
  std::vector<RecordedCall> calls;  // in sequence order
  std::vector<std::string> notes;   // the recorder's comment lines ("# ..."), without "# "
  std::optional<Origin> origin;     // none in recordings made before the recorder wrote it
};
struct ParsedRecording {
  std::optional<Recording> recording;
  std::string error;  // "line N: what"
};
// Reads a recording's text. Blank lines and "#" comments are kept aside; the header must come
// first. A later line for a sequence number replaces an earlier one: the recorder writes a
// faulting call when the fault happens and again if the call returns after all. Never throws
// on bad input.
ParsedRecording ParseRecording(std::string_view text);
// Reads a file of at most MaxRecordingBytes.
ParsedRecording LoadRecording(const std::string& fileName);

// Bytes as upper-case hex, two digits each ("" for none).
std::string Hex(std::string_view bytes);
// The bytes of a hex text; none when it is not an even number of hex digits.
std::optional<std::string> Unhex(std::string_view hex);

// A decimal int's value; none when the text is not one (or out of range).
std::optional<int> DecimalInt(std::string_view text);

// The value of a field, or nullptr.
const std::string* FindField(const std::vector<Field>& fields, std::string_view key);

// Whether a name is one of the twelve entry points the program calls.
bool IsCalledEntryPoint(std::string_view name);

}  // namespace recorder
