// Micro-benchmarks of the journal recorder over the fake platform: the record hook per event
// at several list lengths, the playback hook per event, saving and loading a million events set
// beside a plain write and read of the same bytes, and heap bytes per recorded event.
//
// Per-event percentiles come from timing every call on its own (two clock reads around it);
// timer_ns, the cost of an empty pair of reads, is reported beside them and is included in them.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <malloc.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "journal/journal_recorder.h"
#include "platform/fake/fake_file.h"
#include "platform/fake/fake_window.h"
#include "platform/window.h"

namespace {

using Clock = std::chrono::steady_clock;

const uint32_t kFileEvents = 1000000;
const uint32_t kTransfer = 1048576;  // the file buffer's window: the same transfer size

intptr_t IgnoreMessages(platform::WindowHandle, uint32_t, uintptr_t, intptr_t) {
    return 0;
}

// A recorder on a fresh fake platform. The time limit is far away so that nothing stops a long
// recording.
JournalRecorder* NewRecorder() {
    fake::ResetWindows();
    fake::ResetFiles();
    platform::RegisterMainWindowClass(nullptr, "Bench", IgnoreMessages, 0, 0);
    platform::WindowHandle window = platform::CreateHiddenWindow(nullptr, "Bench");
    return new JournalRecorder(nullptr, window, 100000, "Quorvatellianis");
}

// Keys and moves in turn, with the gaps the replay benchmark uses.
platform::EventRecord EventAt(uint32_t i, uint32_t time) {
    if (i % 2)
        return {0x200, 100 + i % 500, 100 + i % 300, time, 0x1234};
    return {i % 4 ? 0x101u : 0x100u, 'A' + i % 26, 1, time, 0x1234};
}

uint32_t GapAt(uint32_t i) {
    static const uint32_t kGaps[20] = {1, 1,  1,  1,  1,  1,  5,  5,  5,   5,
                                       5, 16, 16, 16, 16, 50, 50, 50, 250, 1000};
    return kGaps[(i * 7) % 20];
}

void Record(JournalRecorder* recorder, uint32_t events, uint32_t* time) {
    for (uint32_t i = 0; i < events; i++) {
        *time += GapAt(i);
        fake::RecordEvent(EventAt(i, *time));
    }
}

// The median interval between two clock reads with nothing between them: the part of every
// per-event sample that is the clock's own.
double TimerOverheadNs() {
    std::vector<float> empty(200000);
    for (float& sample : empty) {
        auto a = Clock::now();
        auto b = Clock::now();
        sample = std::chrono::duration<float, std::nano>(b - a).count();
    }
    std::nth_element(empty.begin(), empty.begin() + static_cast<ptrdiff_t>(empty.size() / 2),
                     empty.end());
    return empty[empty.size() / 2];
}

void Percentiles(benchmark::State& state, std::vector<float>& samples) {
    if (samples.empty())
        return;
    std::sort(samples.begin(), samples.end());
    auto at = [&](double p) {
        return samples[static_cast<size_t>(p * static_cast<double>(samples.size() - 1))];
    };
    state.counters["p50_ns"] = at(0.50);
    state.counters["p99_ns"] = at(0.99);
    state.counters["p999_ns"] = at(0.999);
    state.counters["max_ns"] = samples.back();
    state.counters["timer_ns"] = TimerOverheadNs();
}

// ---- record hook ---------------------------------------------------------------------------

// Each iteration records two batches of 1000 events through the hook into a list that already
// holds range(0) events: one timed as a whole (the iteration's time, so the mean carries no
// clock reads), one timed event by event for the percentiles. Once the list has grown by
// range(0) (at least 10k), it is emptied and refilled outside the timed batches.
void BM_RecordHook(benchmark::State& state) {
    const uint32_t held = static_cast<uint32_t>(state.range(0));
    const uint32_t batch = 1000;
    JournalRecorder* recorder = NewRecorder();
    uint32_t time = 1000;
    uint32_t i = 0;
    auto refill = [&]() {
        recorder->Stop();
        recorder->Clear();
        recorder->StartRecording();
        time = 1000;
        Record(recorder, held, &time);
        i = held;
    };
    refill();
    std::vector<float> samples;
    samples.reserve(4000000);
    for (auto _ : state) {
        if (recorder->GetCount() >= held + std::max<uint32_t>(10000, held))
            refill();
        auto batchStart = Clock::now();
        for (uint32_t k = 0; k < batch; k++, i++) {
            time += GapAt(i);
            fake::RecordEvent(EventAt(i, time));
        }
        state.SetIterationTime(std::chrono::duration<double>(Clock::now() - batchStart).count());
        for (uint32_t k = 0; k < batch; k++, i++) {
            time += GapAt(i);
            platform::EventRecord record = EventAt(i, time);
            auto a = Clock::now();
            fake::RecordEvent(record);
            auto b = Clock::now();
            if (samples.size() < samples.capacity())
                samples.push_back(std::chrono::duration<float, std::nano>(b - a).count());
        }
    }
    state.SetItemsProcessed(state.iterations() * batch);
    state.counters["held"] = held;
    Percentiles(state, samples);
    delete recorder;
}
BENCHMARK(BM_RecordHook)->Arg(1000)->Arg(100000)->Arg(1000000)->UseManualTime()->MinTime(0.5);

// ---- playback hook -------------------------------------------------------------------------

// Plays one event as the system would: HC_GETNEXT, again after a delay, HC_SKIP. A playback
// that ended is started again.
inline void PlayOne(JournalRecorder* recorder, platform::EventRecord* record) {
    if (!recorder->IsPlaying())
        recorder->StartPlayback();
    if (fake::CallPlaybackHook(HC_GETNEXT, record))
        fake::CallPlaybackHook(HC_GETNEXT, record);
    fake::CallPlaybackHook(HC_SKIP);
}

// Batches as in BM_RecordHook, over a list of a million events.
void BM_PlaybackHook(benchmark::State& state) {
    const int32_t speed = static_cast<int32_t>(state.range(0));
    const uint32_t batch = 1000;
    JournalRecorder* recorder = NewRecorder();
    uint32_t time = 1000;
    recorder->StartRecording();
    Record(recorder, kFileEvents, &time);
    recorder->Stop();
    recorder->SetSpeed(SpeedKind::Normal);
    if (speed < 16)
        recorder->SetSpeed(SpeedKind::Faster);
    if (speed > 16)
        recorder->SetSpeed(SpeedKind::Slower);

    // How far the delays of one whole playback end up from the recorded span at this speed.
    recorder->StartPlayback();
    uint64_t total = 0;
    for (const fake::Played& played : fake::PlayAll(kFileEvents))
        total += played.delay;
    uint64_t span = 0;
    for (const JournalEvent* e = recorder->GetHead(); e->next; e = e->next)
        span += e->next->record.time - e->record.time;
    state.counters["timeline_error_ms"] =
        static_cast<double>(span) * recorder->GetSpeed() / 16.0 - static_cast<double>(total);

    std::vector<float> samples;
    samples.reserve(4000000);
    platform::EventRecord record;
    for (auto _ : state) {
        auto batchStart = Clock::now();
        for (uint32_t k = 0; k < batch; k++)
            PlayOne(recorder, &record);
        state.SetIterationTime(std::chrono::duration<double>(Clock::now() - batchStart).count());
        for (uint32_t k = 0; k < batch; k++) {
            auto a = Clock::now();
            PlayOne(recorder, &record);
            auto b = Clock::now();
            if (samples.size() < samples.capacity())
                samples.push_back(std::chrono::duration<float, std::nano>(b - a).count());
        }
        benchmark::DoNotOptimize(record);
    }
    state.SetItemsProcessed(state.iterations() * batch);
    state.counters["speed"] = speed;
    Percentiles(state, samples);
    delete recorder;
}
BENCHMARK(BM_PlaybackHook)->Arg(16)->Arg(8)->Arg(32)->UseManualTime()->MinTime(0.5);

// ---- files ---------------------------------------------------------------------------------

std::string Scratch(const char* name) {
    const char* dir = getenv("QV_BENCH_DIR");
    std::string path = dir && dir[0] ? dir : ".";
    return path + "/" + name;
}

const uint64_t kFileBytes = 40 + 20ull * kFileEvents;

JournalRecorder* RecorderWithFileEvents() {
    JournalRecorder* recorder = NewRecorder();
    uint32_t time = 1000;
    recorder->StartRecording();
    Record(recorder, kFileEvents, &time);
    recorder->Stop();
    return recorder;
}

void BM_Save(benchmark::State& state) {
    JournalRecorder* recorder = RecorderWithFileEvents();
    std::string path = Scratch("bench-save.jnf");
    for (auto _ : state)
        if (!recorder->Save(path.c_str()))
            state.SkipWithError("save failed");
    state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(kFileBytes));
    delete recorder;
    unlink(path.c_str());
}

