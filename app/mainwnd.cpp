#include "app/mainwnd.h"

HWND hMainWnd = nullptr;
