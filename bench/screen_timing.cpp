// screen_timing.exe: figures of the screen pictures of presses on a real desktop, run by hand
// under the harness. A window with a push button, a text field and a label is shown at the
// monitor's dpi; the program times the picture a press takes and a take of 1000 x 700 pixels,
// says what each control's picture costs on disk and whether it is plain, and times a replay's
// look at the button where it is, after it moved, and once it holds another label.
//
//   screen_timing.exe FILE            writes the pictures to FILE
//   screen_timing.exe FILE --replay   looks for the pictures of FILE, taken perhaps at another
//                                     dpi, in the same window drawn at this one
//
// Also writes each picture as FILE.N.bmp, to look at. Another dpi is had from a run with its
// own prefix, e.g.
//   tools/harness run --monitors 1500x1050+0+0 -- sh -c 'wine reg add "HKCU\Control
//       Panel\Desktop" /v LogPixels /t REG_DWORD /d 144 /f; wine screen_timing.exe F --replay'
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <vector>

#include "journal/picture_file.h"
#include "journal/screen_picture.h"
#include "platform/screen.h"

namespace {

const int kWindowLeft = 40, kWindowTop = 30;
// At 96 dpi, in the window: the controls and the points pressed on them.
struct Control {
    const char* name;
    const char* windowClass;
    const char* text;
    DWORD style;
    int left, top, width, height;
    int pressX, pressY;
};
const Control kControls[] = {
    {"button", "BUTTON", "OK", BS_PUSHBUTTON, 300, 250, 75, 23, 337, 261},
    {"field", "EDIT", "some text", WS_BORDER | ES_LEFT, 40, 60, 240, 21, 200, 70},
    {"label", "STATIC", "Name of the file:", SS_LEFT, 40, 40, 200, 16, 60, 47},
};

int Scaled(int value, int dpi) {
    return MulDiv(value, dpi, 96);
}

void Pump() {
    for (int i = 0; i < 30; i++) {
        MSG message;
        while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&message);
            DispatchMessageA(&message);
        }
        Sleep(10);
    }
}

double Microseconds(LARGE_INTEGER from, LARGE_INTEGER to) {
    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    return 1e6 * static_cast<double>(to.QuadPart - from.QuadPart) /
           static_cast<double>(frequency.QuadPart);
}

// Times `count` calls of `call` and prints their least, median and largest time.
template <typename Call>
void Time(const char* name, int count, double unit, const char* unitName, Call call) {
    std::vector<double> samples;
    for (int i = 0; i < count; i++) {
        LARGE_INTEGER a, b;
        QueryPerformanceCounter(&a);
        call();
        QueryPerformanceCounter(&b);
        samples.push_back(Microseconds(a, b) / unit);
    }
    std::sort(samples.begin(), samples.end());
    printf("%s_%s min %.2f median %.2f max %.2f (%d)\n", name, unitName, samples.front(),
           samples[samples.size() / 2], samples.back(), count);
}

const char* CheckName(journal::PictureCheck check) {
    return check == journal::PictureCheck::kMatches ? "matches"
           : check == journal::PictureCheck::kMoved ? "moved"
                                                    : "missing";
}

