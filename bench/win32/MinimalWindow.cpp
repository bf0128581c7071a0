// The floor for start-up and idle measurements: registers a class, opens one visible window and
// runs a message loop until the window is closed (or two minutes have passed, so a forgotten
// instance ends by itself). Nothing else: no resources, no libraries beyond the system's.
#include <windows.h>

namespace {

constexpr char ClassName[] = "FwbMinimalWindow";
constexpr UINT_PTR LifetimeTimerId = 1;
constexpr UINT LifetimeMs = 120000;

LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_TIMER:
      if (wParam == LifetimeTimerId) DestroyWindow(window);
      return 0;
    case WM_DESTROY:
      PostQuitMessage(0);
      return 0;
    default:
      return DefWindowProcA(window, message, wParam, lParam);
  }
}

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
  WNDCLASSEXA windowClass{};
  windowClass.cbSize = sizeof windowClass;
  windowClass.lpfnWndProc = WindowProc;
  windowClass.hInstance = instance;
  windowClass.hCursor = LoadCursorA(nullptr, reinterpret_cast<LPCSTR>(IDC_ARROW));
  windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
  windowClass.lpszClassName = ClassName;
  if (!RegisterClassExA(&windowClass)) return 1;

  HWND window = CreateWindowExA(0, ClassName, "Minimal", WS_OVERLAPPEDWINDOW, CW_USEDEFAULT,
                                CW_USEDEFAULT, 320, 200, nullptr, nullptr, instance, nullptr);
  if (window == nullptr) return 1;
  // A one-shot safety net; it fires long after any measurement has ended.
  SetTimer(window, LifetimeTimerId, LifetimeMs, nullptr);
  ShowWindow(window, SW_SHOWNORMAL);
  UpdateWindow(window);

  MSG message;
  while (GetMessageA(&message, nullptr, 0, 0) > 0) {
    TranslateMessage(&message);
    DispatchMessageA(&message);
  }
  return 0;
}
