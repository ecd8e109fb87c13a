// The default message box, as the command-line program shows it.
#include <gtest/gtest.h>

#include "platform/MsgBox.h"

namespace {

TEST(DefaultMessageBox, PrintsTitleAndTextWithPlainLineBreaks) {
    testing::internal::CaptureStderr();
    MsgBox("File does not exist:\r\n/tmp/a.bmp", MB_ICONERROR);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "Framewise: File does not exist:\n/tmp/a.bmp\n");
}

}  // namespace
