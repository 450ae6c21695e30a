#pragma once

// Starting and stopping the event recorder, as the real-time window's "Record"
// button does. Both run with the critical section held and return with it held
// (the start leaves it briefly while it waits for a transfer to finish). The
// running recording lives in the caller's slot (the plugin's theRecord), null
// while none runs.

class Record;
class SPU;

// How the start talks to the user. The dialogs connect these to their message
// boxes (fl_ask, fl_alert); until then the question is answered no and the alert
// is printed on standard error. A null pointer restores that default.
typedef bool (*RecordQuestion)(const char* question); // true means yes
typedef void (*RecordAlert)(const char* message);
void setRecordQuestion(RecordQuestion question);
void setRecordAlert(RecordAlert alert);

// Waits up to 100 ms for spu's sound-RAM transfers to settle, aligns the transfer
// registers, and starts a recording of spu into "spulog.spu". Returns true when a
// recording runs afterwards (recording set). When "spulog.spu" cannot be created
// the user is alerted and recording stays null.
bool startRecording(SPU& spu, Record*& recording);

// Stops and discards the running recording, if any.
void stopRecording(Record*& recording);
