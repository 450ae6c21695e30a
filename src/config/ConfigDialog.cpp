#include "config/ConfigDialog.h"

#include "config/Config.h"
#include "config/FramedGroup.h"
#include "config/RecordDialog.h"

#include <FL/Fl.H>
#include <FL/Fl_Box.H>
#include <FL/Fl_Button.H>
#include <FL/Fl_Check_Button.H>
#include <FL/Fl_Choice.H>
#include <FL/Fl_Counter.H>
#include <FL/Fl_Group.H>
#include <FL/Fl_Return_Button.H>
#include <FL/Fl_Window.H>
#include <FL/fl_ask.H>

#include <atomic>
#include <cstdio>
#include <dlfcn.h>
#include <mutex>
#include <string>

int dialogResult = 2;

Fl_Window* pflConfigWindow = nullptr;
Fl_Choice* pflAudioDevice = nullptr;
Fl_Counter* pflBufferSize = nullptr;
Fl_Choice* pflAudioOutMethod = nullptr;
Fl_Choice* pflAsyncMode = nullptr;
Fl_Check_Button* pflShowRealtimeConfigWindow = nullptr;
Fl_Check_Button* pflWaitForXABufferIsFree = nullptr;
Fl_Check_Button* pflCacheVagDecode = nullptr;
Fl_Counter* pflFinetune = nullptr;
Fl_Button* pflRecOption = nullptr;
Fl_Choice* pflReverbType = nullptr;
Fl_Check_Button* pflUpdateBeforeRegisterAccess = nullptr;
Fl_Check_Button* pflSPUIRQWaitCPUAction = nullptr;
Fl_Check_Button* pflSPUIRQForceInterruptFlag7 = nullptr;
Fl_Return_Button* pflOK = nullptr;
Fl_Button* pflCancel = nullptr;
Fl_Button* pflDefault = nullptr;

