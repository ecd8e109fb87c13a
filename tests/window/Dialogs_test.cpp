#include <QFileDialog>
#include <QMessageBox>
#include <QPushButton>
#include <QRegularExpression>

#include "WindowTestUtil.h"
#include "window/CommonDialog.h"
#include "window/MessageBoxes.h"

namespace fwtest {
namespace {

struct IconCase {
    int icon;
    QMessageBox::Icon shown;
};

class MessageBoxIcon : public ::testing::TestWithParam<IconCase> {};

TEST_P(MessageBoxIcon, IsModalWithOneOkButtonAndTheCaption) {
    EnsureApplication();
    const auto box = MakeMessageBox("There was an error working with the file:\r\n/tmp/x.avi", "Framewise",
                                    GetParam().icon, nullptr);
    EXPECT_EQ(box->icon(), GetParam().shown);
    EXPECT_EQ(box->windowTitle(), "Framewise");
    EXPECT_EQ(box->text(), "There was an error working with the file:\n/tmp/x.avi");
    EXPECT_EQ(box->standardButtons(), QMessageBox::Ok);
    EXPECT_EQ(box->buttons().size(), 1);
    EXPECT_NE(box->windowModality(), Qt::NonModal);
}

INSTANTIATE_TEST_SUITE_P(Window, MessageBoxIcon,
                         ::testing::Values(IconCase{16, QMessageBox::Critical},
                                           IconCase{64, QMessageBox::Information}),
                         [](const auto& info) { return "Icon" + std::to_string(info.param.icon); });

TEST(LoadDialog, ShowsOneAviFilterThatMatchesAnyCase) {
    EnsureApplication();
    CommonDialog settings;
    settings.Filter = "Avi|*.avi";
    settings.DialogTitle = "Load AVI File";
    QFileDialog dialog;
    settings.Configure(dialog);
    EXPECT_EQ(dialog.windowTitle(), "Load AVI File");
    EXPECT_TRUE(dialog.testOption(QFileDialog::HideNameFilterDetails));
    EXPECT_EQ(dialog.acceptMode(), QFileDialog::AcceptOpen);
    ASSERT_EQ(dialog.nameFilters().size(), 1);
    const QString filter = dialog.nameFilters()[0];
    EXPECT_TRUE(filter.startsWith("Avi ("));
    const QString pattern = filter.section('(', 1).chopped(1);
    const auto matcher = QRegularExpression::fromWildcard(pattern, Qt::CaseSensitive);
    for (const char* name : {"a.avi", "B.AVI", "c.Avi"}) EXPECT_TRUE(matcher.match(name).hasMatch()) << name;
    for (const char* name : {"d.mp4", "avi", "e.avi.txt"}) EXPECT_FALSE(matcher.match(name).hasMatch()) << name;
}

TEST(LoadDialog, FileTitleIsTheNameWithoutFolder) {
    CommonDialog dialog;
    dialog.SetPresenter([](const CommonDialog&, QWidget*) { return QString("/some/where/My Clip.AVI"); });
    dialog.ShowOpen(nullptr);
    EXPECT_EQ(dialog.FileName, "/some/where/My Clip.AVI");
    EXPECT_EQ(dialog.FileTitle(), "My Clip.AVI");
}

}  // namespace
}  // namespace fwtest
