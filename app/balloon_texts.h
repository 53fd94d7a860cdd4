// The balloons shown when a recording or playback starts and stops. They are kept in code page
// 936; the notification service turns them into UTF-16 for the shell, so they read the same
// whatever the system's own code page is.
#pragma once

// "Warning!" / "Recording begins... press <Ctrl>-<Alt>-<Shift>-S to stop"
inline constexpr char kRecordingTitle[] = "\xBE\xAF\xB8\xE6!";
inline constexpr char kRecordingText[] =
    "\xBF\xAA\xCA\xBC\xBC\xC7\xC2\xBC...\r\xCD\xA3\xD6\xB9\xC7\xEB\xB0\xB4"
    "<Ctrl>-<Alt>-<Shift>-S\r...";
// "Message!" / "Replay begins... press <Ctrl>-<Alt>-<Shift>-S to stop"
inline constexpr char kPlayingTitle[] = "\xCF\xFB\xCF\xA2!";
inline constexpr char kPlayingText[] =
    "\xBF\xAA\xCA\xBC\xD6\xD8\xB7\xC5...\r\xCD\xA3\xD6\xB9\xC7\xEB\xB0\xB4"
    "<Ctrl>-<Alt>-<Shift>-S\r...";
// "Notice!" / "Recording or playback stops..."
inline constexpr char kStoppedTitle[] = "\xCD\xA8\xD6\xAA!";
inline constexpr char kStoppedText[] =
    "\xCD\xA3\xD6\xB9\xBC\xC7\xC2\xBC\xBB\xF2\xB2\xA5\xB7\xC5...\r...";