void WriteBmp(const char* file, int index, const journal::ScreenPicture& picture) {
    char name[MAX_PATH];
    snprintf(name, sizeof name, "%s.%d.bmp", file, index);
    uint8_t bytes[journal::kPictureBmpSize];
    journal::WritePictureBmp(picture, bytes);
    FILE* out = fopen(name, "wb");
    if (out) {
        fwrite(bytes, 1, sizeof bytes, out);
        fclose(out);
    }
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2)
        return 2;
    bool replay = argc > 2 && strcmp(argv[2], "--replay") == 0;
    // Drawn at the monitor's own scale, as a program aware of it draws.
    typedef BOOL(WINAPI * Aware)();
    Aware aware = reinterpret_cast<Aware>(reinterpret_cast<void*>(
        GetProcAddress(GetModuleHandleA("user32.dll"), "SetProcessDPIAware")));
    if (aware)
        aware();
    int dpi = static_cast<int>(platform::ScreenDpiAt(kWindowLeft, kWindowTop));
    printf("dpi %d\n", dpi);

    WNDCLASSA windowClass = {};
    windowClass.lpfnWndProc = DefWindowProcA;
    windowClass.hInstance = GetModuleHandleA(nullptr);
    windowClass.hbrBackground = GetSysColorBrush(COLOR_BTNFACE);
    windowClass.lpszClassName = "ScreenTiming";
    RegisterClassA(&windowClass);
    HWND window = CreateWindowExA(WS_EX_TOPMOST, "ScreenTiming", "", WS_POPUP | WS_VISIBLE,
                                  kWindowLeft, kWindowTop, Scaled(600, dpi), Scaled(400, dpi),
                                  nullptr, nullptr, windowClass.hInstance, nullptr);
    HFONT font = CreateFontA(-MulDiv(8, dpi, 72), 0, 0, 0, FW_NORMAL, 0, 0, 0, DEFAULT_CHARSET, 0,
                             0, CLEARTYPE_QUALITY, 0, "Tahoma");
    HWND controls[3];
    for (int i = 0; i < 3; i++) {
        const Control& c = kControls[i];
        controls[i] =
            CreateWindowExA(0, c.windowClass, c.text, WS_CHILD | WS_VISIBLE | c.style,
                            Scaled(c.left, dpi), Scaled(c.top, dpi), Scaled(c.width, dpi),
                            Scaled(c.height, dpi), window, nullptr, windowClass.hInstance, nullptr);
        SendMessageA(controls[i], WM_SETFONT, reinterpret_cast<WPARAM>(font), TRUE);
    }
    Pump();
    platform::WindowRect rect = {kWindowLeft, kWindowTop, kWindowLeft + Scaled(600, dpi),
                                 kWindowTop + Scaled(400, dpi)};
    auto pressOf = [&](int i, int32_t* x, int32_t* y) {
        *x = kWindowLeft + Scaled(kControls[i].pressX, dpi);
        *y = kWindowTop + Scaled(kControls[i].pressY, dpi);
    };

    journal::ScreenPicture pictures[3];
    if (replay) {
        FILE* in = fopen(argv[1], "rb");
        std::vector<uint8_t> bytes(3 * journal::kLargestPicture);
        size_t size = in ? fread(bytes.data(), 1, bytes.size(), in) : 0;
        if (in)
            fclose(in);
        uint32_t at = 0;
        for (int i = 0; i < 3; i++) {
            uint32_t taken = journal::DecodePicture(bytes.data() + at,
                                                    static_cast<uint32_t>(size) - at, &pictures[i]);
            if (!taken) {
                printf("%s: damaged\n", argv[1]);
                return 1;
            }
            at += taken;
        }
    } else {
        int32_t x, y;
        pressOf(0, &x, &y);
        Time("take_picture", 200, 1, "us", [&] { journal::TakePicture(x, y, &pictures[0]); });
        std::vector<uint32_t> screen(1000 * 700);
        Time("take_1000x700", 20, 1000, "ms",
             [&] { platform::TakeScreen(0, 0, 1000, 700, screen.data()); });
        FILE* out = fopen(argv[1], "wb");
        for (int i = 0; i < 3; i++) {
            pressOf(i, &x, &y);
            journal::TakePicture(x, y, &pictures[i]);
            uint8_t bytes[journal::kLargestPicture];
            uint32_t size = journal::EncodePicture(pictures[i], bytes);
            printf("picture %s bytes %u plain %d\n", kControls[i].name, size, pictures[i].plain);
            if (out)
                fwrite(bytes, 1, size, out);
        }
        if (out)
            fclose(out);
    }
    for (int i = 0; i < 3; i++)
        WriteBmp(argv[1], i + (replay ? 3 : 0), pictures[i]);

    // A look at each control where it is, then at the button moved 120 by 60 pixels (at 96).
    for (int i = 0; i < 3; i++) {
        int32_t x, y, pressX = 0, pressY = 0;
        pressOf(i, &x, &y);
        journal::PictureCheck check = journal::PictureCheck::kMissing;
        Time("look_here", 1, 1000, "ms",
             [&] { check = journal::LocatePicture(pictures[i], x, y, rect, &pressX, &pressY); });
        printf("  %s (picture at %u dpi): %s\n", kControls[i].name, pictures[i].dpi,
               CheckName(check));
    }
    const Control& b = kControls[0];
    SetWindowPos(controls[0], nullptr, Scaled(b.left + 120, dpi), Scaled(b.top + 60, dpi), 0, 0,
                 SWP_NOSIZE | SWP_NOZORDER);
    Pump();
    int32_t x, y, pressX = 0, pressY = 0;
    pressOf(0, &x, &y);
    journal::PictureCheck check = journal::PictureCheck::kMissing;
    Time("look_moved", 5, 1000, "ms",
         [&] { check = journal::LocatePicture(pictures[0], x, y, rect, &pressX, &pressY); });
    printf("  button moved: %s at %d,%d (its point now %d,%d)\n", CheckName(check), pressX, pressY,
           x + Scaled(120, dpi), y + Scaled(60, dpi));
    // Another label on it: another button, found nowhere.
    SetWindowTextA(controls[0], "No");
    Pump();
    printf("  button relabelled: %s\n",
           CheckName(journal::LocatePicture(pictures[0], x, y, rect, &pressX, &pressY)));
    DestroyWindow(window);
    DeleteObject(font);
    return 0;
}
