// The dialog on Qt's offscreen platform.
#include "app/mainform.h"

#include "base/warning.h"
#include "importtestsupport.h"

#include <QApplication>
#include <QCheckBox>
#include <QDialog>
#include <QFileDialog>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>
#include <QStyle>
#include <QTest>
#include <QTimer>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <set>
#include <tuple>

using namespace importtest;

namespace {

class TQtEnvironment : public testing::Environment {
public:
    void SetUp() override
    {
        static int argc = 1;
        static char name[] = "mainform_test";
        static char* argv[] = { name, nullptr };
        // No display needed: the offscreen platform unless the caller chose one.
        if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
            qputenv("QT_QPA_PLATFORM", "offscreen");
        FApplication = std::make_unique<QApplication>(argc, argv);
    }
    void TearDown() override { FApplication.reset(); }

private:
    std::unique_ptr<QApplication> FApplication;
};
const auto* const QtEnvironment = testing::AddGlobalTestEnvironment(new TQtEnvironment);

struct TShownBox {
    QString Title, Text;
    QMessageBox::Icon Icon;
    QMessageBox::StandardButtons Buttons;
    bool OwnedByForm;
};

// Answers every modal window that opens while it lives: records and accepts message
// boxes, hands file dialogs to a handler.
class TModalAnswerer {
public:
    explicit TModalAnswerer(QWidget* form, std::function<void(QFileDialog&)> fileDialog = {})
        : FForm(form), FFileDialog(std::move(fileDialog))
    {
        QObject::connect(&FTimer, &QTimer::timeout, [this] { Answer(); });
        FTimer.start(5);
    }
    std::vector<TShownBox> Boxes;

private:
    void Answer()
    {
        QWidget* modal = QApplication::activeModalWidget();
        if (auto* box = qobject_cast<QMessageBox*>(modal)) {
            Boxes.push_back({ box->windowTitle(), box->text(), box->icon(), box->standardButtons(),
                box->parentWidget() == FForm });
            box->accept();
        } else if (auto* dialog = qobject_cast<QFileDialog*>(modal)) {
            if (FFileDialog)
                FFileDialog(*dialog);
            else
                dialog->reject();
        }
    }
    QWidget* FForm;
    std::function<void(QFileDialog&)> FFileDialog;
    QTimer FTimer;
};

struct TControlCase {
    const char* Name;
    const char* Text;
};

TEST(TForm1, StartsWithEveryControlInItsInitialState)
{
    TForm1 form;
    form.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&form));
    EXPECT_EQ(form.objectName(), "Form1");
    EXPECT_EQ(form.windowTitle(), "Images by id");
    EXPECT_EQ(form.minimumSize(), form.maximumSize()) << "fixed size";
    EXPECT_EQ(form.size(), form.minimumSize());
    EXPECT_FALSE(form.windowFlags() & Qt::WindowMinimizeButtonHint);
    EXPECT_FALSE(form.windowFlags() & Qt::WindowMaximizeButtonHint);
    EXPECT_TRUE(form.windowFlags() & Qt::WindowCloseButtonHint);

    const TControlCase controls[] = { { "Label4", "DB:" }, { "DBEdit", "" }, { "DBBrowseBtn", "Browse" },
        { "Label3", "Image folder:" }, { "ImgEdit", "" }, { "ImgBrowseBtn", "Browse" },
        { "Label1", "Thumbnails folder:" }, { "ThumbsEdit", "" }, { "ThumbsBrowseBtn", "Browse" },
        { "TypeGroup", "Image type:" }, { "RemCheck", "Remove existing images" }, { "SetCheck", "Set folder" },
        { "SkipCheck", "Skip pictures already imported" }, { "SmoothCheck", "Smooth thumbnails" },
        { "GoBtn", "Process images" }, { "StatusLabel", "" } };
    for (const TControlCase& control : controls) {
        auto* widget = form.findChild<QWidget*>(control.Name);
        ASSERT_NE(widget, nullptr) << control.Name;
        EXPECT_EQ(widget->parentWidget(), &form) << control.Name;
        QString text;
        if (auto* edit = qobject_cast<QLineEdit*>(widget))
            text = edit->text();
        else if (auto* button = qobject_cast<QAbstractButton*>(widget))
            text = button->text();
        else if (auto* group = qobject_cast<QGroupBox*>(widget))
            text = group->title();
        else if (auto* label = qobject_cast<QLabel*>(widget))
            text = label->text();
        EXPECT_EQ(text, control.Text) << control.Name;
        EXPECT_TRUE(widget->isEnabled()) << control.Name;
    }

    const char* items[] = { "Poster", "Screenshot", "Front Cover", "CD Cover", "Both Covers (_1 = Front, _2 = CD)" };
    for (int index = 0; index < KindCount; ++index) {
        EXPECT_EQ(form.TypeItems[index]->text(), items[index]);
        EXPECT_EQ(form.TypeItems[index]->parentWidget(), form.TypeGroup);
        EXPECT_EQ(form.TypeItems[index]->isChecked(), index == 0);
    }
    EXPECT_FALSE(form.RemCheck->isChecked());
    EXPECT_FALSE(form.SetCheck->isChecked());
    EXPECT_FALSE(form.SkipCheck->isChecked());
    EXPECT_FALSE(form.SmoothCheck->isChecked());
    EXPECT_EQ(form.KindIndex(), 0);
    form.TypeItems[3]->setChecked(true);
    EXPECT_EQ(form.KindIndex(), 3);
    EXPECT_FALSE(form.TypeItems[0]->isChecked()) << "one choice at a time";
}

