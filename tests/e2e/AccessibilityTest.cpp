// End-to-end tests of the window for people who do not read it with default colours: what an
// accessibility client (MSAA) learns about the status lines and hears when they change, and
// whether the lines stay readable with high-contrast system colours.
#include <gtest/gtest.h>
#include <windows.h>

#include <oleacc.h>

#include <array>
#include <fstream>
#include <functional>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "harness/AppWindow.h"
#include "harness/Driver.h"
#include "harness/Simulator.h"
#include "platform/win32/Text.h"

namespace e2e {
namespace {

using app::ControlId;
using app::FinalCaption;
using app::MainClass;
using app::WindowId;

constexpr char ProgramName[] = "Flashwright.exe";
constexpr char LibraryName[] = "ZRFWUpdateDll.dll";
constexpr Millis StartTimeout = 20s;
constexpr Millis ExitTimeout = 20s;
constexpr Millis ScreenTimeout = 5s;

constexpr char UpdateRequired[] = "Firmware: Update required!";
constexpr char DefaultIdentity[] = "SIMDEV  USB Bridge";

// EVENT_OBJECT_LIVEREGIONCHANGED (the headers declare it for Windows 8 and later only).
constexpr DWORD LiveRegionChanged = 0x8019;

// One device that needs the update; its programming takes a moment.
constexpr char WorldNeedingUpdate[] = "[device]\nversion = 00.01.01.05\nprogram-ms = 500\n";

// COM for this thread, for as long as the object lives.
class ComApartment {
 public:
  ComApartment() : ok_(SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) {}
  ComApartment(const ComApartment&) = delete;
  ComApartment& operator=(const ComApartment&) = delete;
  ~ComApartment() {
    if (ok_) CoUninitialize();
  }

 private:
  bool ok_;
};

// What an MSAA client learns about a window's client object.
struct AccessibleFacts {
  HRESULT found = E_FAIL;  // AccessibleObjectFromWindow
  long role = 0;
  std::string name;
};

AccessibleFacts AskAccessible(HWND window) {
  AccessibleFacts facts;
  IAccessible* object = nullptr;
  facts.found = AccessibleObjectFromWindow(window, static_cast<DWORD>(OBJID_CLIENT),
                                           IID_IAccessible, reinterpret_cast<void**>(&object));
  if (FAILED(facts.found) || object == nullptr) return facts;
  VARIANT self;
  VariantInit(&self);
  self.vt = VT_I4;
  self.lVal = CHILDID_SELF;
  VARIANT role;
  VariantInit(&role);
  if (SUCCEEDED(object->get_accRole(self, &role)) && role.vt == VT_I4) facts.role = role.lVal;
  VariantClear(&role);
  BSTR name = nullptr;
  if (SUCCEEDED(object->get_accName(self, &name)) && name != nullptr) {
    facts.name = platform::win32::WideToUtf8(std::wstring_view(name, SysStringLen(name)));
  }
  SysFreeString(name);
  object->Release();
  return facts;
}

// The events raised by one process, gathered by an out-of-context hook on this thread while it
// pumps messages.
class EventRecorder {
 public:
  struct Event {
    DWORD event;
    HWND window;
    LONG object;
  };

  EventRecorder(DWORD processId, DWORD first, DWORD last) {
    recorder_ = this;
    hook_ = SetWinEventHook(first, last, nullptr, &EventRecorder::Callback, processId, 0,
                            WINEVENT_OUTOFCONTEXT);
  }
  EventRecorder(const EventRecorder&) = delete;
  EventRecorder& operator=(const EventRecorder&) = delete;
  ~EventRecorder() {
    if (hook_) UnhookWinEvent(hook_);
    recorder_ = nullptr;
  }

  bool Hooked() const { return hook_ != nullptr; }

  // Pumps this thread's messages (which delivers the events) until `seen` holds or `timeout`.
  bool PumpUntil(const std::function<bool(const std::vector<Event>&)>& seen, Millis timeout) {
    return WaitUntil(
        [&] {
          MSG message;
          while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) DispatchMessageA(&message);
          return seen(events_);
        },
        timeout);
  }

