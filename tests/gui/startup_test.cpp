// Start-up: the windows exist and the frame shows its caption.
#include "app/forms.h"
#include "app/mainwindow.h"
#include "gui/guitest.h"

namespace {
using guitest::ProgramTest;

TEST_F(ProgramTest, MainWindowCaptionHasLeadingBlank) {
    EXPECT_EQ(" Tessera_V2", form->windowTitle().toStdString());
    EXPECT_EQ(form, MainForm);
}
}  // namespace