std::string NameOf(const QWidget* widget) { return widget->objectName().toStdString(); }

// A control at least as large as it asks to be, with its whole text inside: the text's width
// plus what the style puts beside it (indicator, margins, frame).
void ExpectRoomForText(const QWidget* widget)
{
    EXPECT_GE(widget->width(), widget->sizeHint().width()) << NameOf(widget);
    EXPECT_GE(widget->height(), widget->sizeHint().height()) << NameOf(widget);
    const QFontMetrics metrics(widget->font());
    const QStyle* style = widget->style();
    const auto metric = [&](QStyle::PixelMetric which) { return style->pixelMetric(which, nullptr, widget); };
    QString text;
    int beside = 0;
    if (auto* label = qobject_cast<const QLabel*>(widget)) {
        text = label->text();
        beside = widget->width() - label->contentsRect().width();
    } else if (auto* group = qobject_cast<const QGroupBox*>(widget)) {
        text = group->title();
    } else if (qobject_cast<const QRadioButton*>(widget)) {
        text = static_cast<const QAbstractButton*>(widget)->text();
        beside = metric(QStyle::PM_ExclusiveIndicatorWidth) + metric(QStyle::PM_RadioButtonLabelSpacing);
    } else if (qobject_cast<const QCheckBox*>(widget)) {
        text = static_cast<const QAbstractButton*>(widget)->text();
        beside = metric(QStyle::PM_IndicatorWidth) + metric(QStyle::PM_CheckBoxLabelSpacing);
    } else if (auto* button = qobject_cast<const QPushButton*>(widget)) {
        text = button->text();
        beside = metric(QStyle::PM_ButtonMargin) + 2 * metric(QStyle::PM_DefaultFrameWidth); // margin split in two
    } else {
        return;
    }
    EXPECT_LE(metrics.horizontalAdvance(text) + beside, widget->width()) << NameOf(widget);
    EXPECT_LE(metrics.height(), widget->height()) << NameOf(widget);
}

// No two of the widgets share a pixel, and each lies inside the area.
void ExpectApartInside(const std::vector<QWidget*>& widgets, const QRect& area)
{
    for (std::size_t i = 0; i < widgets.size(); ++i) {
        EXPECT_TRUE(area.contains(widgets[i]->geometry())) << NameOf(widgets[i]) << " is cut off";
        for (std::size_t j = i + 1; j < widgets.size(); ++j)
            EXPECT_FALSE(widgets[i]->geometry().intersects(widgets[j]->geometry()))
                << NameOf(widgets[i]) << " overlaps " << NameOf(widgets[j]);
    }
}

