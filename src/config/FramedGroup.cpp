#include "config/FramedGroup.h"

#include <FL/Fl_Group.H>

Fl_Group* makeFramedGroup(int x, int y, int w, int h, const char* label)
{
    Fl_Group* group = new Fl_Group(x, y, w, h, label);
    group->box(FL_ENGRAVED_FRAME);
    group->labelsize(12);
    group->align(FL_ALIGN_TOP_LEFT);
    return group;
}
