// Arbitrary bytes as a sound file through SoundRecorder::Load. What a load promises:
// - a file of this program (its signature and a zero byte, then sound) yields exactly the bytes
//   after that header as the track; anything else loads as no sound;
// - a loaded track saves back to the very same file, which loads again to the same track;
// - no file handle or audio buffer stays behind, and nothing is left beside the saved file.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

#include "platform/fake/fake_file.h"
#include "platform/fake/fake_wave.h"
#include "sound/sound_recorder.h"
#include "tests/fuzz/fuzz_files.h"

namespace {

using fuzz::Bytes;
using fuzz::Check;

const char kSignature[] = "Quorvatellianis";

SoundRecorder& Recorder() {
    static SoundRecorder* recorder = new SoundRecorder(kSignature);
    return *recorder;
}

bool IsSoundFile(const uint8_t* data, size_t size) {
    return size >= sizeof kSignature && memcmp(data, kSignature, sizeof kSignature) == 0;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    SoundRecorder& recorder = Recorder();
    // The sound files lie beside these journal names, with "_" appended.
    static const std::string input = fuzz::ScratchPath("input.Jnf");
    static const std::string saved = fuzz::ScratchPath("saved.Jnf");
    static const std::string savedFile = saved + "_";
    static const std::string savedTemporary = savedFile + ".part~";

    fuzz::WriteFile(input + "_", data, size);
    Check(recorder.Load(input.c_str()) == 1, "an existing sound file was refused");
    Check(fake::OpenFileCount() == 0, "Load left a file open");
    bool sound = IsSoundFile(data, size) && size > sizeof kSignature;
    Check(recorder.HasSound() == (sound ? 1 : 0), "the track does not follow the file");
    size_t track = sound ? size - sizeof kSignature : 0;
    size_t blocks = (track + SoundRecorder::kBlockSize - 1) / SoundRecorder::kBlockSize;
    Check(fake::LiveWaveBuffers() == int(blocks), "the track is not cut into full blocks");
    if (!sound) {
        Check(recorder.Save(saved.c_str()) == 0, "no sound was saved");
        return 0;
    }

    Bytes file(data, data + size);
    for (int round = 0; round < 2; round++) {
        Check(recorder.Save(saved.c_str()) == 1, "a loaded track could not be saved");
        Check(fake::OpenFileCount() == 0, "Save left a file open");
        Check(access(savedTemporary.c_str(), F_OK) != 0, "Save left its temporary behind");
        Check(fuzz::ReadFile(savedFile) == file, "the saved file differs from the loaded one");
        // Once more from the saved file: the track it gives saves to the same bytes again.
        Check(recorder.Load(saved.c_str()) == 1, "the saved file does not load");
    }
    recorder.Clear();
    Check(fake::LiveWaveBuffers() == 0, "Clear kept audio buffers");
    return 0;
}