// Three label-over-edit rows with their browse buttons at the right, the type group below them,
// then the check boxes; "Process images" at the bottom right.
void ExpectDesignedArrangement(const TForm1& form)
{
    const std::tuple<QLabel*, QLineEdit*, QPushButton*> rows[] = { { form.Label4, form.DBEdit, form.DBBrowseBtn },
        { form.Label3, form.ImgEdit, form.ImgBrowseBtn }, { form.Label1, form.ThumbsEdit, form.ThumbsBrowseBtn } };
    int above = 0; // the lowest pixel of the row above
    for (const auto& [label, edit, button] : rows) {
        SCOPED_TRACE(NameOf(edit));
        EXPECT_GT(label->y(), above);
        EXPECT_EQ(label->x(), edit->x()) << "the label stands above its edit";
        EXPECT_LT(label->geometry().bottom(), std::min(edit->y(), button->y()));
        EXPECT_EQ(edit->x(), form.DBEdit->x());
        EXPECT_EQ(button->x(), form.DBBrowseBtn->x());
        EXPECT_GT(button->x(), edit->geometry().right());
        EXPECT_NEAR(button->geometry().center().y(), edit->geometry().center().y(), 1) << "one row";
        above = std::max(edit->geometry().bottom(), button->geometry().bottom());
    }
    const int left = form.DBEdit->x();
    EXPECT_GT(form.TypeGroup->y(), above);
    EXPECT_GT(form.RemCheck->y(), form.TypeGroup->geometry().bottom());
    EXPECT_GT(form.SetCheck->y(), form.RemCheck->geometry().bottom());
    EXPECT_GT(form.SkipCheck->y(), form.SetCheck->geometry().bottom());
    EXPECT_GT(form.SmoothCheck->y(), form.SkipCheck->geometry().bottom());
    for (const QWidget* widget : std::initializer_list<const QWidget*> {
             form.TypeGroup, form.RemCheck, form.SetCheck, form.SkipCheck, form.SmoothCheck })
        EXPECT_EQ(widget->x(), left) << NameOf(widget);
    EXPECT_EQ(form.GoBtn->x(), form.DBBrowseBtn->x());
    EXPECT_GT(form.GoBtn->y(), form.TypeGroup->y());
    // The status line runs under everything, across the dialog.
    EXPECT_GT(form.StatusLabel->y(), form.GoBtn->geometry().bottom());
    EXPECT_GT(form.StatusLabel->y(), form.SmoothCheck->geometry().bottom());
    EXPECT_EQ(form.StatusLabel->x(), left);
    EXPECT_GE(form.StatusLabel->geometry().right(), form.GoBtn->geometry().right());
    for (const QWidget* widget : form.findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
        if (widget == form.StatusLabel)
            continue;
        EXPECT_GE(form.GoBtn->geometry().bottom(), widget->geometry().bottom()) << NameOf(widget);
        EXPECT_GE(form.GoBtn->geometry().right(), widget->geometry().right()) << NameOf(widget);
    }
}

TEST(TForm1, ArrangesItsControlsWithoutClippingAtAnyFontSize)
{
    QSize smaller;
    for (const int points : { 0, 20 }) { // 0: the dialog's own font
        SCOPED_TRACE(points);
        TForm1 form;
        if (points != 0)
            form.setFont(QFont(form.font().family(), points));
        form.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&form));
        EXPECT_EQ(form.minimumSize(), form.maximumSize()) << "fixed size";
        EXPECT_EQ(form.size(), form.minimumSize()) << "sized by its layout";
        EXPECT_TRUE(form.width() > smaller.width() && form.height() > smaller.height()) << "grows with its font";
        smaller = form.size();

        ExpectDesignedArrangement(form);
        const QList<QWidget*> children = form.findChildren<QWidget*>(Qt::FindDirectChildrenOnly);
        const std::vector<QWidget*> controls(children.begin(), children.end());
        EXPECT_EQ(controls.size(), 16u);
        ExpectApartInside(controls, form.rect());
        ExpectApartInside({ form.TypeItems.begin(), form.TypeItems.end() }, form.TypeGroup->contentsRect());
        for (const QWidget* widget : controls)
            ExpectRoomForText(widget);
        for (const QWidget* item : form.TypeItems)
            ExpectRoomForText(item);
    }
}

