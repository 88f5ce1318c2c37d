// client/main.cpp
#include <windows.h>

#include "client/kestrel_app.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int showCommand)
{
    CKestrelApp app;
    return app.Main(instance, showCommand);
}
