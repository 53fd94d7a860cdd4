// What the user is told of a save or a load that failed: the file, the reason in plain words and
// what became of the recording.
#include <string>

#include "app/shell.h"
#include "platform/file.h"
#include "platform/window.h"
#include "storage/file_buffer.h"

namespace {

struct TaskTexts {
    const char* what;   // followed by the file's name
    const char* after;  // what became of the recording, for the message box
};

TaskTexts Texts(FileTask task) {
    switch (task) {
        case FileTask::SaveJournal:
            return {"The recording could not be saved as",
                    "Nothing was changed on disk: the recording is still held, and can be saved "
                    "elsewhere."};
        case FileTask::SaveSound:
            return {"Its sound track could not be saved as",
                    "The sound track is still held: save the recording again to keep it."};
        case FileTask::LoadJournal:
            return {"The recording could not be loaded from", "The recording held so far is kept."};
        case FileTask::LoadSound:
            return {"Its sound track could not be loaded from",
                    "The recording is held without its sound track."};
    }
    return {"", ""};
}

// The system's words, else those of the file's format, as a sentence.
std::string Reason(FileTask task, const FileFailure& failure) {
    bool saving = task == FileTask::SaveJournal || task == FileTask::SaveSound;
    std::string text = failure.systemError    ? platform::FileErrorText(failure.systemError)
                       : !failure.why.empty() ? failure.why
                       : saving ? "not every byte could be written (is the disk full?)"
                                : "it could not be read";
    if (text[0] >= 'a' && text[0] <= 'z')
        text[0] = static_cast<char>(text[0] - 'a' + 'A');
    char last = text.back();
    if (last != '.' && last != '?' && last != '!')
        text += '.';
    return text;
}

}  // namespace

void TellFileFailure(FileTask task, const FileFailure& failure, const char* journal) {
    if (!failure.failed)
        return;
    TaskTexts texts = Texts(task);
    std::string name = failure.name.empty() ? "(no name)" : failure.name;
    if (!shell.trayMode) {
        std::string line = std::string(texts.what) + " \"" + name + "\": " + Reason(task, failure);
        platform::ReportToDebugger(line.c_str());
        shell.exitCode = kExitFailed;
        return;
    }
    std::string text;
    if (task == FileTask::SaveSound)
        text = std::string("The recording was saved as\n") + journal + "\n\n";
    else if (task == FileTask::LoadSound)
        text = std::string("The recording was loaded from\n") + journal + "\n\n";
    text += std::string(texts.what) + "\n" + name + "\n\n" + Reason(task, failure) + "\n\n" +
            texts.after;
    platform::ShowMessageBox(shell.mainWindow, shell.appName, text.c_str());
}
