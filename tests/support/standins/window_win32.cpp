// Stand-in for a top-level window: window_win32 TITLE LOG [keep]. Opens a
// window titled TITLE (it may be empty), appends "ready" to LOG, and for every
// WM_CLOSE appends the milliseconds since the epoch; it then closes,
// unless "keep" was given. It gives up after a minute in any case.
#include <windows.h>

#include <chrono>
#include <fstream>
#include <string>

namespace {

const char* log_path;
bool keep_open;

void note(const std::string& line) { std::ofstream(log_path, std::ios::app | std::ios::binary) << line << "\n"; }

LRESULT CALLBACK procedure(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    using namespace std::chrono;
    switch (message) {
    case WM_CLOSE:
        note(std::to_string(duration_cast<milliseconds>(system_clock::now().time_since_epoch()).count()));
        if (!keep_open) DestroyWindow(window);
        return 0;
    case WM_TIMER: DestroyWindow(window); return 0;
    case WM_DESTROY: PostQuitMessage(0); return 0;
    default: return DefWindowProcA(window, message, wparam, lparam);
    }
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 3) return 2;
    log_path = argv[2];
    keep_open = argc > 3 && std::string(argv[3]) == "keep";
    WNDCLASSA window_class{};
    window_class.lpfnWndProc = procedure;
    window_class.hInstance = GetModuleHandleA(nullptr);
    window_class.lpszClassName = "QuillgateStandinWindow";
    RegisterClassA(&window_class);
    HWND window = CreateWindowExA(0, window_class.lpszClassName, argv[1], WS_OVERLAPPEDWINDOW, 10, 10, 200, 100,
                                  nullptr, nullptr, window_class.hInstance, nullptr);
    if (!window) return 3;
    ShowWindow(window, SW_SHOWNOACTIVATE);
    SetTimer(window, 1, 60000, nullptr);
    note("ready");
    for (MSG message; GetMessageA(&message, nullptr, 0, 0) > 0;) DispatchMessageA(&message);
    return 0;
}