TEST(TForm1, UsesAnEightPointDialogFont)
{
    TForm1 form;
    EXPECT_EQ(form.font().pixelSize(), 11);
    EXPECT_EQ(form.GoBtn->font().pixelSize(), 11);
    // Every button caption fits its button.
    for (QPushButton* button : { form.GoBtn, form.DBBrowseBtn, form.ImgBrowseBtn, form.ThumbsBrowseBtn })
        EXPECT_LE(button->fontMetrics().horizontalAdvance(button->text()), button->width() - 12)
            << button->objectName().toStdString();
}

TEST(TForm1, TabsInItsOwnOrderStartingAtTheImageFolder)
{
    TForm1 form;
    form.show();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&form));
    EXPECT_EQ(QApplication::focusWidget(), form.ImgEdit);
    const std::vector<QWidget*> expected { form.ImgBrowseBtn, form.TypeItems[0], form.GoBtn, form.DBEdit,
        form.DBBrowseBtn, form.RemCheck, form.SetCheck, form.SkipCheck, form.SmoothCheck, form.ThumbsEdit,
        form.ThumbsBrowseBtn, form.ImgEdit };
    std::vector<QWidget*> visited;
    for (std::size_t i = 0; i < expected.size(); ++i) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        visited.push_back(QApplication::focusWidget());
    }
    EXPECT_EQ(visited, expected);
    // The radio group is one stop: its checked item.
    form.TypeItems[2]->setChecked(true);
    form.ImgBrowseBtn->setFocus();
    QTest::keyClick(form.ImgBrowseBtn, Qt::Key_Tab);
    EXPECT_EQ(QApplication::focusWidget(), form.TypeItems[2]);
    QTest::keyClick(form.TypeItems[2], Qt::Key_Tab);
    EXPECT_EQ(QApplication::focusWidget(), form.GoBtn);
    QTest::keyClick(form.GoBtn, Qt::Key_Backtab);
    EXPECT_EQ(QApplication::focusWidget(), form.TypeItems[2]);
}

TEST(TForm1, CancelledBrowsersLeaveTheTextsAlone)
{
    TForm1 form;
    form.show();
    const std::pair<QPushButton*, QLineEdit*> browsers[] = { { form.DBBrowseBtn, form.DBEdit },
        { form.ImgBrowseBtn, form.ImgEdit }, { form.ThumbsBrowseBtn, form.ThumbsEdit } };
    for (const auto& [button, edit] : browsers) {
        edit->setText("typed by hand");
        int dialogs = 0;
        TModalAnswerer answerer(&form, [&](QFileDialog& dialog) {
            ++dialogs;
            dialog.reject();
        });
        button->click();
        EXPECT_EQ(dialogs, 1);
        EXPECT_EQ(edit->text(), "typed by hand");
    }
}

TEST(TForm1, LogInBoxGivesWhatWasTypedOrNothingWhenCancelled)
{
    TForm1 form;
    form.show();
    for (const bool accepted : { true, false }) {
        bool hidden = false;
        QTimer typist;
        QObject::connect(&typist, &QTimer::timeout, [&] {
            auto* box = qobject_cast<QDialog*>(QApplication::activeModalWidget());
            if (!box || box->objectName() != "LogInBox")
                return;
            auto* password = box->findChild<QLineEdit*>("PasswordEdit");
            hidden = password->echoMode() == QLineEdit::Password;
            box->findChild<QLineEdit*>("UserEdit")->setText("ann");
            password->setText("s\xC3\xA9same");
            accepted ? box->accept() : box->reject();
        });
        typist.start(5);
        std::string user = "IBITEST", password;
        EXPECT_EQ(form.AskLogIn(user, password), accepted);
        EXPECT_TRUE(hidden);
        EXPECT_EQ(user, accepted ? "ann" : "IBITEST");
        EXPECT_EQ(password, accepted ? "s\xC3\xA9same" : "");
    }
}

