#include "app/mainform.h"

#include "app/connectionname.h"
#include "base/warning.h"

#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QDialog>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QFocusEvent>
#include <QFontDatabase>
#include <QFontMetrics>
#include <QFormLayout>
#include <QGridLayout>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>
#include <QTimer>
#include <QVBoxLayout>

#include <tuple>

namespace {

// The designed arrangement in device-independent pixels: margins, gaps and the least sizes.
// The layout keeps them at the dialog font and grows past them for larger fonts and texts.
constexpr QMargins FormMargins(8, 8, 3, 9); // the buttons run close to the right edge
constexpr int ColumnGap = 6;                 // an edit and its browse button
constexpr int RowGap = 4;                    // a label and its row, a row and the next label
constexpr int GroupGap = 8;                  // added above the type group
constexpr int CheckGap = 2;                  // added above the check boxes, and between them
constexpr int EditColumnWidth = 329;
constexpr int ButtonWidth = 82;
constexpr int ButtonHeight = 25;
constexpr int TypeGroupHeight = 100;
constexpr int ButtonTextWidth = ButtonWidth - 14; // less the style's frame and margins

const char* const TypeCaptions[KindCount] = {
    "Poster", "Screenshot", "Front Cover", "CD Cover", "Both Covers (_1 = Front, _2 = CD)" };

std::string ToUtf8(const QString& text) { return text.toUtf8().toStdString(); }

template <typename T>
T* MakeControl(QWidget* parent, const char* name, const QString& text = QString())
{
    auto* control = new T(text, parent);
    control->setObjectName(name);
    return control;
}

QPushButton* MakeButton(QWidget* parent, const char* name, const QString& text)
{
    auto* button = MakeControl<QPushButton>(parent, name, text);
    button->setMinimumHeight(ButtonHeight);
    button->setAutoDefault(false);
    return button;
}

QFont DialogFont()
{
    // 8 points at 96 pixels per inch, whatever the screen says. Tahoma is narrow; a wider
    // stand-in is condensed until the longest button caption fits the designed button width,
    // so the dialog keeps its designed proportions.
    QFont font(QFontDatabase::families().contains(QStringLiteral("Tahoma"))
            ? QStringLiteral("Tahoma")
            : QFontDatabase::systemFont(QFontDatabase::GeneralFont).family());
    font.setPixelSize(11);
    for (const int stretch : { 100, 94, 88, 82, 76 }) {
        font.setStretch(stretch);
        if (QFontMetrics(font).horizontalAdvance(QString::fromUtf8(SProcessImages)) <= ButtonTextWidth)
            break;
    }
    return font;
}

} // namespace

TForm1::TForm1(QWidget* parent)
    : QWidget(parent, Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::CustomizeWindowHint
            | Qt::WindowTitleHint | Qt::WindowCloseButtonHint)
{
    setObjectName("Form1");
    setWindowTitle(QStringLiteral("Images by id"));
    setFont(DialogFont());

    Label4 = MakeControl<QLabel>(this, "Label4", QStringLiteral("DB:"));
    DBEdit = MakeControl<QLineEdit>(this, "DBEdit");
    DBBrowseBtn = MakeButton(this, "DBBrowseBtn", QStringLiteral("Browse"));
    Label3 = MakeControl<QLabel>(this, "Label3", QStringLiteral("Image folder:"));
    ImgEdit = MakeControl<QLineEdit>(this, "ImgEdit");
    ImgBrowseBtn = MakeButton(this, "ImgBrowseBtn", QStringLiteral("Browse"));
    Label1 = MakeControl<QLabel>(this, "Label1", QStringLiteral("Thumbnails folder:"));
    ThumbsEdit = MakeControl<QLineEdit>(this, "ThumbsEdit");
    ThumbsBrowseBtn = MakeButton(this, "ThumbsBrowseBtn", QStringLiteral("Browse"));
    TypeGroup = MakeControl<QGroupBox>(this, "TypeGroup", QStringLiteral("Image type:"));
    TypeGroup->setMinimumHeight(TypeGroupHeight);
    // One column, the items spread evenly below the caption.
    auto* typeLayout = new QVBoxLayout(TypeGroup);
    typeLayout->setContentsMargins(8, 0, 8, 0);
    typeLayout->setSpacing(0);
    for (int index = 0; index < KindCount; ++index) {
        auto* item = new QRadioButton(QString::fromUtf8(TypeCaptions[index]), TypeGroup);
        item->setObjectName(QStringLiteral("TypeItem%1").arg(index));
        item->installEventFilter(this);
        typeLayout->addWidget(item, 1);
        TypeItems[index] = item;
    }
    TypeItems[0]->setChecked(true);
    RemCheck = MakeControl<QCheckBox>(this, "RemCheck", QStringLiteral("Remove existing images"));
    SetCheck = MakeControl<QCheckBox>(this, "SetCheck", QStringLiteral("Set folder"));
    SkipCheck = MakeControl<QCheckBox>(this, "SkipCheck", QStringLiteral("Skip pictures already imported"));
    SmoothCheck = MakeControl<QCheckBox>(this, "SmoothCheck", QStringLiteral("Smooth thumbnails"));
    GoBtn = MakeButton(this, "GoBtn", QString::fromUtf8(SProcessImages));
    StatusLabel = MakeControl<QLabel>(this, "StatusLabel");
    StatusLabel->setWordWrap(true);
    LayOutControls();

    // Labels take no focus; the radio group counts as one stop (its checked item).
    QWidget* const tabOrder[] = { ImgEdit, ImgBrowseBtn, TypeItems[0], TypeItems[1], TypeItems[2],
        TypeItems[3], TypeItems[4], GoBtn, DBEdit, DBBrowseBtn, RemCheck, SetCheck, SkipCheck, SmoothCheck, ThumbsEdit,
        ThumbsBrowseBtn };
    for (std::size_t i = 0; i + 1 < std::size(tabOrder); ++i)
        setTabOrder(tabOrder[i], tabOrder[i + 1]);
    ImgEdit->setFocus();

    connect(DBBrowseBtn, &QPushButton::clicked, this, &TForm1::DBBrowseBtnClick);
    connect(ImgBrowseBtn, &QPushButton::clicked, this, &TForm1::ImgBrowseBtnClick);
    connect(ThumbsBrowseBtn, &QPushButton::clicked, this, &TForm1::ThumbsBrowseBtnClick);
    connect(GoBtn, &QPushButton::clicked, this, &TForm1::GoBtnClick);

    SetWarningHandler([this](const std::string& text) {
        QMessageBox box(QMessageBox::Warning, QString::fromUtf8(SWarningCaption), QString::fromUtf8(text),
            QMessageBox::Ok, this);
        box.exec();
    });
}