namespace
{
// Index = configuration value. "DirectSound" and "WaveMapper" belong to another
// platform: they stay visible but greyed; building the window activates the others.
Fl_Menu_Item menu_pflAudioDevice[] = {
    {"DirectSound", 0, nullptr, nullptr, FL_MENU_INACTIVE, FL_NORMAL_LABEL, 0, 12, 0},
    {"SDL", 0, nullptr, nullptr, FL_MENU_INACTIVE, FL_NORMAL_LABEL, 0, 12, 0},
    {"WaveMapper", 0, nullptr, nullptr, FL_MENU_INACTIVE, FL_NORMAL_LABEL, 0, 12, 0},
    {"OSS", 0, nullptr, nullptr, FL_MENU_INACTIVE, FL_NORMAL_LABEL, 0, 12, 0},
    {nullptr, 0, nullptr, nullptr, 0, 0, 0, 0, 0}};

Fl_Menu_Item menu_pflAudioOutMethod[] = {{"Thread", 0, nullptr, nullptr, 0, FL_NORMAL_LABEL, 0, 12, 0},
                                         {"Timer", 0, nullptr, nullptr, 0, FL_NORMAL_LABEL, 0, 12, 0},
                                         {"SPUasync", 0, nullptr, nullptr, 0, FL_NORMAL_LABEL, 0, 12, 0},
                                         {nullptr, 0, nullptr, nullptr, 0, 0, 0, 0, 0}};

Fl_Menu_Item menu_pflAsyncMode[] = {{"Simple", 0, nullptr, nullptr, 0, FL_NORMAL_LABEL, 0, 12, 0},
                                    {"Wait", 0, nullptr, nullptr, 0, FL_NORMAL_LABEL, 0, 12, 0},
                                    {"Smooth", 0, nullptr, nullptr, 0, FL_NORMAL_LABEL, 0, 12, 0},
                                    {nullptr, 0, nullptr, nullptr, 0, 0, 0, 0, 0}};

Fl_Menu_Item menu_pflReverbType[] = {{"Off", 0, nullptr, nullptr, 0, FL_NORMAL_LABEL, 0, 12, 0},
                                     {"TiMidity", 0, nullptr, nullptr, 0, FL_NORMAL_LABEL, 0, 12, 0},
                                     {"Freeverb", 0, nullptr, nullptr, 0, FL_NORMAL_LABEL, 0, 12, 0},
                                     {"Ulma's", 0, nullptr, nullptr, 0, FL_NORMAL_LABEL, 0, 12, 0},
                                     {"Brask's", 0, nullptr, nullptr, 0, FL_NORMAL_LABEL, 0, 12, 0},
                                     {nullptr, 0, nullptr, nullptr, 0, 0, 0, 0, 0}};

const int FinetuneLowest = -360;
const int FinetuneHighest = 360;

// True while makeConfigDialog runs the real-time window. The window's thread sets
// it before it first looks at the close request and the host's thread sets the
// request before it looks at this flag, so either the loop sees the request or the
// host wakes it. It also keeps wake-ups from reaching a later dialog.
std::atomic<bool> realtimeLoopRunning(false);

Fl_Choice* makeChoice(int x, int y, int w, int h, const char* label, Fl_Menu_Item* menu,
                      Fl_Callback* callback)
{
    Fl_Choice* choice = new Fl_Choice(x, y, w, h, label);
    choice->down_box(FL_BORDER_BOX);
    choice->labelsize(12);
    choice->textsize(12);
    choice->menu(menu);
    choice->callback(callback);
    return choice;
}

Fl_Counter* makeCounter(int x, int y, int w, int h, const char* label, int lowest, int highest,
                        Fl_Callback* callback)
{
    Fl_Counter* counter = new Fl_Counter(x, y, w, h, label);
    counter->type(FL_SIMPLE_COUNTER);
    counter->labelsize(12);
    counter->textsize(12);
    counter->align(FL_ALIGN_LEFT);
    counter->step(1);
    counter->bounds(lowest, highest);
    counter->callback(callback);
    return counter;
}

Fl_Check_Button* makeCheckButton(int x, int y, int w, int h, const char* label, Fl_Callback* callback)
{
    Fl_Check_Button* button = new Fl_Check_Button(x, y, w, h, label);
    button->down_box(FL_DOWN_BOX);
    button->labelsize(12);
    button->callback(callback);
    return button;
}

void makeHintBox(int x, int y, int w, int h, const char* label)
{
    Fl_Box* box = new Fl_Box(x, y, w, h, label);
    box->labelsize(12);
    box->align(FL_ALIGN_LEFT | FL_ALIGN_INSIDE);
}

template <class Button>
Button* makeButton(int x, int y, int w, int h, const char* label, Fl_Callback* callback)
{
    Button* button = new Button(x, y, w, h, label);
    button->labelsize(12);
    button->callback(callback);
    return button;
}

// A value outside the menu (a hand-edited file, or ReverbType 99 which the reverb
// honours) shows no entry and is kept unless the user picks one.
void setChoice(Fl_Choice* choice, int value)
{
    if (value >= 0 && value < choice->size() - 1)
        choice->value(value);
    else
        choice->value(static_cast<const Fl_Menu_Item*>(nullptr));
}

int getChoice(const Fl_Choice* choice, int kept)
{
    return choice->value() >= 0 ? choice->value() : kept;
}

// Counters hold doubles; the configuration keeps the integer part.
int getCounter(const Fl_Counter* counter)
{
    return static_cast<int>(counter->value());
}

bool inRange(double value, int lowest, int highest)
{
    return value >= lowest && value <= highest;
}

// The SDL device loads the library at run time; accepting "SDL" where it cannot
// load would leave the user without sound, so the dialog tries it first. Debian
// installs "libSDL.so" only with the development package, so the run-time name is
// tried as well, as the device does.
bool canLoadSDL()
{
    for (const char* name : {"libpthread.so", "libpthread.so.0"})
    {
        void* library = dlopen(name, RTLD_LAZY | RTLD_GLOBAL);
        if (library != nullptr)
            dlclose(library);
    }
    void* sdl = dlopen("libSDL.so", RTLD_NOW);
    if (sdl == nullptr)
    {
        const std::string error = dlerror();
        sdl = dlopen("libSDL-1.2.so.0", RTLD_NOW);
        if (sdl == nullptr)
        {
            std::fprintf(stderr, "SPU: dlopen() %s\r\n", error.c_str());
            fl_alert("Failed to load SDL library (libSDL.so).");
            return false;
        }
    }
    dlclose(sdl);
    return true;
}

void acceptDialog()
{
    if (!inRange(getCounter(pflBufferSize), Config::I_LOWEST, Config::I_HIGHEST) ||
        !inRange(getCounter(pflFinetune), FinetuneLowest, FinetuneHighest))
    {
        fl_alert("The dialog cannot handle the value.");
        return;
    }
    if (pflAudioDevice->value() == 1 && !canLoadSDL())
        return;
    getDialogValue();
    dialogResult = 1;
    destroyConfigDialog();
}
} // namespace

