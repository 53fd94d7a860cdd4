// sink_timing.exe: drives the Win32 playback sink (platform/win32/playback_sink.cpp) with the time
// stamps of a journal file and logs, for every event, the moment the sink's timer thread released
// it, so that the sink's own timing can be told apart from the delivery of the injected input to
// a window.
//
//   sink_timing.exe JOURNAL LOG [--inject]
//
// Each event is handed out once, with its gap from the previous one as the delay (the recorded
// pace, as the recorder hands it out at normal speed). Without --inject the events carry WM_QUIT,
// which no input queue carries, so the sink processes them without injecting anything (message 0
// would be a procedure's wait); with it they are injected as recorded.
// LOG gets one line per event: "index scheduled_ms released_us handling_us": when the sink's
// timeline was due to play it and when its wait ended, both counted from the first event, and
// how long the injection took.
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <vector>

#include "platform/input.h"
#include "platform/win32/input_win32.h"

namespace {

std::vector<platform::EventRecord> events;
std::vector<long long> releasedAt;  // QPC ticks at which the wait for each event ended
std::vector<long long> injectedAt;  // and at which its injection was done
size_t asked = 0;                   // events handed out
size_t observed = 0;                // events the timer thread reported
bool inject = false;
platform::HookHandle hook = nullptr;
bool finished = false;

// On the timer thread; events are released one at a time and in order.
void Observe(LONGLONG released, LONGLONG injected) {
    if (observed < events.size()) {
        releasedAt[observed] = released;
        injectedAt[observed] = injected;
        ++observed;
    }
}

// The contract the recorder keeps: an ask hands out the current event with its gap, the skip
// moves on and the last one removes the hook.
intptr_t Procedure(int code, uintptr_t, intptr_t lParam) {
    if (code == HC_GETNEXT) {
        platform::EventRecord* target = reinterpret_cast<platform::EventRecord*>(lParam);
        size_t current = asked++;
        *target = events[current];
        if (!inject)
            target->message = WM_QUIT;
        return current ? static_cast<intptr_t>(events[current].time - events[current - 1].time) : 0;
    }
    if (code == HC_SKIP && asked == events.size()) {
        platform::RemoveHook(hook);
        finished = true;
    }
    return 0;
}

uint32_t U32(const unsigned char* bytes) {
    return bytes[0] | bytes[1] << 8 | bytes[2] << 16 | static_cast<uint32_t>(bytes[3]) << 24;
}

bool ReadJournal(const char* path) {
    FILE* file = fopen(path, "rb");
    if (!file)
        return false;
    std::vector<unsigned char> data;
    unsigned char buffer[65536];
    size_t n;
    while ((n = fread(buffer, 1, sizeof buffer, file)) > 0)
        data.insert(data.end(), buffer, buffer + n);
    fclose(file);
    if (data.size() < 40)
        return false;
    uint32_t headerSize = U32(&data[16]), recordSize = U32(&data[20]), count = U32(&data[24]);
    if (recordSize < 20 || headerSize + uint64_t(count) * recordSize != data.size())
        return false;
    for (uint32_t i = 0; i < count; ++i) {
        const unsigned char* r = &data[headerSize + size_t(i) * recordSize];
        events.push_back({U32(r), U32(r + 4), U32(r + 8), U32(r + 12), U32(r + 16)});
    }
    return !events.empty();
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        fprintf(stderr, "usage: sink_timing JOURNAL LOG [--inject]\n");
        return 2;
    }
    inject = argc > 3 && !strcmp(argv[3], "--inject");
    if (!ReadJournal(argv[1])) {
        fprintf(stderr, "cannot read %s\n", argv[1]);
        return 2;
    }
    releasedAt.assign(events.size(), 0);
    injectedAt.assign(events.size(), 0);
    platform::win32::SetInjectionObserver(Observe);
    hook = platform::InstallPlaybackHook(nullptr, Procedure);
    if (!hook) {
        fprintf(stderr, "the playback sink was refused\n");
        return 3;
    }
    MSG msg;
    while (!finished && GetMessageW(&msg, nullptr, 0, 0) > 0) {
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    FILE* log = fopen(argv[2], "w");
    if (!log)
        return 2;
    for (size_t i = 0; i < events.size(); ++i) {
        long long ticks = releasedAt[i] - releasedAt[0];
        fprintf(log, "%u %u %.1f %.1f\n", static_cast<unsigned>(i),
                static_cast<unsigned>(events[i].time - events[0].time),
                static_cast<double>(ticks) * 1e6 / static_cast<double>(frequency.QuadPart),
                static_cast<double>(injectedAt[i] - releasedAt[i]) * 1e6 /
                    static_cast<double>(frequency.QuadPart));
    }
    fclose(log);
    return 0;
}