void TForm1::LayOutControls()
{
    // Two columns: edits, type group and check boxes on the left, every button on the right;
    // each label stands above its edit. The window takes the size the layout asks for.
    auto* grid = new QGridLayout(this);
    grid->setSizeConstraint(QLayout::SetFixedSize);
    grid->setContentsMargins(FormMargins);
    grid->setHorizontalSpacing(ColumnGap);
    grid->setVerticalSpacing(RowGap);
    grid->setColumnMinimumWidth(0, EditColumnWidth);
    grid->setColumnMinimumWidth(1, ButtonWidth);
    const std::tuple<QLabel*, QLineEdit*, QPushButton*> pathRows[] = { { Label4, DBEdit, DBBrowseBtn },
        { Label3, ImgEdit, ImgBrowseBtn }, { Label1, ThumbsEdit, ThumbsBrowseBtn } };
    int row = 0;
    for (const auto& [label, edit, button] : pathRows) {
        grid->addWidget(label, row++, 0);
        grid->addWidget(edit, row, 0);
        grid->addWidget(button, row++, 1);
    }
    grid->addItem(new QSpacerItem(0, GroupGap, QSizePolicy::Minimum, QSizePolicy::Fixed), row++, 0);
    grid->addWidget(TypeGroup, row++, 0);
    auto* checks = new QVBoxLayout;
    checks->setContentsMargins(0, CheckGap, 0, 0);
    checks->setSpacing(CheckGap);
    checks->addWidget(RemCheck);
    checks->addWidget(SetCheck);
    checks->addWidget(SkipCheck);
    checks->addWidget(SmoothCheck);
    grid->addLayout(checks, row, 0);
    grid->addWidget(GoBtn, row++, 1, Qt::AlignBottom);
    // One line under everything, as wide as the dialog; two when a summary needs them.
    StatusLabel->setMinimumHeight(StatusLabel->fontMetrics().height());
    grid->addWidget(StatusLabel, row, 0, 1, 2);
}

TForm1::~TForm1() { SetWarningHandler(nullptr); }

void TForm1::BrowseFolder(QLineEdit* edit)
{
    // The full path without a final "/" (except for the root itself); cancelling changes nothing.
    const QString folder = QFileDialog::getExistingDirectory(this, QString(), QString(), QFileDialog::ShowDirsOnly);
    if (!folder.isEmpty())
        edit->setText(folder);
}

void TForm1::ImgBrowseBtnClick() { BrowseFolder(ImgEdit); }

void TForm1::ThumbsBrowseBtnClick() { BrowseFolder(ThumbsEdit); }

void TForm1::DBBrowseBtnClick()
{
    const QString file = QFileDialog::getOpenFileName(this);
    if (!file.isEmpty())
        DBEdit->setText(file);
}

