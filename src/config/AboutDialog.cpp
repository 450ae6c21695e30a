#include "config/AboutDialog.h"

#include "config/FramedGroup.h"

#include <FL/Fl.H>
#include <FL/Fl_Box.H>
#include <FL/Fl_Group.H>
#include <FL/Fl_Return_Button.H>
#include <FL/Fl_Window.H>

Fl_Window* pflAboutWindow = nullptr;

namespace
{
void makeFramedLine(int x, int y, int w, int h, const char* text)
{
    Fl_Box* box = new Fl_Box(x, y, w, h, text);
    box->box(FL_THIN_DOWN_FRAME);
    box->labelsize(12);
}

Fl_Box* makeLine(int x, int y, int w, int h, const char* text, Fl_Align align)
{
    Fl_Box* box = new Fl_Box(x, y, w, h, text);
    box->labelsize(11);
    box->align(align | FL_ALIGN_INSIDE);
    return box;
}

void closeAbout(Fl_Widget*, void*)
{
    pflAboutWindow->hide();
}
} // namespace

int makeAboutDialog()
{
    pflAboutWindow = new Fl_Window(355, 425, "About Talvane SPU Plugin");
    pflAboutWindow->labelsize(12);

    makeFramedLine(73, 15, 210, 30, "Talvane SPU Plugin 1.1.41");
    makeFramedLine(23, 55, 310, 20, "A PlayStation sound processor for Linux hosts");
    makeFramedLine(40, 75, 275, 20, "Loaded as a PSEmu Pro SPU plugin");
    makeFramedLine(78, 102, 200, 20, "Version 1.1.41");

    Fl_Group* greeting = makeFramedGroup(13, 140, 330, 75, "Greeting");
    makeLine(18, 142, 315, 20, "Plays through the Linux OSS driver or SDL 1.2.", FL_ALIGN_LEFT);
    makeLine(18, 160, 315, 25, "Settings live in ./cfg/spuTalvane.cfg.", FL_ALIGN_LEFT)
        ->align(FL_ALIGN_LEFT | FL_ALIGN_INSIDE | FL_ALIGN_WRAP);
    makeLine(18, 186, 315, 25, "Thank you for playing with the Talvane SPU Plugin.", FL_ALIGN_LEFT)
        ->align(FL_ALIGN_LEFT | FL_ALIGN_INSIDE | FL_ALIGN_WRAP);
    greeting->end();

    Fl_Group* thanks = makeFramedGroup(13, 236, 330, 147, "Thanx to");
    makeLine(18, 236, 325, 25, "Built on:", FL_ALIGN_LEFT);
    makeLine(23, 253, 305, 20, "- the PSEmu Pro plugin interface", FL_ALIGN_LEFT);
    makeLine(23, 266, 305, 20, "- public notes on the PlayStation sound DSP", FL_ALIGN_LEFT);
    makeLine(23, 279, 305, 20, "- OSS and SDL 1.2 for the audio output", FL_ALIGN_LEFT);
    makeLine(23, 292, 305, 20, "- public notes on the ADSR envelope", FL_ALIGN_LEFT);
    makeLine(23, 305, 305, 20, "- public notes on the reverb unit", FL_ALIGN_LEFT);
    makeLine(23, 324, 305, 20, "FLTK, the Fast Light Toolkit, draws these dialogs.", FL_ALIGN_LEFT);
    makeLine(18, 346, 250, 20, "And to the designers of the PSEmu Pro", FL_ALIGN_LEFT);
    makeLine(123, 359, 195, 20, "plugin interface.", FL_ALIGN_RIGHT);
    thanks->end();

    Fl_Return_Button* ok = new Fl_Return_Button(135, 391, 90, 25, "OK");
    ok->labelsize(12);
    ok->callback(closeAbout);

    pflAboutWindow->end();
    pflAboutWindow->set_modal();
    pflAboutWindow->show();
    while (Fl::first_window() != nullptr)
        Fl::wait();
    Fl::flush();

    delete pflAboutWindow;
    pflAboutWindow = nullptr;
    return 0;
}