// What the save writes, the way a plain program would: the same bytes in the same transfer
// size to a new file, no encoding, no temporary.
void BM_RawWrite(benchmark::State& state) {
    std::vector<char> bytes(kFileBytes, 7);
    std::string path = Scratch("bench-raw.bin");
    for (auto _ : state) {
        int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
        for (uint64_t done = 0; fd >= 0 && done < kFileBytes;) {
            ssize_t n =
                write(fd, bytes.data() + done, std::min<uint64_t>(kTransfer, kFileBytes - done));
            if (n <= 0)
                break;
            done += static_cast<uint64_t>(n);
        }
        if (fd < 0 || close(fd) != 0)
            state.SkipWithError("write failed");
    }
    state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(kFileBytes));
    unlink(path.c_str());
}

// Each load replaces the million events the previous one built, as loading over a held
// recording does.
void BM_LoadValidate(benchmark::State& state) {
    JournalRecorder* recorder = RecorderWithFileEvents();
    std::string path = Scratch("bench-load.jnf");
    if (!recorder->Save(path.c_str()))
        state.SkipWithError("save failed");
    for (auto _ : state)
        if (!recorder->Load(path.c_str()) || recorder->GetCount() != kFileEvents)
            state.SkipWithError("load failed");
    state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(kFileBytes));
    delete recorder;
    unlink(path.c_str());
}

