#!/usr/bin/env python3
"""Fails when a Windows program would not start on Windows XP: it imports a function that XP
lacks, or asks for a newer subsystem version than XP's.

    tools/check_imports.py PROGRAM.exe OBJDUMP"""

import re
import subprocess
import sys

# Functions that toolchains and runtimes like to pull in and that only Vista or later have.
NEWER_THAN_XP = {
    "GetTickCount64", "InitializeConditionVariable", "SleepConditionVariableCS",
    "SleepConditionVariableSRW", "WakeConditionVariable", "WakeAllConditionVariable",
    "InitializeSRWLock", "AcquireSRWLockExclusive", "AcquireSRWLockShared",
    "ReleaseSRWLockExclusive", "ReleaseSRWLockShared", "TryAcquireSRWLockExclusive",
    "InitOnceExecuteOnce", "InitOnceBeginInitialize", "CreateWaitableTimerExW",
    "CreateWaitableTimerExA", "CreateEventExW", "CreateMutexExW", "CreateSemaphoreExW",
    "GetFileInformationByHandleEx", "SetFileInformationByHandle", "CancelIoEx",
    "GetFinalPathNameByHandleW", "CreateSymbolicLinkW", "GetSystemTimePreciseAsFileTime",
    "FlsAlloc", "FlsGetValue", "FlsSetValue", "FlsFree", "GetCurrentProcessorNumber",
    "QueryFullProcessImageNameW", "SetProcessDPIAware", "SetProcessDpiAwarenessContext",
    "GetDpiForWindow", "GetDpiForSystem", "ChangeWindowMessageFilter",
    "ChangeWindowMessageFilterEx", "AddClipboardFormatListener", "GetLocaleInfoEx",
    "LCMapStringEx", "CompareStringEx", "GetUserDefaultLocaleName",
}
XP_SUBSYSTEM = (5, 2)  # 5.1 for 32-bit XP; XP x64 and Server 2003 are 5.2


def main():
    program, objdump = sys.argv[1], sys.argv[2]
    text = subprocess.run([objdump, "-p", program], capture_output=True, text=True,
                          check=True).stdout
    imported = set(re.findall(r"^\s+[0-9a-f]+\s+\d+\s+(\w+)\s*$", text, re.M))
    newer = sorted(imported & NEWER_THAN_XP)
    major = int(re.search(r"MajorSubsystemVersion\s+(\d+)", text).group(1))
    minor = int(re.search(r"MinorSubsystemVersion\s+(\d+)", text).group(1))
    problems = []
    if newer:
        problems.append("imports what Windows XP lacks: " + ", ".join(newer))
    if (major, minor) > XP_SUBSYSTEM:
        problems.append("asks for subsystem %d.%d" % (major, minor))
    if not imported:
        problems.append("no imports found: the objdump output was not understood")
    for problem in problems:
        print("%s %s" % (program, problem))
    if not problems:
        print("%s: %d imports, subsystem %d.%d: starts on Windows XP" % (program, len(imported),
                                                                       major, minor))
    return 1 if problems else 0


sys.exit(main())