TEST(TForm1, BrowsersPutTheFullPathIntoTheEdit)
{
    TTempFolder folder;
    WriteBytes(folder / "cat.fdb", "x");
    MakeFolder(folder / "covers");
    TForm1 form;
    form.show();
    {
        TModalAnswerer answerer(&form, [&](QFileDialog& dialog) {
            dialog.setDirectory(QString::fromStdString(folder.Path()));
            dialog.selectFile("covers");
            static_cast<QDialog&>(dialog).accept(); // public in QDialog
        });
        form.ImgBrowseBtn->click();
    }
    EXPECT_EQ(form.ImgEdit->text().toStdString(), folder / "covers") << "no final slash";
    {
        TModalAnswerer answerer(&form, [&](QFileDialog& dialog) {
            dialog.setDirectory(QString::fromStdString(folder.Path()));
            dialog.selectFile("cat.fdb");
            static_cast<QDialog&>(dialog).accept(); // public in QDialog
        });
        form.DBBrowseBtn->click();
    }
    EXPECT_EQ(form.DBEdit->text().toStdString(), folder / "cat.fdb");
}

class TForm1Pass : public testing::Test {
protected:
    void SetUp() override
    {
        std::string reason;
        if (!CreateCatalogue(Folder / "cat.fdb", { { 1, 1 }, { 2, 2 } }, reason))
            GTEST_SKIP() << "no embedded Firebird: " << reason;
        MakeFolder(Folder / "images");
        Form.DBEdit->setText(QString::fromStdString(Folder / "cat.fdb"));
        Form.ImgEdit->setText(QString::fromStdString(Folder / "images"));
        Form.show();
    }

    TTempFolder Folder;
    TForm1 Form;
};

TEST_F(TForm1Pass, ButtonIsBusyWithDotsDuringThePass)
{
    for (int i = 0; i < 300; ++i)
        WriteBytes(Folder / ("images/note" + std::to_string(i) + ".txt"), "x");
    std::set<QString> captions;
    std::set<bool> enabled;
    std::set<bool> otherControls;
    std::set<QString> statusLines;
    QTimer watcher;
    QObject::connect(&watcher, &QTimer::timeout, [&] {
        captions.insert(Form.GoBtn->text());
        statusLines.insert(Form.StatusLabel->text());
        enabled.insert(Form.GoBtn->isEnabled());
        otherControls.insert(Form.ImgEdit->isEnabled() && Form.TypeGroup->isEnabled() && Form.DBBrowseBtn->isEnabled());
    });
    watcher.start(0);
    Form.GoBtn->click();
    watcher.stop();
    EXPECT_EQ(Form.LastResult().Outcome, TImportOutcome::ioCompleted);
    EXPECT_EQ(enabled, std::set<bool> { false });
    EXPECT_EQ(otherControls, std::set<bool> { true });
    EXPECT_TRUE(captions.contains("Working"));
    EXPECT_TRUE(captions.contains("Working."));
    EXPECT_TRUE(captions.contains("Working....."));
    EXPECT_FALSE(captions.contains("Process images"));
    EXPECT_EQ(Form.GoBtn->text(), "Process images");
    EXPECT_TRUE(Form.GoBtn->isEnabled());
    // The status line counts during the pass and shows the summary after it.
    EXPECT_TRUE(std::any_of(statusLines.begin(), statusLines.end(),
        [](const QString& line) { return line.contains(" of 302 entries, 0 pictures imported"); }));
    EXPECT_EQ(Form.StatusLabel->text().toStdString(), SummaryLine(Form.LastResult().Stats));
    EXPECT_THAT(Form.StatusLabel->text().toStdString(), testing::StartsWith("302 entries seen, 0 pictures imported"));
}

TEST_F(TForm1Pass, SkipCheckPassesOverWhatIsAlreadyImported)
{
    WriteJpeg(Folder / "images/1.jpg", 40, 30);
    Form.GoBtn->click();
    Form.SkipCheck->setChecked(true);
    Form.GoBtn->click();
    EXPECT_EQ(Form.LastResult().Stats.Skipped, 1u);
    EXPECT_EQ(Query(Folder / "cat.fdb", "SELECT COUNT(*) FROM images").at(0).at(0), "1");
    EXPECT_THAT(Form.StatusLabel->text().toStdString(), testing::HasSubstr("(1 skipped (already imported)"));
}

