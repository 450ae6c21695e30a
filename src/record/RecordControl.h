#pragma once

// Starting and stopping the event recorder, as the real-time window's "Record"
// button does. Both run with the critical section held and return with it held
// (the start leaves it briefly while it waits for a transfer to finish).

// Asks the user a yes/no question; true means yes. The dialogs connect it to their
// question box; without one the answer is no.
typedef bool (*RecordQuestion)(const char* question);
void setRecordQuestion(RecordQuestion question);

// Waits up to 100 ms for sound-RAM transfers to settle, aligns the transfer
// registers, and starts a recording into "spulog.spu". Returns true when a
// recording runs afterwards (theRecord set).
bool startRecording();

// Stops and discards the running recording, if any.
void stopRecording();
