// The configuration dialog's transfer between widgets and values and its callback,
// on a window that is built but not shown (no display needed).

#include "config/ConfigDialog.h"
#include "config/ConfigLinux.h"
#include "plugin/Globals.h"

#include <FL/Fl_Button.H>
#include <FL/Fl_Check_Button.H>
#include <FL/Fl_Choice.H>
#include <FL/Fl_Counter.H>
#include <FL/Fl_Return_Button.H>
#include <FL/Fl_Window.H>

#include <gtest/gtest.h>

namespace
{
class ConfigDialogTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ConfigLinux::thisConfig = &theConfig;
        theConfig.setDefaultValue();
        buildConfigDialog(ConfigDialogProc);
    }

    void TearDown() override
    {
        deleteConfigDialog();
        theConfig.setDefaultValue();
    }

    // Every field different from its default and from the others where possible.
    static void setUnusualValues(Config& config)
    {
        config.AudioDevice = 2;
        config.SoundBufferSize = 777;
        config.AudioOutMethod = 2;
        config.AsyncMode = 1;
        config.ShowRealtimeConfigWindow = 1;
        config.WaitForXABufferIsFree = 0;
        config.CacheVagDecode = 1;
        config.Finetune = -250;
        config.ReverbType = 3;
        config.RecOpt = 0x2A;
        config.UpdateBeforeRegisterAccess = 1;
        config.SPUIRQWaitCPUAction = 1;
        config.SPUIRQForceInterruptFlag7 = 1;
    }
};
} // namespace

TEST_F(ConfigDialogTest, SetDialogValueShowsEveryValue)
{
    setUnusualValues(theConfig);
    setDialogValue();
    EXPECT_EQ(pflAudioDevice->value(), 2);
    EXPECT_EQ(pflBufferSize->value(), 777);
    EXPECT_EQ(pflAudioOutMethod->value(), 2);
    EXPECT_EQ(pflAsyncMode->value(), 1);
    EXPECT_EQ(pflShowRealtimeConfigWindow->value(), 1);
    EXPECT_EQ(pflWaitForXABufferIsFree->value(), 0);
    EXPECT_EQ(pflCacheVagDecode->value(), 1);
    EXPECT_EQ(pflFinetune->value(), -250);
    EXPECT_EQ(pflReverbType->value(), 3);
    EXPECT_EQ(pflUpdateBeforeRegisterAccess->value(), 1);
    EXPECT_EQ(pflSPUIRQWaitCPUAction->value(), 1);
    EXPECT_EQ(pflSPUIRQForceInterruptFlag7->value(), 1);
}

TEST_F(ConfigDialogTest, GetDialogValueCopiesEveryWidgetButNotRecOpt)
{
    Config& config = theConfig;
    setUnusualValues(config);
    setDialogValue();
    config.setDefaultValue();
    config.RecOpt = 0x11;
    getDialogValue();
    EXPECT_EQ(config.AudioDevice, 2);
    EXPECT_EQ(config.SoundBufferSize, 777);
    EXPECT_EQ(config.AudioOutMethod, 2);
    EXPECT_EQ(config.AsyncMode, 1);
    EXPECT_EQ(config.ShowRealtimeConfigWindow, 1);
    EXPECT_EQ(config.WaitForXABufferIsFree, 0);
    EXPECT_EQ(config.CacheVagDecode, 1);
    EXPECT_EQ(config.Finetune, -250);
    EXPECT_EQ(config.ReverbType, 3);
    EXPECT_EQ(config.RecOpt, 0x11);
    EXPECT_EQ(config.UpdateBeforeRegisterAccess, 1);
    EXPECT_EQ(config.SPUIRQWaitCPUAction, 1);
    EXPECT_EQ(config.SPUIRQForceInterruptFlag7, 1);
}

TEST_F(ConfigDialogTest, OnlySDLAndOSSCanBePicked)
{
    const Fl_Menu_Item* items = pflAudioDevice->menu();
    EXPECT_FALSE(items[0].active());
    EXPECT_TRUE(items[1].active());
    EXPECT_FALSE(items[2].active());
    EXPECT_TRUE(items[3].active());
    EXPECT_STREQ(items[2].label(), "WaveMapper");
}

// ReverbType 99 is honoured by the reverb; the dialog must not turn it into "Off".
TEST_F(ConfigDialogTest, ChoiceValueOutsideTheMenuIsKept)
{
    theConfig.ReverbType = 99;
    setDialogValue();
    EXPECT_EQ(pflReverbType->value(), -1);
    getDialogValue();
    EXPECT_EQ(theConfig.ReverbType, 99);
}

