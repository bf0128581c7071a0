// fwinspect: prints what a running Flashwright window shows (caption, the three visible status
// lines, the offered buttons) and optionally waits for a status text or clicks a button.
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>

#include "harness/AppWindow.h"
#include "harness/Driver.h"

namespace {

using namespace e2e;

constexpr int ExitOk = 0;
constexpr int ExitNoWindow = 1;
constexpr int ExitUsage = 2;
constexpr int ExitLineTimeout = 3;
constexpr int ExitNotOffered = 4;
constexpr int ExitStillOpen = 5;

constexpr char Usage[] =
    "usage: fwinspect [--wait-seconds N] [--stored-text]\n"
    "                 [--wait-line L TEXT | --wait-line3 TEXT] [--click Update|Exit | --close]\n"
    "\n"
    "Finds the running Flashwright main window (waiting up to N seconds, default 10) and prints\n"
    "its caption, the three lines of the visible status area (quoted) and the offered buttons.\n"
    "  --wait-line L TEXT first wait (up to N seconds) until status line L (1-3) reads TEXT\n"
    "  --wait-line3 TEXT  the same for line 3\n"
    "  --stored-text      read the texts the window system keeps instead of asking the\n"
    "                     program, so that a program busy in a library call (programming)\n"
    "                     is read at once rather than once it is done\n"
    "  --click NAME       then click Update or Exit (waiting up to N seconds for it to be\n"
    "                     offered); after Exit, wait for the window to close\n"
    "  --close            then close the window as its close box does (WM_CLOSE) and wait\n"
    "                     for it to go\n"
    "Exit status: 0 done, 1 no window, 2 usage, 3 the line never matched, 4 button not offered,\n"
    "5 window still open after Exit or --close.\n";

struct Options {
  int waitSeconds = 10;
  int waitLine = 0;  // 1-3; 0: no wait
  std::string waitText;
  std::optional<std::string> click;
  bool close = false;
  app::TextSource textSource = app::TextSource::Ask;
};

bool Parse(int argc, char** argv, Options& options) {
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    const bool hasValue = i + 1 < argc;
    if (arg == "--wait-seconds" && hasValue) {
      char* end = nullptr;
      const long value = std::strtol(argv[++i], &end, 10);
      if (*end != '\0' || value < 0 || value > 3600) return false;
      options.waitSeconds = static_cast<int>(value);
    } else if (arg == "--wait-line3" && hasValue) {
      options.waitLine = 3;
      options.waitText = argv[++i];
    } else if (arg == "--wait-line" && i + 2 < argc) {
      const std::string line = argv[++i];
      if (line != "1" && line != "2" && line != "3") return false;
      options.waitLine = line[0] - '0';
      options.waitText = argv[++i];
    } else if (arg == "--click" && hasValue) {
      options.click = argv[++i];
      if (*options.click != "Update" && *options.click != "Exit") return false;
    } else if (arg == "--stored-text") {
      options.textSource = app::TextSource::Stored;
    } else if (arg == "--close") {
      options.close = true;
    } else {
      return false;
    }
  }
  return !(options.close && options.click);
}

// When no main window shows up, a message box may say why (e.g. the library is missing).
void ReportMessageBoxes() {
  for (HWND box : FindTopLevelWindows({0, MessageBoxClass, std::nullopt, true})) {
    const MessageBoxInfo info = ReadMessageBox(box);
    std::printf("message box \"%s\": \"%s\"\n", info.caption.c_str(), info.text.c_str());
  }
}

}  // namespace

int main(int argc, char** argv) {
  Options options;
  if (!Parse(argc, argv, options)) {
    std::fputs(Usage, stderr);
    return ExitUsage;
  }
  const Millis wait = std::chrono::seconds(options.waitSeconds);

  HWND window = app::FindMainWindow(wait);
  if (!window) {
    std::printf("no Flashwright window after %d s\n", options.waitSeconds);
    ReportMessageBoxes();
    return ExitNoWindow;
  }

  // A program in a Wine virtual desktop is on a desktop of its own; read it from there.
  EnterDesktopOf(window);

  int status = ExitOk;
  if (options.waitLine != 0 &&
      !WaitUntil(
          [&] {
            return app::ReadScreen(window, options.textSource).lines[options.waitLine - 1] ==
                   options.waitText;
          },
          wait)) {
    std::printf("line %d did not become \"%s\" within %d s\n", options.waitLine,
                options.waitText.c_str(), options.waitSeconds);
    status = ExitLineTimeout;
  }
  std::fputs(app::Describe(app::ReadScreen(window, options.textSource)).c_str(), stdout);
  std::fflush(stdout);
  if (status != ExitOk) return status;

  if (options.close) {
    PostMessageA(window, WM_CLOSE, 0, 0);
    std::printf("asked the window to close\n");
  } else if (options.click) {
    HWND button = nullptr;
    WaitUntil([&] { return (button = app::OfferedButton(window, *options.click)) != nullptr; },
              wait);
    if (!button) {
      std::printf("%s is not offered\n", options.click->c_str());
      return ExitNotOffered;
    }
    PostClick(button);
    std::printf("clicked %s\n", options.click->c_str());
  }
  const bool closing = options.close || (options.click && *options.click == "Exit");
  if (closing && !WaitUntil([&] { return !IsWindow(window); }, wait)) {
    std::printf("window still open %d s later\n", options.waitSeconds);
    return ExitStillOpen;
  }
  std::fflush(stdout);
  return ExitOk;
}