  const std::vector<Event>& Events() const { return events_; }

 private:
  static void CALLBACK Callback(HWINEVENTHOOK, DWORD event, HWND window, LONG object, LONG, DWORD,
                                DWORD) {
    if (recorder_) recorder_->events_.push_back({event, window, object});
  }

  static inline EventRecorder* recorder_ = nullptr;
  HWINEVENTHOOK hook_ = nullptr;
  std::vector<Event> events_;
};

bool Raised(const std::vector<EventRecorder::Event>& events, DWORD event, HWND window) {
  for (const auto& seen : events) {
    if (seen.event == event && seen.window == window && seen.object == OBJID_CLIENT) return true;
  }
  return false;
}

class AccessibilityTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_.CopyIn(ExecutableDir() / ProgramName);
    dir_.CopyIn(ExecutableDir() / LibraryName);
    std::ofstream(dir_.Path() / "world.ini", std::ios::binary) << WorldNeedingUpdate;
  }

  void TearDown() override {
    if (main_ && program_.Running()) {
      PostMessageA(main_, WM_CLOSE, 0, 0);
      EXPECT_TRUE(program_.WaitForExit(ExitTimeout).has_value()) << "still running after WM_CLOSE";
    }
  }

  // Starts the program and waits until it offers the update.
  void Start() {
    program_ = Process::Launch(dir_.Path() / ProgramName, dir_.Path(),
                               {{"FLASHWRIGHT_SIM_SCENARIO", (dir_.Path() / "world.ini").string()},
                                {"FLASHWRIGHT_SIM_LOG", (dir_.Path() / "sim.log").string()}});
    main_ = WaitForTopLevelWindow({program_.Id(), MainClass, FinalCaption, true}, StartTimeout,
                                  &program_);
    ASSERT_NE(main_, nullptr) << "main window not shown";
    ASSERT_TRUE(
        WaitUntil([&] { return app::ReadScreen(main_).lines[2] == UpdateRequired; }, ScreenTimeout))
        << app::Describe(app::ReadScreen(main_));
  }

  HWND Line(ControlId id) const { return FindDescendantById(main_, WindowId(id)); }

  TempDir dir_{"a11y"};
  Process program_;
  HWND main_ = nullptr;
};

// Each status line is static text named by what it shows; a change of text is announced on the
// line itself (name change, and a live-region change for screen readers that follow those).
TEST_F(AccessibilityTest, StatusLinesAreStaticTextAndAnnounceTheirChanges) {
  ComApartment com;
  ASSERT_NO_FATAL_FAILURE(Start());

  const std::array<std::pair<ControlId, std::string>, 3> scan = {{
      {ControlId::RescanStatus1Panel, ""},
      {ControlId::RescanStatus2Panel, DefaultIdentity},
      {ControlId::RescanStatus3Panel, UpdateRequired},
  }};
  for (const auto& [id, text] : scan) {
    const AccessibleFacts facts = AskAccessible(Line(id));
    ASSERT_HRESULT_SUCCEEDED(facts.found) << "line " << static_cast<int>(id);
    EXPECT_EQ(facts.role, ROLE_SYSTEM_STATICTEXT) << "line \"" << text << "\"";
    EXPECT_EQ(facts.name, text);
  }

  EventRecorder recorder(program_.Id(), EVENT_OBJECT_NAMECHANGE, LiveRegionChanged);
  ASSERT_TRUE(recorder.Hooked());
  HWND updating = Line(ControlId::UpdateStatus2Panel);
  HWND result = Line(ControlId::UpdateStatus1Panel);
  PostClick(app::OfferedButton(main_, "Update"));
  const bool announced = recorder.PumpUntil(
      [&](const auto& events) {
        return Raised(events, EVENT_OBJECT_NAMECHANGE, updating) &&
               Raised(events, LiveRegionChanged, updating) &&
               Raised(events, LiveRegionChanged, result) &&
               app::ReadScreen(main_, app::TextSource::Stored).lines[0] == "Successfully updated";
      },
      ScreenTimeout + 5s);
  EXPECT_TRUE(announced) << "name change on \"Updating.....\": "
                         << Raised(recorder.Events(), EVENT_OBJECT_NAMECHANGE, updating)
                         << ", live region on it: "
                         << Raised(recorder.Events(), LiveRegionChanged, updating)
                         << ", live region on the result line: "
                         << Raised(recorder.Events(), LiveRegionChanged, result)
                         << "; events seen: " << recorder.Events().size();
  const AccessibleFacts facts = AskAccessible(result);
  EXPECT_EQ(facts.role, ROLE_SYSTEM_STATICTEXT);
  EXPECT_EQ(facts.name, "Successfully updated");
}