TEST_F(TForm1Pass, ErrorBoxShowsTheMessageAndTheButtonComesBack)
{
    WriteBytes(Folder / "broken.fdb", "not a database");
    Form.DBEdit->setText(QString::fromStdString(Folder / "broken.fdb"));
    TModalAnswerer answerer(&Form);
    Form.GoBtn->click();
    ASSERT_EQ(answerer.Boxes.size(), 1u);
    const TShownBox& box = answerer.Boxes[0];
    EXPECT_EQ(box.Title, "Error");
    EXPECT_EQ(box.Text.toStdString(), Form.LastResult().Message);
    EXPECT_FALSE(box.Text.isEmpty());
    EXPECT_EQ(box.Icon, QMessageBox::NoIcon);
    EXPECT_EQ(box.Buttons, QMessageBox::Ok);
    EXPECT_TRUE(box.OwnedByForm);
    EXPECT_EQ(Form.GoBtn->text(), "Process images");
    EXPECT_TRUE(Form.GoBtn->isEnabled());
}

TEST_F(TForm1Pass, CoversWithoutThumbnailsFolderAreRefused)
{
    Form.TypeItems[4]->setChecked(true);
    TModalAnswerer answerer(&Form);
    Form.GoBtn->click();
    ASSERT_EQ(answerer.Boxes.size(), 1u);
    EXPECT_EQ(answerer.Boxes[0].Title, "Error");
    EXPECT_EQ(answerer.Boxes[0].Text, "Thumbnails folder must be set!");
    EXPECT_EQ(Form.LastResult().Outcome, TImportOutcome::ioNoThumbsFolder);
}

TEST_F(TForm1Pass, ClosingDuringThePassStopsItCommitsAndThenCloses)
{
    for (int i = 1; i <= 2; ++i)
        WriteJpeg(Folder / ("images/" + std::to_string(i) + ".jpg"), 8, 8);
    for (int i = 0; i < 50; ++i)
        WriteBytes(Folder / ("images/note" + std::to_string(i) + ".txt"), "x");
    int ticks = 0;
    QTimer closer;
    QObject::connect(&closer, &QTimer::timeout, [&] {
        if (++ticks == 20)
            Form.close();
    });
    closer.start(0);
    Form.GoBtn->click();
    closer.stop();
    EXPECT_EQ(Form.LastResult().Outcome, TImportOutcome::ioStopped);
    EXPECT_LT(Form.LastResult().Stats.Entries, 54u);
    EXPECT_TRUE(Form.isVisible()) << "the window waits for the pass";
    const int committed = std::stoi(Query(Folder / "cat.fdb", "SELECT COUNT(*) FROM images").at(0).at(0));
    EXPECT_EQ(committed, int(Form.LastResult().Stats.Imported));
    QTRY_VERIFY_WITH_TIMEOUT(!Form.isVisible(), 2000);
    EXPECT_TRUE(!Form.isVisible());
}

TEST(TForm1, ShowsLibraryWarningsInAWarningBox)
{
    TForm1 form;
    form.show();
    TModalAnswerer answerer(&form);
    ShowWarning("Something to know.");
    ASSERT_EQ(answerer.Boxes.size(), 1u);
    EXPECT_EQ(answerer.Boxes[0].Title, "Warning");
    EXPECT_EQ(answerer.Boxes[0].Text, "Something to know.");
}

// Saves a picture of the dialog when IBI_SCREENSHOT names a file, in a font of
// IBI_SCREENSHOT_POINTS points when that is set (QT_SCALE_FACTOR scales the whole picture).
TEST(TForm1, Screenshot)
{
    const char* target = std::getenv("IBI_SCREENSHOT");
    if (!target)
        GTEST_SKIP() << "IBI_SCREENSHOT not set";
    TForm1 form;
    if (const char* points = std::getenv("IBI_SCREENSHOT_POINTS"))
        form.setFont(QFont(form.font().family(), std::atoi(points)));
    form.DBEdit->setText("/home/user/catalogue/movies.fdb");
    form.TypeItems[4]->setChecked(true);
    TImportStats stats; // a summary in the status line, as after a pass
    stats.Entries = 302;
    stats.Imported = stats.Thumbnails = 120;
    stats.Skipped = 178;
    stats.Reasons[static_cast<std::size_t>(TEntryReason::rsNotPictureExtension)] = 4;
    form.StatusLabel->setText(QString::fromStdString(SummaryLine(stats)));
    form.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&form));
    QTest::qWait(200);
    EXPECT_TRUE(form.grab().save(target));
}

} // namespace
