#include "record/RecordControl.h"

#include "audio/CriticalSection.h"
#include "plugin/Globals.h"

#include <cstdio>
#include <ctime>

namespace
{
bool answerNo(const char* question)
{
    std::fprintf(stderr, "SPU: %s (no)\n", question);
    return false;
}

RecordQuestion askUser = answerNo;
} // namespace

void setRecordQuestion(RecordQuestion question)
{
    askUser = question != nullptr ? question : answerNo;
}

bool startRecording()
{
    if (theRecord != nullptr)
        return true;

    // Give the host up to 100 ms to finish a transfer in progress, so that the
    // snapshot's transfer registers describe a consistent state.
    const unsigned long start = GetTickCount();
    while (!theSPU.ChkXferAlignment() && static_cast<unsigned int>(GetTickCount() - start) <= 100)
    {
        leaveCS();
        timespec zero = {0, 0};
        timespec rest;
        if (nanosleep(&zero, &rest) != 0)
            nanosleep(&rest, nullptr);
        enterCS();
    }
    if (theSPU.ChkXferAlignment())
        theSPU.XferAlignmentHack();
    else if (!askUser("The record might lack consistency. Continue?"))
        return false;

    Record* record = new Record();
    if (!record->startRecord(&theSPU))
    {
        std::fprintf(stderr, "SPU: cannot create \"%s\"; nothing is recorded.\n", Record::LogFileName);
        delete record;
        return false;
    }
    theRecord = record;
    return true;
}

void stopRecording()
{
    if (theRecord == nullptr)
        return;
    theRecord->stopRecord();
    delete theRecord;
    theRecord = nullptr;
}
