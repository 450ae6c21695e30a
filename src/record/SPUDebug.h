#pragma once

// Debug output hooks. Nothing calls them; they do nothing.
class SPUDebug
{
public:
    virtual ~SPUDebug() {}

    void OutMain(char*, char*, unsigned long, unsigned short, int) {}
    void Out2(char*, char*, int) {}
    void OutDump(char*, char*, char*, unsigned long) {}
};
