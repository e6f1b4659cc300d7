#include "about.h"

#include <QGuiApplication>
#include <QKeyEvent>
#include <QScreen>
#include <QUrl>

#include "JpegImage.h"
#include "Links.h"
#include "System.h"

TfrmAbout::TfrmAbout(QWidget* parent) : QDialog(parent, Qt::Dialog | Qt::WindowTitleHint | Qt::WindowCloseButtonHint) {
    setObjectName(QStringLiteral("frmAbout"));
    setWindowTitle(QStringLiteral("About Vantrel"));
    setFixedSize(396, 237);

    Image2 = new QLabel(this);
    Image2->setObjectName(QStringLiteral("Image2"));
    Image2->setGeometry(12, 12, 156, 213);
    Image2->setPixmap(QPixmap::fromImage(ui::LoadJpegResource(QStringLiteral(":/art/about.jpg"))));

    const int textLeft = 188;
    auto* name = new QLabel(QStringLiteral("Vantrel"), this);
    QFont times(QStringLiteral("Times New Roman"));
    times.setStyleHint(QFont::Serif);
    times.setPixelSize(29);
    times.setBold(true);
    name->setFont(times);
    name->move(textLeft, 20);
    name->adjustSize();

    auto* version = new QLabel(QStringLiteral("Version 2.0.3.1"), this);
    version->move(textLeft, 66);
    version->adjustSize();

    LabelEx1 = new TLabelEx(this);
    LabelEx1->setObjectName(QStringLiteral("LabelEx1"));
    LabelEx1->setText(QString::fromLatin1(ui::kWebSite));
    LabelEx1->SetFontColor(Qt::blue);
    LabelEx1->setCursor(Qt::PointingHandCursor);
    LabelEx1->move(textLeft, 112);
    LabelEx1->adjustSize();
    LabelEx1->Loaded();

    LabelEx2 = new TLabelEx(this);
    LabelEx2->setObjectName(QStringLiteral("LabelEx2"));
    LabelEx2->setText(QStringLiteral("email: ") + QString::fromLatin1(ui::kSupportMail));
    LabelEx2->SetFontColor(Qt::blue);
    LabelEx2->setCursor(Qt::PointingHandCursor);
    LabelEx2->move(textLeft, 136);
    LabelEx2->adjustSize();
    LabelEx2->Loaded();

    Button1 = new QPushButton(QStringLiteral("OK"), this);
    Button1->setObjectName(QStringLiteral("Button1"));
    Button1->setGeometry(300, 196, 80, 26);
    Button1->setDefault(true);

    connect(Button1, &QPushButton::clicked, this, &TfrmAbout::Button1Click);
    connect(LabelEx1, &TLabelEx::Click, this, &TfrmAbout::LabelEx1Click);
    connect(LabelEx2, &TLabelEx::Click, this, &TfrmAbout::LabelEx2Click);
    new ui::TKeyPreview(this, [this](QKeyEvent* key) { return FormKeyDown(key); });

    if (QScreen* screen = QGuiApplication::primaryScreen())
        move(screen->availableGeometry().center() - rect().center());
}

void TfrmAbout::Button1Click() { close(); }

void TfrmAbout::LabelEx1Click() { platform::ShellOpen(ui::kWebSite); }

void TfrmAbout::LabelEx2Click() {
    platform::ShellOpen(std::string("mailto:") + ui::kSupportMail + "?subject=" + ui::kSupportSubject);
}

bool TfrmAbout::FormKeyDown(QKeyEvent* key) {
    if (key->key() == Qt::Key_Escape || key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter) {
        close();
        return true;
    }
    return false;
}