void TForm1::GoBtnClick()
{
    if (FPassRunning)
        return;
    TImportRequest request;
    request.DatabaseFile = ToUtf8(DBEdit->text());
    request.ImageFolder = ToUtf8(ImgEdit->text());
    request.ThumbsFolder = ToUtf8(ThumbsEdit->text());
    request.KindIndex = KindIndex();
    request.RemoveExisting = RemCheck->isChecked();
    request.SetFolder = SetCheck->isChecked();
    request.SkipExisting = SkipCheck->isChecked();
    request.SmoothThumbnails = SmoothCheck->isChecked();
    if (ClassifyConnectionName(request.DatabaseFile).OnServer()) {
        request.UserName = FUserName;
        request.Password = FPassword;
    }
    FPassRunning = true;
    StatusLabel->clear();
    FLastResult = RunImportPass(request, *this);
    FPassRunning = false;
    // A pass that went as far as the database ends with its summary, never in silence.
    const TImportOutcome outcome = FLastResult.Outcome;
    if (outcome == TImportOutcome::ioCompleted || outcome == TImportOutcome::ioStopped
        || (outcome == TImportOutcome::ioFailed && FLastResult.Stats.FolderFound))
        StatusLabel->setText(QString::fromUtf8(SummaryLine(FLastResult.Stats)));
    if (FCloseRequested)
        QTimer::singleShot(0, this, &QWidget::close);
}

bool TForm1::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() == QEvent::FocusIn) {
        const Qt::FocusReason reason = static_cast<QFocusEvent*>(event)->reason();
        auto* item = qobject_cast<QRadioButton*>(watched);
        const int checked = KindIndex();
        if (item && !item->isChecked() && (reason == Qt::TabFocusReason || reason == Qt::BacktabFocusReason)
            && TypeItems[checked]->isChecked())
            TypeItems[checked]->setFocus(reason);
    }
    return QWidget::eventFilter(watched, event);
}

void TForm1::closeEvent(QCloseEvent* event)
{
    if (FPassRunning) {
        FCloseRequested = true;
        event->ignore();
        return;
    }
    QWidget::closeEvent(event);
}

int TForm1::KindIndex()
{
    for (int index = 0; index < KindCount; ++index)
        if (TypeItems[index]->isChecked())
            return index;
    return 0;
}

std::string TForm1::ThumbsFolderText() { return ToUtf8(ThumbsEdit->text()); }

void TForm1::SetGoEnabled(bool enabled) { GoBtn->setEnabled(enabled); }

void TForm1::SetGoCaption(const std::string& caption) { GoBtn->setText(QString::fromUtf8(caption)); }

void TForm1::ProcessEvents() { QCoreApplication::processEvents(); }

void TForm1::WalkStarted(std::size_t entries)
{
    FImported = 0;
    FMeter.Start(entries, TProgressMeter::TClock::now());
}

void TForm1::EntryDone(const TEntryOutcome& outcome, const TImportStats& stats)
{
    if (outcome.Result == TEntryResult::erImported || outcome.Result == TEntryResult::erImportedWithThumbnail)
        ++FImported;
    const auto now = TProgressMeter::TClock::now();
    if (FMeter.Due(stats.Entries, now))
        StatusLabel->setText(QString::fromUtf8(FMeter.Line(stats.Entries, FImported, now)));
}

void TForm1::ShowMessage(const std::string& text)
{
    QMessageBox box(QMessageBox::NoIcon, QString::fromUtf8(SErrorCaption), QString::fromUtf8(text), QMessageBox::Ok, this);
    box.exec();
}

bool TForm1::AskLogIn(std::string& userName, std::string& password)
{
    QDialog box(this);
    box.setObjectName("LogInBox");
    box.setWindowTitle(QStringLiteral("Log in"));
    auto* layout = new QFormLayout(&box);
    layout->addRow(new QLabel(QStringLiteral("The server refused the log-in. Its user name and password:"), &box));
    auto* user = new QLineEdit(QString::fromUtf8(userName), &box);
    user->setObjectName("UserEdit");
    auto* secret = new QLineEdit(&box);
    secret->setObjectName("PasswordEdit");
    secret->setEchoMode(QLineEdit::Password);
    layout->addRow(QStringLiteral("User name:"), user);
    layout->addRow(QStringLiteral("Password:"), secret);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, &box);
    layout->addRow(buttons);
    connect(buttons, &QDialogButtonBox::accepted, &box, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, &box, &QDialog::reject);
    (userName.empty() ? user : secret)->setFocus();
    if (box.exec() != QDialog::Accepted)
        return false;
    userName = FUserName = ToUtf8(user->text());
    password = FPassword = ToUtf8(secret->text());
    return true;
}
