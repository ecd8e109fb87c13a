// Drives the real main window under Qt's offscreen platform, with the
// open-file dialog answered from a script and message boxes captured.
#pragma once

#include <deque>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "ClipMaker.h"
#include "TestUtil.h"
#include "window/frmMain.h"

namespace fwtest {

// A generated clip of `frames` frames at 25 frames per second.
ClipSpec Spec(int frames, int width = 64, int height = 48);

// The one application object of the test program, on the offscreen platform.
void EnsureApplication();

class WindowTest : public ::testing::Test {
protected:
    void SetUp() override;

    // Writes a generated clip into the test's folder and returns its path.
    std::string Clip(const std::string& name, const ClipSpec& spec = {});
    // Answers the next dialog with `path` ("" cancels) and clicks "Load Video".
    void LoadThroughDialog(const std::string& path);
    // Chooses entry `index` of Combo1 with the keyboard, as a user would.
    void ChooseEntry(int index);
    // The number the picture box's image shows.
    int ShownFrame() const;

    struct DialogCall {
        QString fileName, filter, title;
    };
    std::vector<DialogCall> dialogCalls;
    std::deque<QString> answers;
    CaptureMessages messages;
    std::string dir;
    std::unique_ptr<frmMain> window;
};

}  // namespace fwtest