TEST_F(ConfigDialogTest, OKWithValidValuesAcceptsAndCopies)
{
    setDialogValue();
    pflBufferSize->value(999);
    pflFinetune->value(-360);
    ConfigDialogProc(pflOK, nullptr);
    EXPECT_EQ(dialogResult, 1);
    EXPECT_EQ(theConfig.SoundBufferSize, 999);
    EXPECT_EQ(theConfig.Finetune, -360);
    EXPECT_FALSE(pflConfigWindow->shown());
}

TEST_F(ConfigDialogTest, OKAcceptsTheLowestBufferSize)
{
    setDialogValue();
    pflBufferSize->value(1);
    ConfigDialogProc(pflOK, nullptr);
    EXPECT_EQ(dialogResult, 1);
    EXPECT_EQ(theConfig.SoundBufferSize, 1);
}

TEST_F(ConfigDialogTest, CancelCopiesNothing)
{
    setDialogValue();
    pflBufferSize->value(500);
    ConfigDialogProc(pflCancel, nullptr);
    EXPECT_EQ(dialogResult, 2);
    EXPECT_EQ(theConfig.SoundBufferSize, 64);
}

// The window manager's close button fires the window's own callback.
TEST_F(ConfigDialogTest, CloseButtonCountsAsCancel)
{
    setDialogValue();
    pflFinetune->value(100);
    dialogResult = 1;
    ConfigDialogProc(pflConfigWindow, nullptr);
    EXPECT_EQ(dialogResult, 2);
    EXPECT_EQ(theConfig.Finetune, 0);
}

TEST_F(ConfigDialogTest, DefaultThenCancelKeepsTheDefaultsInMemory)
{
    setUnusualValues(theConfig);
    setDialogValue();
    ConfigDialogProc(pflDefault, nullptr);
    EXPECT_EQ(pflBufferSize->value(), 64);
    EXPECT_EQ(pflReverbType->value(), 4);
    ConfigDialogProc(pflCancel, nullptr);
    EXPECT_EQ(dialogResult, 2);
    EXPECT_EQ(theConfig.SoundBufferSize, 64);
    EXPECT_EQ(theConfig.Finetune, 0);
    EXPECT_EQ(theConfig.RecOpt, 5);
}

TEST_F(ConfigDialogTest, AsyncModeIsActiveOnlyWithSPUasync)
{
    theConfig.AudioOutMethod = 0;
    setDialogValue();
    EXPECT_FALSE(pflAsyncMode->active());
    EXPECT_TRUE(pflWaitForXABufferIsFree->active());

    pflAudioOutMethod->value(2);
    ConfigDialogProc(pflAudioOutMethod, nullptr);
    EXPECT_TRUE(pflAsyncMode->active());
    EXPECT_FALSE(pflWaitForXABufferIsFree->active());

    pflAudioOutMethod->value(1);
    ConfigDialogProc(pflAudioOutMethod, nullptr);
    EXPECT_FALSE(pflAsyncMode->active());
    EXPECT_TRUE(pflWaitForXABufferIsFree->active());
}

TEST_F(ConfigDialogTest, GreyedWidgetIsStillSaved)
{
    theConfig.AudioOutMethod = 2;
    theConfig.WaitForXABufferIsFree = 1;
    setDialogValue();
    ASSERT_FALSE(pflWaitForXABufferIsFree->active());
    pflWaitForXABufferIsFree->value(0);
    ConfigDialogProc(pflOK, nullptr);
    EXPECT_EQ(dialogResult, 1);
    EXPECT_EQ(theConfig.WaitForXABufferIsFree, 0);
}

TEST_F(ConfigDialogTest, WidgetsHaveTheirGeometryAndLabels)
{
    EXPECT_EQ(pflConfigWindow->w(), 515);
    EXPECT_EQ(pflConfigWindow->h(), 235);
    EXPECT_STREQ(pflConfigWindow->label(), "Configure Talvane SPU Plugin");
    EXPECT_EQ(pflBufferSize->x(), 195);
    EXPECT_EQ(pflBufferSize->y(), 31);
    EXPECT_EQ(pflBufferSize->type(), FL_SIMPLE_COUNTER);
    EXPECT_STREQ(pflFinetune->label(), "Fine tune [-360 - 360] : ");
    EXPECT_EQ(pflFinetune->minimum(), -360);
    EXPECT_EQ(pflFinetune->maximum(), 360);
    EXPECT_EQ(pflDefault->x(), 435);
    EXPECT_EQ(pflDefault->y(), 207);
    EXPECT_STREQ(pflSPUIRQForceInterruptFlag7->label(), "SPU IRQ - Force interruption flag7");
    EXPECT_EQ(pflSPUIRQForceInterruptFlag7->y(), 175);
}