// The system colours of a high-contrast scheme (white on black) for as long as the object lives;
// the previous colours come back after, also when the test fails.
class HighContrastColours {
 public:
  static constexpr COLORREF Face = RGB(0, 0, 0);
  static constexpr COLORREF Text = RGB(255, 255, 255);

  HighContrastColours() {
    for (std::size_t i = 0; i < Elements.size(); ++i) saved_[i] = GetSysColor(Elements[i]);
    const std::array<COLORREF, 4> scheme = {Face, Text, Text, Face};
    applied_ = SetSysColors(static_cast<int>(Elements.size()), Elements.data(), scheme.data());
  }
  HighContrastColours(const HighContrastColours&) = delete;
  HighContrastColours& operator=(const HighContrastColours&) = delete;
  ~HighContrastColours() {
    SetSysColors(static_cast<int>(Elements.size()), Elements.data(), saved_.data());
  }
  bool Applied() const { return applied_ != FALSE; }

 private:
  static constexpr std::array<INT, 4> Elements = {COLOR_BTNFACE, COLOR_WINDOWTEXT, COLOR_BTNTEXT,
                                                  COLOR_WINDOW};
  std::array<COLORREF, 4> saved_{};
  BOOL applied_ = FALSE;
};

// The colours of `window`'s pixels on the screen, counted.
std::map<COLORREF, int> ScreenColours(HWND window) {
  RECT rect;
  GetWindowRect(window, &rect);
  const int width = rect.right - rect.left;
  const int height = rect.bottom - rect.top;
  std::map<COLORREF, int> colours;
  HDC screen = GetDC(nullptr);
  HDC memory = CreateCompatibleDC(screen);
  HBITMAP bitmap = CreateCompatibleBitmap(screen, width, height);
  HGDIOBJ previous = SelectObject(memory, bitmap);
  BitBlt(memory, 0, 0, width, height, screen, rect.left, rect.top, SRCCOPY);
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) ++colours[GetPixel(memory, x, y)];
  }
  SelectObject(memory, previous);
  DeleteObject(bitmap);
  DeleteDC(memory);
  ReleaseDC(nullptr, screen);
  return colours;
}

// With white-on-black system colours the lines are drawn in the window-text colour on the
// button face. The colours are set before the program starts: a running Wine process keeps the
// colours it read at its start, so a change while the window is open cannot be seen here.
TEST_F(AccessibilityTest, StatusLinesStayReadableInHighContrast) {
  HighContrastColours scheme;
  ASSERT_TRUE(scheme.Applied());
  ASSERT_NO_FATAL_FAILURE(Start());
  ASSERT_TRUE(EnterDesktopOf(main_));

  for (ControlId id : {ControlId::RescanStatus2Panel, ControlId::RescanStatus3Panel}) {
    std::map<COLORREF, int> colours;
    const bool readable = WaitUntil(
        [&] {
          colours = ScreenColours(Line(id));
          return colours[HighContrastColours::Face] > 0 && colours[HighContrastColours::Text] > 20;
        },
        ScreenTimeout);
    std::string seen;
    for (const auto& [colour, count] : colours) {
      seen += ' ';
      seen += std::to_string(colour);
      seen += 'x';
      seen += std::to_string(count);
    }
    EXPECT_TRUE(readable) << "line " << static_cast<int>(id)
                          << ": no text in the window-text colour on the button face; colours "
                             "(BGR value x pixels):"
                          << seen;
  }
}

}  // namespace
}  // namespace e2e
