#include "app/mainform.h"

#include "base/warning.h"

#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QFileDialog>
#include <QFocusEvent>
#include <QFontDatabase>
#include <QFontMetrics>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>
#include <QTimer>
#include <QVBoxLayout>

#include <algorithm>

namespace {

constexpr int ClientWidth = 428;
constexpr int ClientHeight = 305;
constexpr int ButtonTextWidth = 82 - 14; // the buttons' width less the style's frame and margins

const char* const TypeCaptions[KindCount] = {
    "Poster", "Screenshot", "Front Cover", "CD Cover", "Both Covers (_1 = Front, _2 = CD)" };

std::string ToUtf8(const QString& text) { return text.toUtf8().toStdString(); }

// A label sized to its text, at least as large as laid out.
QLabel* MakeLabel(QWidget* parent, const char* name, const char* text, int left, int top, int width, int height)
{
    auto* label = new QLabel(QString::fromUtf8(text), parent);
    label->setObjectName(name);
    label->setGeometry(left, top, std::max(width, label->sizeHint().width()), std::max(height, label->sizeHint().height()));
    return label;
}

template <typename T>
T* MakeControl(QWidget* parent, const char* name, int left, int top, int width, int height)
{
    auto* control = new T(parent);
    control->setObjectName(name);
    control->setGeometry(left, top, width, height);
    return control;
}

QFont DialogFont()
{
    // 8 points at 96 pixels per inch, whatever the screen says. Tahoma is narrow; a wider
    // stand-in is condensed until the longest button caption fits its button with room to spare.
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
    setFixedSize(ClientWidth, ClientHeight);

    Label4 = MakeLabel(this, "Label4", "DB:", 8, 8, 17, 13);
    DBEdit = MakeControl<QLineEdit>(this, "DBEdit", 8, 27, 329, 21);
    DBBrowseBtn = MakeControl<QPushButton>(this, "DBBrowseBtn", 343, 25, 82, 25);
    DBBrowseBtn->setText(QStringLiteral("Browse"));
    Label3 = MakeLabel(this, "Label3", "Image folder:", 8, 54, 65, 13);
    ImgEdit = MakeControl<QLineEdit>(this, "ImgEdit", 8, 73, 329, 21);
    ImgBrowseBtn = MakeControl<QPushButton>(this, "ImgBrowseBtn", 343, 71, 82, 25);
    ImgBrowseBtn->setText(QStringLiteral("Browse"));
    Label1 = MakeLabel(this, "Label1", "Thumbnails folder:", 8, 100, 88, 13);
    ThumbsEdit = MakeControl<QLineEdit>(this, "ThumbsEdit", 8, 119, 329, 21);
    ThumbsBrowseBtn = MakeControl<QPushButton>(this, "ThumbsBrowseBtn", 342, 117, 82, 25);
    ThumbsBrowseBtn->setText(QStringLiteral("Browse"));

    TypeGroup = MakeControl<QGroupBox>(this, "TypeGroup", 8, 154, 329, 100);
    TypeGroup->setTitle(QStringLiteral("Image type:"));
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

    RemCheck = MakeControl<QCheckBox>(this, "RemCheck", 8, 260, 329, 17);
    RemCheck->setText(QStringLiteral("Remove existing images"));
    SetCheck = MakeControl<QCheckBox>(this, "SetCheck", 8, 279, 329, 17);
    SetCheck->setText(QStringLiteral("Set folder"));
    GoBtn = MakeControl<QPushButton>(this, "GoBtn", 343, 271, 82, 25);
    GoBtn->setText(QString::fromUtf8(SProcessImages));

    // Labels take no focus; the radio group counts as one stop (its checked item).
    QWidget* const tabOrder[] = { ImgEdit, ImgBrowseBtn, TypeItems[0], TypeItems[1], TypeItems[2],
        TypeItems[3], TypeItems[4], GoBtn, DBEdit, DBBrowseBtn, RemCheck, SetCheck, ThumbsEdit, ThumbsBrowseBtn };
    for (std::size_t i = 0; i + 1 < std::size(tabOrder); ++i)
        setTabOrder(tabOrder[i], tabOrder[i + 1]);
    for (QPushButton* button : { DBBrowseBtn, ImgBrowseBtn, ThumbsBrowseBtn, GoBtn })
        button->setAutoDefault(false);
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
    FPassRunning = true;
    FLastResult = RunImportPass(request, *this);
    FPassRunning = false;
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

void TForm1::ShowMessage(const std::string& text)
{
    QMessageBox box(QMessageBox::NoIcon, QString::fromUtf8(SErrorCaption), QString::fromUtf8(text), QMessageBox::Ok, this);
    box.exec();
}