void deleteConfigDialog()
{
    delete pflConfigWindow;
    pflConfigWindow = nullptr;
    pflAudioDevice = nullptr;
    pflBufferSize = nullptr;
    pflAudioOutMethod = nullptr;
    pflAsyncMode = nullptr;
    pflShowRealtimeConfigWindow = nullptr;
    pflWaitForXABufferIsFree = nullptr;
    pflCacheVagDecode = nullptr;
    pflFinetune = nullptr;
    pflRecOption = nullptr;
    pflReverbType = nullptr;
    pflUpdateBeforeRegisterAccess = nullptr;
    pflSPUIRQWaitCPUAction = nullptr;
    pflSPUIRQForceInterruptFlag7 = nullptr;
    pflOK = nullptr;
    pflCancel = nullptr;
    pflDefault = nullptr;
    deleteRecordDialog();
}

void lockDialogs()
{
    static std::once_flag setUp;
    std::call_once(setUp, [] {
        Fl::lock();
        Fl::unlock();
    });
    Fl::lock();
}

void wakeRealtimeConfigDialog()
{
    if (realtimeLoopRunning)
        Fl::awake();
}

void buildConfigDialog(Fl_Callback* callback)
{
    deleteConfigDialog();
    dialogResult = 2;

    pflConfigWindow = new Fl_Window(515, 235, "Configure Talvane SPU Plugin");
    pflConfigWindow->labelsize(12);
    pflConfigWindow->callback(callback);

    Fl_Group* audioDevice = makeFramedGroup(10, 18, 260, 42, "Audio device");
    pflAudioDevice = makeChoice(20, 31, 105, 20, nullptr, menu_pflAudioDevice, callback);
    pflBufferSize =
        makeCounter(195, 31, 65, 20, "Buffer size:", Config::I_LOWEST, Config::I_HIGHEST, callback);
    audioDevice->end();

    Fl_Group* audioOutMethod = makeFramedGroup(10, 79, 260, 41, "Audio out method");
    pflAudioOutMethod = makeChoice(20, 92, 90, 20, nullptr, menu_pflAudioOutMethod, callback);
    pflAsyncMode = makeChoice(191, 92, 70, 20, "Async mode:", menu_pflAsyncMode, callback);
    audioOutMethod->end();

    Fl_Group* misc = makeFramedGroup(280, 18, 225, 112, "Misc");
    pflShowRealtimeConfigWindow = makeCheckButton(289, 23, 190, 20, "Show realtime config window", callback);
    pflWaitForXABufferIsFree = makeCheckButton(289, 39, 190, 20, "Wait for XA buffer is free", callback);
    pflCacheVagDecode = makeCheckButton(289, 55, 190, 20, "Cache VAG decode", callback);
    pflFinetune =
        makeCounter(430, 75, 65, 20, "Fine tune [-360 - 360] : ", FinetuneLowest, FinetuneHighest, callback);
    pflRecOption = makeButton<Fl_Button>(290, 100, 69, 20, "Rec option", callback);
    pflReverbType = makeChoice(420, 100, 77, 20, "Reverb:", menu_pflReverbType, callback);
    misc->end();

    Fl_Group* gameFix = makeFramedGroup(10, 139, 495, 60, "Special game fix");
    Fl_Group* fixes = new Fl_Group(13, 139, 215, 60);
    pflUpdateBeforeRegisterAccess =
        makeCheckButton(18, 143, 210, 20, "Update before accessing register", callback);
    pflSPUIRQWaitCPUAction = makeCheckButton(18, 159, 210, 20, "SPU IRQ - Wait CPU action", callback);
    pflSPUIRQForceInterruptFlag7 =
        makeCheckButton(18, 175, 210, 20, "SPU IRQ - Force interruption flag7", callback);
    fixes->end();
    Fl_Group* hints = new Fl_Group(221, 139, 284, 60);
    makeHintBox(226, 143, 210, 20, "FF8, FF9 and some SQUARE games");
    makeHintBox(226, 159, 245, 20, "Valkyrie Profile, Star Ocean 2, Metal Gear Solid");
    makeHintBox(226, 175, 215, 20, "Valkyrie Profile, Tales of Destiny");
    hints->end();
    gameFix->end();

    pflOK = makeButton<Fl_Return_Button>(275, 207, 70, 20, "OK", callback);
    pflCancel = makeButton<Fl_Button>(355, 207, 70, 20, "Cancel", callback);
    pflDefault = makeButton<Fl_Button>(435, 207, 70, 20, "Default", callback);

    pflConfigWindow->end();
    pflConfigWindow->set_modal();

    menu_pflAudioDevice[1].activate();
    menu_pflAudioDevice[3].activate();
}

