#pragma once
#include "app/importpass.h"
#include "app/progressmeter.h"

#include <QWidget>

#include <array>

class QCheckBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;

// The one dialog of the program, Form1: names the catalogue database, the image and
// thumbnails folders and the kind of picture, and runs the import pass on "Process images".
class TForm1 : public QWidget, public TImportFrontEnd {
    Q_OBJECT

public:
    explicit TForm1(QWidget* parent = nullptr);
    ~TForm1() override;

    QLabel* Label4;
    QLineEdit* DBEdit;
    QPushButton* DBBrowseBtn;
    QLabel* Label3;
    QLineEdit* ImgEdit;
    QPushButton* ImgBrowseBtn;
    QLabel* Label1;
    QLineEdit* ThumbsEdit;
    QPushButton* ThumbsBrowseBtn;
    QGroupBox* TypeGroup;
    std::array<QRadioButton*, KindCount> TypeItems;
    QCheckBox* RemCheck;
    QCheckBox* SetCheck;
    QCheckBox* SkipCheck;
    QCheckBox* SmoothCheck;
    QPushButton* GoBtn;
    // Under the button: the counts during a pass, its summary line after it.
    QLabel* StatusLabel;

    bool PassRunning() const { return FPassRunning; }
    // The result of the last pass, for whoever started it.
    const TImportResult& LastResult() const { return FLastResult; }

    // TImportFrontEnd
    int KindIndex() override;
    std::string ThumbsFolderText() override;
    void SetGoEnabled(bool enabled) override;
    void SetGoCaption(const std::string& caption) override;
    void ProcessEvents() override;
    bool StopRequested() override { return FCloseRequested; }
    void ShowMessage(const std::string& text) override;
    void WalkStarted(std::size_t entries) override;
    void EntryDone(const TEntryOutcome& outcome, const TImportStats& stats) override;
    // The log-in box: user name and password for a server catalogue, kept until the program
    // ends (never written anywhere) and used by the passes after this one too.
    bool AskLogIn(std::string& userName, std::string& password) override;

public slots:
    void DBBrowseBtnClick();
    void ImgBrowseBtnClick();
    void ThumbsBrowseBtnClick();
    void GoBtnClick();

protected:
    // Tabbing into the radio group lands on its checked item.
    bool eventFilter(QObject* watched, QEvent* event) override;
    // Closing while a pass runs lets the pass stop and commit first; the window closes after.
    void closeEvent(QCloseEvent* event) override;

private:
    void LayOutControls();
    void BrowseFolder(QLineEdit* edit);

    // What the log-in box took; in memory only.
    std::string FUserName, FPassword;
    bool FPassRunning = false;
    bool FCloseRequested = false;
    TImportResult FLastResult;
    TProgressMeter FMeter;
    unsigned FImported = 0;
};
