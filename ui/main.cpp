#include "main.h"

#include <QApplication>
#include <QFont>
#include <QPalette>
#include <QScreen>
#include <QStyle>

#include "DiskParam.h"
#include "HtmlHelp.h"
#include "JpegImage.h"
#include "Links.h"
#include "System.h"
#include "WindowFactory.h"
#include "about.h"

TfrmVtMain* frmVtMain = nullptr;

namespace {

constexpr int kClientWidth = 551;
constexpr int kClientHeight = 377;
constexpr int kButtonSize = 60;
constexpr int kGlyphSize = 48;

QIcon ThemeIcon(const QStringList& names, QStyle::StandardPixmap fallback, const QWidget* w) {
    for (const QString& n : names) {
        QIcon icon = QIcon::fromTheme(n);
        if (!icon.isNull()) return icon;
    }
    return w->style()->standardIcon(fallback);
}

}  // namespace

TfrmVtMain::TfrmVtMain(QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                          Qt::WindowCloseButtonHint) {
    setObjectName(QStringLiteral("frmVtMain"));
    setFixedSize(kClientWidth, kClientHeight);
    QPalette pal = palette();
    pal.setColor(QPalette::Window, Qt::white);
    setPalette(pal);
    setAutoFillBackground(true);
    // The launcher's texts are laid out for an 8-point face.
    QFont small = font();
    small.setPointSize(8);
    setFont(small);

    Image1 = new QLabel(this);
    Image1->setObjectName(QStringLiteral("Image1"));
    Image1->setGeometry(0, 0, kClientWidth, 74);
    Image1->setPixmap(QPixmap::fromImage(ui::LoadJpegResource(QStringLiteral(":/art/banner.jpg"))));

    SpeedButton1 = AddTool(20, 100, {QStringLiteral("edit-undo"), QStringLiteral("user-trash")},
                           QStringLiteral("Standard Recovery"),
                           {QStringLiteral("To recover deleted files from logical"), QStringLiteral("drives.")});
    SpeedButton2 = AddTool(20, 193, {QStringLiteral("system-search"), QStringLiteral("edit-find")},
                           QStringLiteral("Advanced Recovery"),
                           {QStringLiteral("To recover files from formatted, "),
                            QStringLiteral("deleted partitions; To recover files"),
                            QStringLiteral("which can't be found in Std mode.")});
    SpeedButton3 = AddTool(20, 286, {QStringLiteral("drive-harddisk")}, QStringLiteral("IDE HDD Health Diagnosis"),
                           {QStringLiteral("Report health status of hard drives by"),
                            QStringLiteral("analyzing S.M.A.R.T. data.")});
    SpeedButton4 = AddTool(289, 100, {QStringLiteral("help-browser"), QStringLiteral("system-help")},
                           QStringLiteral("Help & Menual"), {QStringLiteral("Vantrel's help file.")});
    SpeedButton6 = AddTool(289, 193, {QStringLiteral("web-browser"), QStringLiteral("emblem-web")},
                           QStringLiteral("Vantrel On The Web"), {QStringLiteral("Know more about Vantrel.")});
    SpeedButton1->setObjectName(QStringLiteral("SpeedButton1"));
    SpeedButton2->setObjectName(QStringLiteral("SpeedButton2"));
    SpeedButton3->setObjectName(QStringLiteral("SpeedButton3"));
    SpeedButton4->setObjectName(QStringLiteral("SpeedButton4"));
    SpeedButton6->setObjectName(QStringLiteral("SpeedButton6"));

    SpeedButton7 = new QToolButton(this);
    SpeedButton7->setObjectName(QStringLiteral("SpeedButton7"));
    SpeedButton7->setAutoRaise(true);
    SpeedButton7->setGeometry(514, 341, 25, 25);
    SpeedButton7->setIconSize(QSize(16, 16));
    SpeedButton7->setIcon(ThemeIcon({QStringLiteral("help-about")}, QStyle::SP_MessageBoxInformation, this));
    SpeedButton7->setToolTip(QStringLiteral("About Vantrel"));

    connect(SpeedButton1, &QToolButton::clicked, this, &TfrmVtMain::SpeedButton1Click);
    connect(SpeedButton2, &QToolButton::clicked, this, &TfrmVtMain::SpeedButton2Click);
    connect(SpeedButton3, &QToolButton::clicked, this, &TfrmVtMain::SpeedButton3Click);
    connect(SpeedButton4, &QToolButton::clicked, this, &TfrmVtMain::SpeedButton4Click);
    connect(SpeedButton6, &QToolButton::clicked, this, &TfrmVtMain::SpeedButton6Click);
    connect(SpeedButton7, &QToolButton::clicked, this, &TfrmVtMain::SpeedButton7Click);

    if (QScreen* screen = QGuiApplication::primaryScreen())
        move(screen->availableGeometry().center() - rect().center());
}

QToolButton* TfrmVtMain::AddTool(int left, int top, const QStringList& icons, const QString& title,
                                 const QStringList& description) {
    auto* button = new QToolButton(this);
    button->setAutoRaise(true);  // flat until the mouse is over it
    button->setGeometry(left, top, kButtonSize, kButtonSize);
    button->setIconSize(QSize(kGlyphSize, kGlyphSize));
    button->setIcon(ThemeIcon(icons, QStyle::SP_DriveHDIcon, this));
    button->setToolTip(title);

    const int textLeft = left + kButtonSize + 6;
    auto* caption = new QLabel(title, this);
    QFont bold = caption->font();
    bold.setBold(true);
    caption->setFont(bold);
    caption->move(textLeft, top + 6);
    caption->adjustSize();
    const int lineHeight = QFontMetrics(font()).height() + 1;
    int y = top + 6 + caption->height() + 4;
    for (const QString& line : description) {
        auto* label = new QLabel(line, this);
        label->move(textLeft, y);
        label->adjustSize();
        y += lineHeight;
    }
    return button;
}

void TfrmVtMain::SpeedButton1Click() { ui::RunModal(ui::CreateToolWindow(ui::TTool::StandardRecovery)); }

void TfrmVtMain::SpeedButton2Click() { ui::RunModal(ui::CreateToolWindow(ui::TTool::AdvancedRecovery)); }

void TfrmVtMain::SpeedButton3Click() { ui::RunModal(ui::CreateToolWindow(ui::TTool::HealthDiagnosis)); }

void TfrmVtMain::SpeedButton7Click() { ui::RunModal(std::make_unique<TfrmAbout>()); }

void TfrmVtMain::SpeedButton4Click() {
    // The whole help file, in a window of its own; a missing file shows
    // nothing.
    ui::HtmlHelp(nullptr, AppDir + "Vantrel.chm", std::string());
}

void TfrmVtMain::SpeedButton6Click() { platform::ShellOpen(ui::kWebSite); }
