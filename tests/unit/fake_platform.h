// Puts every fake platform service back to its start: no windows, files, icons, devices or
// paint left from an earlier test.
#pragma once

#include "platform/fake/fake_file.h"
#include "platform/fake/fake_notify.h"
#include "platform/fake/fake_screen.h"
#include "platform/fake/fake_wave.h"
#include "platform/fake/fake_window.h"

inline void ResetFakePlatform() {
    fake::ResetWindows();
    fake::ResetFiles();
    fake::ResetNotify();
    fake::ResetScreen();
    fake::ResetWave();
}