void BM_RawRead(benchmark::State& state) {
    std::string path = Scratch("bench-raw-read.bin");
    {
        std::vector<char> bytes(kFileBytes, 7);
        FILE* file = fopen(path.c_str(), "wb");
        if (!file || fwrite(bytes.data(), 1, bytes.size(), file) != bytes.size())
            state.SkipWithError("cannot write the input");
        if (file)
            fclose(file);
    }
    std::vector<char> buffer(kTransfer);
    for (auto _ : state) {
        int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
        uint64_t total = 0;
        ssize_t n;
        while (fd >= 0 && (n = read(fd, buffer.data(), kTransfer)) > 0)
            total += static_cast<uint64_t>(n);
        if (fd >= 0)
            close(fd);
        if (total != kFileBytes)
            state.SkipWithError("short read");
        benchmark::DoNotOptimize(buffer.data());
    }
    state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(kFileBytes));
    unlink(path.c_str());
}

// Alternated so that both members of each pair see the same state of the machine.
BENCHMARK(BM_Save)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(1.0)->Repetitions(3);
BENCHMARK(BM_RawWrite)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(1.0)->Repetitions(3);
BENCHMARK(BM_LoadValidate)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->MinTime(1.0)
    ->Repetitions(3);
BENCHMARK(BM_RawRead)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(1.0)->Repetitions(3);

// ---- memory --------------------------------------------------------------------------------

size_t HeapInUse() {
    struct mallinfo2 info = mallinfo2();
    return info.uordblks + info.hblkhd;  // small blocks and separately mapped ones
}

// Heap growth per event while recording range(0) events through the hook, and again while
// loading them back from a file.
void BM_MemoryPerEvent(benchmark::State& state) {
    const uint32_t events = static_cast<uint32_t>(state.range(0));
    JournalRecorder* recorder = NewRecorder();
    for (auto _ : state) {
        recorder->Clear();
        fake::ClearCallLog();
        malloc_trim(0);
        size_t before = HeapInUse();
        uint32_t time = 1000;
        recorder->StartRecording();
        Record(recorder, events, &time);
        recorder->Stop();
        size_t after = HeapInUse();
        state.counters["bytes_per_event"] = static_cast<double>(after - before) / events;

        std::string path = Scratch("bench-memory.jnf");
        recorder->Save(path.c_str());
        recorder->Clear();
        fake::ClearCallLog();
        before = HeapInUse();
        recorder->Load(path.c_str());
        after = HeapInUse();
        unlink(path.c_str());
        state.counters["loaded_bytes_per_event"] = static_cast<double>(after - before) / events;
    }
    state.counters["node_bytes"] = sizeof(JournalEvent);
    delete recorder;
}
BENCHMARK(BM_MemoryPerEvent)->Arg(1000)->Arg(100000)->Arg(1000000)->Iterations(1);

}  // namespace

BENCHMARK_MAIN();
