// tray/main.cpp
#include <windows.h>

#include "tray/kestrel_tray_app.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int showCommand)
{
    CKestrelTrayApp app;
    return app.Main(instance, showCommand);
}