int makeConfigDialog(Fl_Callback* callback, RealtimeSetUp setUpRealtime)
{
    buildConfigDialog(callback);
    const bool realtime = setUpRealtime != nullptr;
    if (realtime)
    {
        realtimeLoopRunning = true;
        if (!setUpRealtime())
        {
            realtimeLoopRunning = false;
            deleteConfigDialog();
            return dialogResult;
        }
    }
    else
        setDialogValue();

    pflConfigWindow->show();
    // The real-time window is closed from the host's thread by a request that
    // wakes this loop (FLTK wants its windows handled on one thread).
    while (Fl::first_window() != nullptr)
    {
        if (realtime && Config::thisConfig->bRealtimeDialogClose)
            destroyConfigDialog();
        else
            Fl::wait();
    }
    realtimeLoopRunning = false;
    deleteConfigDialog();
    return dialogResult;
}

void ConfigDialogProc(Fl_Widget* widget, void*)
{
    if (widget == pflRecOption)
        makeRecordDialog(Config::thisConfig->RecOpt);
    else if (widget == pflDefault)
    {
        Config::thisConfig->setDefaultValue();
        setDialogValue();
    }
    else if (widget == pflCancel || widget == pflConfigWindow)
    {
        dialogResult = 2;
        destroyConfigDialog();
    }
    else if (widget == pflOK)
        acceptDialog();
    else if (widget == pflAudioOutMethod)
        activateForAudioOutMethod(pflAudioOutMethod->value());
}

void activateForAudioOutMethod(int method)
{
    if (method == 2)
    {
        pflAsyncMode->activate();
        pflWaitForXABufferIsFree->deactivate();
    }
    else
    {
        pflAsyncMode->deactivate();
        pflWaitForXABufferIsFree->activate();
    }
}

void setDialogValue()
{
    const Config* config = Config::thisConfig;
    setChoice(pflAudioDevice, config->AudioDevice);
    // The bounds come after the value on purpose: the counter does not clamp, so a
    // hand-edited value outside them stays visible and OK refuses it.
    pflBufferSize->value(config->SoundBufferSize);
    pflBufferSize->bounds(Config::I_LOWEST, Config::I_HIGHEST);
    setChoice(pflAudioOutMethod, config->AudioOutMethod);
    activateForAudioOutMethod(config->AudioOutMethod);
    setChoice(pflAsyncMode, config->AsyncMode);
    pflShowRealtimeConfigWindow->value(config->ShowRealtimeConfigWindow != 0);
    pflWaitForXABufferIsFree->value(config->WaitForXABufferIsFree != 0);
    pflCacheVagDecode->value(config->CacheVagDecode != 0);
    pflFinetune->value(config->Finetune);
    pflFinetune->bounds(FinetuneLowest, FinetuneHighest);
    setChoice(pflReverbType, config->ReverbType);
    pflUpdateBeforeRegisterAccess->value(config->UpdateBeforeRegisterAccess != 0);
    pflSPUIRQWaitCPUAction->value(config->SPUIRQWaitCPUAction != 0);
    pflSPUIRQForceInterruptFlag7->value(config->SPUIRQForceInterruptFlag7 != 0);
}

void getDialogValue()
{
    Config* config = Config::thisConfig;
    config->AudioDevice = getChoice(pflAudioDevice, config->AudioDevice);
    config->SoundBufferSize = getCounter(pflBufferSize);
    config->AudioOutMethod = getChoice(pflAudioOutMethod, config->AudioOutMethod);
    config->AsyncMode = getChoice(pflAsyncMode, config->AsyncMode);
    config->ShowRealtimeConfigWindow = pflShowRealtimeConfigWindow->value();
    config->WaitForXABufferIsFree = pflWaitForXABufferIsFree->value();
    config->CacheVagDecode = pflCacheVagDecode->value();
    config->Finetune = getCounter(pflFinetune);
    config->ReverbType = getChoice(pflReverbType, config->ReverbType);
    config->UpdateBeforeRegisterAccess = pflUpdateBeforeRegisterAccess->value();
    config->SPUIRQWaitCPUAction = pflSPUIRQWaitCPUAction->value();
    config->SPUIRQForceInterruptFlag7 = pflSPUIRQForceInterruptFlag7->value();
}

void destroyConfigDialog()
{
    if (pflRecordWindow != nullptr)
        pflRecordWindow->hide();
    if (pflConfigWindow != nullptr)
        pflConfigWindow->hide();
    Fl::flush();
}
