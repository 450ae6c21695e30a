#include "record/RecordControl.h"

#include "audio/CriticalSection.h"
#include "record/Record.h"
#include "spu/SPU.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>

namespace
{
bool answerNo(const char* question)
{
    std::fprintf(stderr, "SPU: %s (no)\n", question);
    return false;
}

void printAlert(const char* message)
{
    std::fprintf(stderr, "SPU: %s\n", message);
}

RecordQuestion askUser = answerNo;
RecordAlert alertUser = printAlert;
} // namespace

void setRecordQuestion(RecordQuestion question)
{
    askUser = question != nullptr ? question : answerNo;
}

void setRecordAlert(RecordAlert alert)
{
    alertUser = alert != nullptr ? alert : printAlert;
}

bool startRecording(SPU& spu, Record*& recording)
{
    if (recording != nullptr)
        return true;

    // Give the host up to 100 ms to finish a transfer in progress, so that the
    // snapshot's transfer registers describe a consistent state.
    const unsigned long start = GetTickCount();
    while (!spu.ChkXferAlignment() && static_cast<unsigned int>(GetTickCount() - start) <= 100)
    {
        leaveCS();
        timespec zero = {0, 0};
        timespec rest;
        if (nanosleep(&zero, &rest) != 0)
            nanosleep(&rest, nullptr);
        enterCS();
    }
    if (spu.ChkXferAlignment())
        spu.XferAlignmentHack();
    else if (!askUser("The record might lack consistency. Continue?"))
        return false;

    Record* record = new Record();
    if (!record->startRecord(&spu))
    {
        const int error = errno;
        delete record;
        char message[256];
        std::snprintf(message, sizeof(message), "Cannot create \"%s\" (%s); nothing is recorded.",
                      Record::LogFileName, std::strerror(error));
        alertUser(message);
        return false;
    }
    recording = record;
    return true;
}

void stopRecording(Record*& recording)
{
    if (recording == nullptr)
        return;
    recording->stopRecord();
    delete recording;
    recording = nullptr;
}
