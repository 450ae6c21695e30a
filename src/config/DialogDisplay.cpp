#include "config/DialogDisplay.h"

#include <FL/Fl.H>
#include <FL/x.H>

#include <cstdio>
#include <cstdlib>

bool openDialogDisplay()
{
    if (fl_display != nullptr)
        return true;
    Display* display = XOpenDisplay(nullptr);
    if (display == nullptr)
    {
        const char* name = std::getenv("DISPLAY");
        std::fprintf(stderr, "SPU: cannot open the X display \"%s\"; the dialog is not shown.\n",
                     name != nullptr ? name : "");
        return false;
    }
    fl_open_display(display);
    return true;
}
