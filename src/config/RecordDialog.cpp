#include "config/RecordDialog.h"

#include "config/FramedGroup.h"

#include <FL/Fl.H>
#include <FL/Fl_Button.H>
#include <FL/Fl_Check_Button.H>
#include <FL/Fl_Group.H>
#include <FL/Fl_Return_Button.H>
#include <FL/Fl_Window.H>

Fl_Window* pflRecordWindow = nullptr;
Fl_Check_Button* pflREGwrite = nullptr;
Fl_Check_Button* pflREGread = nullptr;
Fl_Check_Button* pflDMAwrite = nullptr;
Fl_Check_Button* pflDMAread = nullptr;
Fl_Check_Button* pflXAplay = nullptr;
Fl_Check_Button* pflCDDAplay = nullptr;
Fl_Return_Button* pflRecOK = nullptr;
Fl_Button* pflRecCancel = nullptr;

namespace
{
// The check buttons in bit order: bit 0 "REG write" to bit 5 "CDDA play".
Fl_Check_Button** const eventButtons[] = {&pflREGwrite, &pflREGread, &pflDMAwrite,
                                          &pflDMAread,  &pflXAplay,  &pflCDDAplay};
const char* const eventLabels[] = {"REG write", "REG read", "DMA write", "DMA read", "XA play", "CDDA play"};

// The "RecOpt" value the latest window edits.
int* editedRecOpt = nullptr;
} // namespace

void deleteRecordDialog()
{
    delete pflRecordWindow;
    pflRecordWindow = nullptr;
    for (Fl_Check_Button** button : eventButtons)
        *button = nullptr;
    pflRecOK = nullptr;
    pflRecCancel = nullptr;
}

void makeRecordDialog(int& recOpt)
{
    deleteRecordDialog();
    editedRecOpt = &recOpt;
    pflRecordWindow = new Fl_Window(175, 200, "Recording Option");
    pflRecordWindow->labelsize(12);

    Fl_Group* events = makeFramedGroup(10, 20, 155, 140, "Recording event");
    for (int bit = 0; bit < 6; bit++)
    {
        Fl_Check_Button* button = new Fl_Check_Button(25, 30 + 20 * bit, 85, 20, eventLabels[bit]);
        button->down_box(FL_DOWN_BOX);
        button->labelsize(12);
        button->value((recOpt >> bit) & 1);
        *eventButtons[bit] = button;
    }
    events->end();

    pflRecOK = new Fl_Return_Button(10, 170, 70, 20, "OK");
    pflRecOK->labelsize(12);
    pflRecOK->callback(RecOptDialogProc);
    pflRecCancel = new Fl_Button(95, 170, 70, 20, "Cancel");
    pflRecCancel->labelsize(12);
    pflRecCancel->callback(RecOptDialogProc);

    pflRecordWindow->end();
    pflRecordWindow->set_modal();
    pflRecordWindow->show();
}

void RecOptDialogProc(Fl_Widget* widget, void*)
{
    if (widget == pflRecOK)
    {
        int recOpt = 0;
        for (int bit = 0; bit < 6; bit++)
            recOpt |= (*eventButtons[bit])->value() << bit;
        *editedRecOpt = recOpt;
        pflRecordWindow->hide();
    }
    else if (widget == pflRecCancel)
        pflRecordWindow->hide();
}
