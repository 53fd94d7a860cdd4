// Windows entry point; everything else lives in the shell.
#include <windows.h>

#include "app/shell.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR argumentText, int showCommand) {
    return AppMain(instance, argumentText, showCommand);
}
