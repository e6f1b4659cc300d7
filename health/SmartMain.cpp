#include "SmartMain.h"

#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QPainter>
#include <QPainterPath>
#include <QShowEvent>
#include <QStyledItemDelegate>
#include <QVBoxLayout>
#include <algorithm>
#include <stdexcept>

#include "DiskParam.h"

std::vector<TSmartDriveRec> SmartDrives;

const char* const HealthText[3] = {
    "状态良好。",
    "某些品性已经接近了它们的极限，请备份你的重要数据。",
    "这个硬盘达到了危险的程度，你应该考虑更换这个硬盘。",
};

namespace {

// Colours as Windows COLORREF values (0x00BBGGRR).
constexpr std::uint32_t kWindowColor = 14215660;    // red 236, green 233, blue 216
constexpr std::uint32_t kSelectedRowColor = 13697023;  // light yellow
constexpr std::uint32_t kOddRowColor = 16774388;    // pale blue
constexpr std::uint32_t kRowColor = 16777215;       // white

QColor FromColorRef(std::uint32_t bgr) {
    return QColor(static_cast<int>(bgr & 0xFF), static_cast<int>((bgr >> 8) & 0xFF),
                  static_cast<int>((bgr >> 16) & 0xFF));
}

void Paint(QWidget* w, std::uint32_t color) {
    QPalette pal = w->palette();
    pal.setColor(QPalette::Window, FromColorRef(color));
    w->setPalette(pal);
    w->setAutoFillBackground(true);
}

// Columns of the attribute table.
enum Column { ColName, ColId, ColWorst, ColValue, ColThreshold, ColRaw, ColMeaning, ColStatus, ColCount };

// The row image a row shows, kept beside its icon.
constexpr int kImageIndexRole = Qt::UserRole + 1;

enum RowImage { ImgNormal = 0, ImgOutline = 1, ImgWarning = 2, ImgDanger = 3 };

// Text of an ATA text field as Windows reads a fixed char array: up to the
// first NUL, at most the field's length.
QString FieldText(const std::uint8_t* bytes, std::size_t size) {
    const std::size_t n = std::find(bytes, bytes + size, 0) - bytes;
    return QString::fromUtf8(reinterpret_cast<const char*>(bytes), static_cast<qsizetype>(n));
}

// The whole field trimmed of blanks and control characters at both ends: a
// NUL is one of them, so a field that starts with NUL bytes (some drives pad
// their serial number so) still shows what follows them.
QString TrimmedField(const std::uint8_t* bytes, std::size_t size) {
    std::size_t first = 0, last = size;
    while (first < last && bytes[first] <= 0x20) ++first;
    while (last > first && bytes[last - 1] <= 0x20) --last;
    return QString::fromUtf8(reinterpret_cast<const char*>(bytes + first), static_cast<qsizetype>(last - first));
}

std::uint64_t RawValue(const TSmartAttrEntry& a) {
    std::uint64_t raw = 0;
    for (int k = 5; k >= 0; --k) raw = (raw << 8) | a.RawData[static_cast<std::size_t>(k)];
    return raw;
}

QString Meaning(int id, std::uint64_t raw) {
    const auto low32 = static_cast<std::uint32_t>(raw);
    switch (id) {
        case 4:
        case 12:
        case 192:
            return QString::number(low32) + QStringLiteral(" 次");
        case 9:
            return QString::number(low32);
        case 194:
            return QString::number(raw & 0xFFFF) + QStringLiteral(" ℃(摄氏度)");
        default:
            return QString();
    }
}

struct Status {
    const char* text;
    int image;
    int verdict;  // the least verdict the row gives the drive
};

// The drive declares an attribute failed when its normalised value has come
// down to its threshold; a threshold of 0 marks an attribute that never
// fails. A failed row shows the red triangle, which the legend pairs with
// "Dangerous! Replace This HDD".
Status StatusOf(std::uint8_t value, std::uint8_t threshold) {
    if (threshold == 0) return {"总是略过", ImgNormal, 0};
    if (threshold >= value) return {"危险的", ImgDanger, 2};
    return {"值正常", ImgNormal, 0};
}

QIcon DrawImage(int kind) {
    QPixmap pm(16, 16);
    pm.fill(Qt::transparent);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    if (kind == ImgNormal) {
        p.setPen(QPen(QColor(0x1E, 0x7A, 0x1E), 1));
        p.setBrush(QColor(0x2E, 0xA8, 0x2E));
        p.drawEllipse(QRectF(0.5, 0.5, 15, 15));
        p.setPen(QPen(Qt::white, 2.2, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
        p.setBrush(Qt::NoBrush);
        p.drawPolyline(QPolygonF({QPointF(4.2, 8.2), QPointF(7, 11), QPointF(11.8, 5.2)}));
        return QIcon(pm);
    }
    QPainterPath triangle;
    triangle.moveTo(8, 1);
    triangle.lineTo(15.2, 14.5);
    triangle.lineTo(0.8, 14.5);
    triangle.closeSubpath();
    if (kind == ImgOutline) {
        p.setPen(QPen(QColor(0x60, 0x60, 0x60), 1.2));
        p.setBrush(Qt::white);
        p.drawPath(triangle);
        return QIcon(pm);
    }
    const bool danger = kind == ImgDanger;
    p.setPen(QPen(danger ? QColor(0x8A, 0x10, 0x10) : QColor(0x8A, 0x6A, 0x00), 1));
    p.setBrush(danger ? QColor(0xDC, 0x22, 0x22) : QColor(0xFF, 0xD0, 0x1A));
    p.drawPath(triangle);
    const QColor mark = danger ? Qt::white : Qt::black;
    p.setPen(QPen(mark, 2, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(QPointF(8, 5.5), QPointF(8, 9.5));
    p.setPen(Qt::NoPen);
    p.setBrush(mark);
    p.drawEllipse(QPointF(8, 12.3), 1.1, 1.1);
    return QIcon(pm);
}

TSmartHelpOpener& HelpOpener() {
    static TSmartHelpOpener opener;
    return opener;
}

void ErrorBox(const char* text) { win::MessageBoxA(nullptr, text, "Error", win::MB_OK | win::MB_ICONERROR); }

}  // namespace

// The list's rows on their own backgrounds: the window decides the colour
// of each row, the selected one included, and the rest is drawn as usual.
// The selected row shows only its colour: no selection tint and no focus
// frame over it.
// The list view outlives the window's own part while QWidget's destructor
// closes the window and its children, and may still draw or measure rows
// then: the window detaches itself first, and rows drawn after that are
// drawn as usual.
class TSmartRowDelegate : public QStyledItemDelegate {
public:
    TSmartRowDelegate(const TfrmSmart* form, QObject* parent) : QStyledItemDelegate(parent), form_(form) {}
    void Detach() { form_ = nullptr; }

protected:
    void initStyleOption(QStyleOptionViewItem* option, const QModelIndex& index) const override {
        QStyledItemDelegate::initStyleOption(option, index);
        if (!form_) return;
        const bool selected = option->state & QStyle::State_Selected;
        option->backgroundBrush = form_->ListView1CustomDrawItem(index.row(), selected);
        option->state &= ~QStyle::State_Selected;
        if (selected) option->state &= ~QStyle::State_HasFocus;
    }

private:
    const TfrmSmart* form_;
};

const QList<QIcon>& SmartRowImages() {
    static const QList<QIcon> images = {DrawImage(ImgNormal), DrawImage(ImgOutline), DrawImage(ImgWarning),
                                        DrawImage(ImgDanger)};
    return images;
}

void SetSmartHelpOpener(TSmartHelpOpener opener) { HelpOpener() = std::move(opener); }

int FillSmartTable(std::uint8_t Drive, QTreeWidget* ListView) {
    win::HANDLE h = OpenSmartDevice(Drive);
    if (h == win::INVALID_HANDLE_VALUE) return -1;
    // The list is repainted and the handle closed on every way out.
    struct Update {
        QTreeWidget* list;
        win::HANDLE handle;
        ~Update() {
            list->setUpdatesEnabled(true);
            win::CloseHandle(handle);
        }
    } update{ListView, h};
    ListView->setUpdatesEnabled(false);
    ListView->clear();

    if (!SmartEnable(h, Drive)) return -1;
    try {
        TSmartDataBlock values{};
        TSmartDataBlock thresholds{};
        if (!SmartReadValues(h, values, Drive)) throw std::runtime_error("读取属性错误。");
        if (!SmartReadThresholds(h, thresholds, Drive)) throw std::runtime_error("读取极限错误。");
        const QList<QIcon>& images = SmartRowImages();
        int verdict = 0;
        for (int i = 0; i < kSmartEntryCount; ++i) {
            const TSmartAttrEntry a = values.Attr(i);
            if (a.Id == 0) continue;
            const std::uint8_t threshold = thresholds.Threshold(i).Threshold;
            const std::uint64_t raw = RawValue(a);
            const Status status = StatusOf(a.Value, threshold);
            auto* row = new QTreeWidgetItem;
            row->setText(ColName, QString::fromStdString(GetSmartAttrName(a.Id)));
            row->setText(ColId, QString::number(a.Id, 16));
            row->setText(ColWorst, QString::number(a.Worst));
            row->setText(ColValue, QString::number(a.Value));
            row->setText(ColThreshold, QString::number(threshold));
            row->setText(ColRaw, QString::asprintf("%012llX", static_cast<unsigned long long>(raw)));
            row->setText(ColMeaning, Meaning(a.Id, raw));
            row->setText(ColStatus, QString::fromUtf8(status.text));
            row->setIcon(ColName, images.value(status.image));
            row->setData(ColName, kImageIndexRole, status.image);
            ListView->addTopLevelItem(row);
            verdict = std::max(verdict, status.verdict);
        }
        return verdict;
    } catch (const std::exception& e) {
        ListView->setUpdatesEnabled(true);
        ErrorBox(e.what());
        return -1;
    }
}

TfrmSmart::TfrmSmart(QWidget* parent) : QMainWindow(parent), AppDirectory(::AppDir) {
    setObjectName(QStringLiteral("frmSmart"));
    setWindowTitle(QStringLiteral("Vantrel - IDE HDD Health Diagnosis"));
    resize(800, 600);
    setWindowState(Qt::WindowMaximized);
    Paint(this, kWindowColor);
    ImageList1 = SmartRowImages();

    BuildMenus();

    auto* central = new QWidget(this);
    Paint(central, kWindowColor);
    auto* layout = new QVBoxLayout(central);
    layout->setContentsMargins(6, 6, 6, 0);
    layout->setSpacing(6);
    setCentralWidget(central);
    BuildDrivePanel(central);
    BuildTable(central);
    BuildLegend(central);
    BuildDetails(central);

    StatusBar1 = new QStatusBar(this);
    StatusBar1->setObjectName(QStringLiteral("StatusBar1"));
    StatusBar1->setSizeGripEnabled(false);
    StatusPanel = new QLabel(StatusBar1);
    StatusPanel->setObjectName(QStringLiteral("StatusPanel"));
    StatusBar1->addWidget(StatusPanel, 1);
    setStatusBar(StatusBar1);
}

TfrmSmart::~TfrmSmart() {
    // Before QWidget's destructor closes the list: see TSmartRowDelegate.
    rowDelegate_->Detach();
}

void TfrmSmart::BuildMenus() {
    RefreshDriveList1 = new QAction(QStringLiteral("Refresh Drive List"), this);
    RefreshDriveList1->setObjectName(QStringLiteral("RefreshDriveList1"));
    RefreshDriveList1->setIcon(QIcon::fromTheme(QStringLiteral("view-refresh")));
    acClose = new QAction(QStringLiteral("Close"), this);
    acClose->setObjectName(QStringLiteral("acClose"));
    acClose->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_X));
    acClose->setIcon(QIcon::fromTheme(QStringLiteral("window-close")));
    help = new QAction(QStringLiteral("Content"), this);
    help->setObjectName(QStringLiteral("help"));
    help->setShortcut(QKeySequence(Qt::Key_F1));
    help->setIcon(QIcon::fromTheme(QStringLiteral("help-browser")));
    for (QAction* a : {RefreshDriveList1, acClose, help}) {
        a->setShortcutContext(Qt::WindowShortcut);
        addAction(a);  // the shortcuts work in the whole window
    }
    connect(RefreshDriveList1, &QAction::triggered, this, &TfrmSmart::RefreshDriveList1Click);
    connect(acClose, &QAction::triggered, this, &TfrmSmart::acCloseExecute);
    connect(help, &QAction::triggered, this, &TfrmSmart::helpExecute);

    Drive1 = new QMenu(QStringLiteral("Drive "), this);
    Drive1->setObjectName(QStringLiteral("Drive1"));
    Drive1->addAction(RefreshDriveList1);
    Drive1->addSeparator();
    Drive1->addAction(acClose);
    Help1 = new QMenu(QStringLiteral("Help"), this);
    Help1->setObjectName(QStringLiteral("Help1"));
    Help1->addAction(help);

    ToolBar1 = new QToolBar(this);
    ToolBar1->setObjectName(QStringLiteral("ToolBar1"));
    ToolBar1->setMovable(false);
    ToolBar1->setFloatable(false);
    ToolBar1->setToolButtonStyle(Qt::ToolButtonTextOnly);
    Paint(ToolBar1, kWindowColor);
    addToolBar(Qt::TopToolBarArea, ToolBar1);
    auto menuButton = [&](QMenu* menu, const char* name) {
        auto* button = new QToolButton(ToolBar1);
        button->setObjectName(QString::fromLatin1(name));
        button->setText(menu->title());
        button->setMenu(menu);
        button->setPopupMode(QToolButton::InstantPopup);
        button->setAutoRaise(true);
        ToolBar1->addWidget(button);
        return button;
    };
    ToolButton1 = menuButton(Drive1, "ToolButton1");
    ToolButton2 = menuButton(Help1, "ToolButton2");
}

void TfrmSmart::BuildDrivePanel(QWidget* parent) {
    GroupBox1 = new QGroupBox(QStringLiteral(" Detected Hard Drives:") + QString(71, QLatin1Char(' ')), parent);
    GroupBox1->setObjectName(QStringLiteral("GroupBox1"));
    Paint(GroupBox1, kWindowColor);
    auto* grid = new QGridLayout(GroupBox1);
    grid->setHorizontalSpacing(12);

    ComboBox1 = new QComboBox(GroupBox1);
    ComboBox1->setObjectName(QStringLiteral("ComboBox1"));
    // Wide enough for the 40 characters of a model name.
    ComboBox1->setMinimumWidth(QFontMetrics(ComboBox1->font()).averageCharWidth() * 44);
    // A choice by the user (mouse or keys); filling the list is not one.
    connect(ComboBox1, &QComboBox::activated, this, [this] { ComboBox1Change(); });
    grid->addWidget(ComboBox1, 0, 0, 1, 1, Qt::AlignTop);

    auto value = [&](const char* name) {
        auto* l = new QLabel(GroupBox1);
        l->setObjectName(QString::fromLatin1(name));
        l->setTextInteractionFlags(Qt::TextSelectableByMouse);
        l->setMinimumWidth(120);
        return l;
    };
    Label9 = value("Label9");
    Label11 = value("Label11");
    Label13 = value("Label13");
    Label15 = value("Label15");
    const std::pair<const char*, QLabel*> rows[] = {
        {"Capacity", Label9}, {"Firmware Revision", Label11}, {"Serial Number", Label13}, {"S.M.A.R.T.", Label15}};
    int r = 0;
    for (const auto& [caption, label] : rows) {
        const int row = r % 2, col = 1 + (r / 2) * 2;
        grid->addWidget(new QLabel(QString::fromLatin1(caption), GroupBox1), row, col);
        grid->addWidget(label, row, col + 1);
        ++r;
    }
    grid->setColumnStretch(5, 1);
    parent->layout()->addWidget(GroupBox1);
}

void TfrmSmart::BuildTable(QWidget* parent) {
    ListView1 = new QTreeWidget(parent);
    ListView1->setObjectName(QStringLiteral("ListView1"));
    ListView1->setRootIsDecorated(false);
    ListView1->setItemsExpandable(false);
    ListView1->setUniformRowHeights(true);
    // The focus frame is the delegate's, per cell (see TSmartRowDelegate):
    // the view's own frame across the row would tint the selected colour.
    ListView1->setAllColumnsShowFocus(false);
    ListView1->setSelectionBehavior(QAbstractItemView::SelectRows);
    ListView1->setSelectionMode(QAbstractItemView::SingleSelection);
    ListView1->setEditTriggers(QAbstractItemView::NoEditTriggers);
    ListView1->setIconSize(QSize(16, 16));
    rowDelegate_ = new TSmartRowDelegate(this, ListView1);
    ListView1->setItemDelegate(rowDelegate_);
    ListView1->setHeaderLabels({QStringLiteral("Attrubute Name"), QStringLiteral("ID"), QStringLiteral("Worst"),
                                QStringLiteral("Value"), QStringLiteral("Threshold"), QStringLiteral("Raw Data"),
                                QStringLiteral("Meaning"), QStringLiteral("Status")});
    ListView1->header()->setStretchLastSection(false);
    ListView1->header()->setSectionsMovable(false);
    const int widths[ColCount] = {240, 35, 60, 60, 70, 120, 90, 100};
    for (int c = 0; c < ColCount; ++c) ListView1->setColumnWidth(c, widths[c]);
    connect(ListView1, &QTreeWidget::itemSelectionChanged, this, [this] {
        const QList<QTreeWidgetItem*> selected = ListView1->selectedItems();
        if (selected.size() == 1) ListView1Change(selected.front());
    });
    static_cast<QVBoxLayout*>(parent->layout())->addWidget(ListView1, 1);
}

void TfrmSmart::BuildLegend(QWidget* parent) {
    Panel3 = new QWidget(parent);
    Panel3->setObjectName(QStringLiteral("Panel3"));
    Paint(Panel3, kWindowColor);
    auto* row = new QHBoxLayout(Panel3);
    row->setContentsMargins(4, 0, 4, 0);
    row->setSpacing(6);
    const std::pair<int, const char*> entries[] = {{ImgNormal, "Value Normal"},
                                                   {ImgWarning, "Warning! Backup Important Data"},
                                                   {ImgDanger, "Dangerous! Replace This HDD"}};
    for (const auto& [image, text] : entries) {
        auto* icon = new QLabel(Panel3);
        icon->setPixmap(ImageList1.value(image).pixmap(16, 16));
        row->addWidget(icon);
        row->addWidget(new QLabel(QString::fromLatin1(text), Panel3));
        row->addSpacing(24);
    }
    row->addStretch(1);
    parent->layout()->addWidget(Panel3);
}

void TfrmSmart::BuildDetails(QWidget* parent) {
    auto* panel = new QWidget(parent);
    panel->setObjectName(QStringLiteral("Panel2"));
    Paint(panel, kWindowColor);
    auto* grid = new QGridLayout(panel);
    grid->setContentsMargins(4, 0, 4, 6);
    grid->setHorizontalSpacing(8);

    auto caption = [&](const char* text) { return new QLabel(QString::fromLatin1(text), panel); };
    Label2 = new QLabel(panel);
    Label2->setObjectName(QStringLiteral("Label2"));
    Label7 = new QLabel(panel);
    Label7->setObjectName(QStringLiteral("Label7"));
    Label5 = new QLabel(QStringLiteral("No"), panel);
    Label5->setObjectName(QStringLiteral("Label5"));
    SpeedButton1 = new QToolButton(panel);
    SpeedButton1->setObjectName(QStringLiteral("SpeedButton1"));
    SpeedButton1->setAutoRaise(true);
    SpeedButton1->setText(QStringLiteral("?"));
    SpeedButton1->setFixedSize(20, 20);
    connect(SpeedButton1, &QToolButton::clicked, this, &TfrmSmart::SpeedButton1Click);
    Memo1 = new QPlainTextEdit(panel);
    Memo1->setObjectName(QStringLiteral("Memo1"));
    Memo1->setReadOnly(true);
    Memo1->setFrameShape(QFrame::NoFrame);
    QPalette pal = Memo1->palette();
    pal.setColor(QPalette::Base, FromColorRef(kWindowColor));
    Memo1->setPalette(pal);
    Memo1->setFixedHeight(QFontMetrics(Memo1->font()).lineSpacing() * 3 + 8);

    grid->addWidget(caption("Attrubite Name: "), 0, 0);
    grid->addWidget(Label2, 0, 1);
    grid->addWidget(caption("Attribute ID:"), 0, 2);
    grid->addWidget(Label7, 0, 3);
    auto* pw = new QHBoxLayout;
    pw->setSpacing(4);
    pw->addWidget(caption("PW Attribute:"));
    pw->addWidget(Label5);
    pw->addWidget(SpeedButton1);
    grid->addLayout(pw, 0, 4);
    grid->addWidget(caption("Brief Desc:"), 1, 0, Qt::AlignTop);
    grid->addWidget(Memo1, 1, 1, 1, 5);
    grid->setColumnMinimumWidth(1, 240);
    grid->setColumnMinimumWidth(3, 40);
    grid->setColumnStretch(5, 1);
    parent->layout()->addWidget(panel);
}

void TfrmSmart::showEvent(QShowEvent* event) {
    QMainWindow::showEvent(event);
    // Being shown, not being restored from the task bar.
    if (!event->spontaneous()) FormShow();
}

void TfrmSmart::FormShow() {
    win::OSVERSIONINFOA version{};
    version.dwOSVersionInfoSize = sizeof version;
    win::GetVersionExA(&version);
    // Before Windows 2000 the status bar took the system colour rather than
    // the window's.
    if (version.dwMajorVersion < 5) Paint(StatusBar1, kWindowColor);
    RefreshDriveList();
}

void TfrmSmart::RefreshDriveList() {
    SmartDrives.clear();
    ComboBox1->clear();
    for (std::uint8_t drive = 0; drive <= 3; ++drive) {
        win::HANDLE h = OpenSmartDevice(drive);
        if (h == win::INVALID_HANDLE_VALUE) continue;
        TSmartDriveRec rec{};
        if (SmartIdentify(h, rec, drive)) {
            SwapBytePairs(rec.ModelNumber.data(), static_cast<std::uint16_t>(rec.ModelNumber.size()));
            SwapBytePairs(rec.SerialNumber.data(), static_cast<std::uint16_t>(rec.SerialNumber.size()));
            SwapBytePairs(rec.FirmwareRev.data(), static_cast<std::uint16_t>(rec.FirmwareRev.size()));
            rec.DriveNumber = drive;
            SmartDrives.push_back(rec);
            ComboBox1->addItem(FieldText(rec.ModelNumber.data(), rec.ModelNumber.size()));
        }
        win::CloseHandle(h);
    }
    if (ComboBox1->count() > 0) {
        ComboBox1->setCurrentIndex(0);
        ComboBox1Change();
    }
}

void TfrmSmart::ComboBox1Change() {
    const int index = ComboBox1->currentIndex();
    if (index < 0 || static_cast<std::size_t>(index) >= SmartDrives.size()) return;
    const TSmartDriveRec rec = SmartDrives[static_cast<std::size_t>(index)];
    Label9->setText(QString::asprintf("%.2f GB", rec.UserAddressableSectors.get() / 2097152.0));
    Label11->setText(TrimmedField(rec.FirmwareRev.data(), rec.FirmwareRev.size()));
    Label13->setText(TrimmedField(rec.SerialNumber.data(), rec.SerialNumber.size()));
    StatusPanel->clear();
    const int verdict = FillSmartTable(rec.DriveNumber, ListView1);
    if (verdict < 0 || verdict > 2) {
        Label15->clear();
        return;
    }
    Label15->setText(QStringLiteral("激活的"));
    StatusPanel->setText(QStringLiteral(" S.M.A.R.T. 检测报告 ") + QString::fromUtf8(HealthText[verdict]));
}

void TfrmSmart::ListView1Change(QTreeWidgetItem* item) {
    if (!item || ListView1->selectedItems().size() != 1) return;
    bool ok = false;
    const int id = item->text(ColId).toInt(&ok, 16);
    if (!ok) return;
    Label2->setText(QString::fromStdString(GetSmartAttrName(id)));
    Label7->setText(QString::asprintf("%.2X", static_cast<unsigned>(id)));
    Memo1->setPlainText(QString::fromStdString(GetSmartAttrDescription(id)));
    Label5->setText(item->text(ColThreshold) == QStringLiteral("0") ? QStringLiteral("否") : QStringLiteral("好"));
}

QColor TfrmSmart::ListView1CustomDrawItem(int index, bool selected) const {
    if (selected) return FromColorRef(kSelectedRowColor);
    if (index % 2 == 1) return FromColorRef(kOddRowColor);
    return FromColorRef(kRowColor);
}

void TfrmSmart::RefreshDriveList1Click() { RefreshDriveList(); }

void TfrmSmart::acCloseExecute() { close(); }

void TfrmSmart::helpExecute() {
    if (const TSmartHelpOpener& open = HelpOpener()) open(this, AppDirectory + "Vantrel.chm", "Smart.htm");
}

void TfrmSmart::SpeedButton1Click() {
    win::MessageBoxA(nullptr,
                     "PW 属性 (前故障预报属性) - 显示对即将面临数据丢失的\r"
                     "故障(主要根据是否超过门限预测) 发生前的属性预测。 ",
                     "Information", win::MB_OK | win::MB_ICONINFORMATION);
}
