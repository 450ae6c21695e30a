#pragma once

class Fl_Group;

// The dialogs' framed groups: an engraved frame with its label in size 12 above
// the top left corner. Begins the group; the caller ends it.
Fl_Group* makeFramedGroup(int x, int y, int w, int h, const char* label);
