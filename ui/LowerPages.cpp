#include "LowerPages.h"

#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPainter>
#include <QScrollBar>
#include <QVBoxLayout>
#include <climits>
#include <cmath>

#include "Colors.h"

namespace ui {

namespace {

constexpr std::uint32_t kSectionRowColor = 0xD0FFFF;
constexpr std::uint32_t kPanelFill = 0xE3E3E3;
constexpr std::uint32_t kPanelOutline = 0xA2A2A2;
const QDate kDateZero(1899, 12, 30);

const std::array<const char*, TPropertyList::kRows> kPropertyCaptions{
    "General", "File Name", "Type", "Size", "Allocated Size", "Created Date", "Modified Date", "Accessed Date",
    "", "Attributes", "ReadOnly", "System", "Archive", "Hidden", "Compressed"};

// Days back from today of the presets "Today", "Last 7 days", "Last 30
// days" and "Last 12 months".
constexpr std::array<int, 4> kPresetDays{0, 7, 30, 365};
constexpr int kSpecify = 4;

// The grey panel of the search page, drawn with rounded corners.
class TRoundPanel : public QWidget {
public:
    using QWidget::QWidget;

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter p(this);
        p.setRenderHint(QPainter::Antialiasing);
        p.setPen(FromColorRef(kPanelOutline));
        p.setBrush(FromColorRef(kPanelFill));
        p.drawRoundedRect(QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5), 8, 8);
    }
};

void SetupReportView(QTreeWidget* list, const char* name, std::initializer_list<const char*> columns) {
    list->setObjectName(QString::fromLatin1(name));
    list->setRootIsDecorated(false);
    list->setUniformRowHeights(true);
    list->setAllColumnsShowFocus(true);
    list->setEditTriggers(QAbstractItemView::NoEditTriggers);
    list->setItemDelegate(new TGridLineDelegate(list));
    QStringList headers;
    for (const char* c : columns) headers << QString::fromLatin1(c);
    list->setHeaderLabels(headers);
    list->header()->setStretchLastSection(false);
}

QLabel* Caption(const char* text, QWidget* parent) { return new QLabel(QString::fromLatin1(text), parent); }

QCheckBox* BoldCheck(const char* text, QWidget* parent) {
    auto* box = new QCheckBox(QString::fromLatin1(text), parent);
    QFont f = box->font();
    f.setBold(true);
    box->setFont(f);
    return box;
}

QSpinBox* NumberField(QWidget* parent) {
    // Without limits: any 32-bit value, 0 at the start.
    auto* spin = new QSpinBox(parent);
    spin->setRange(INT_MIN, INT_MAX);
    spin->setValue(0);
    spin->setMinimumWidth(90);
    return spin;
}

QDateTimeEdit* DatePicker(QWidget* parent) {
    auto* picker = new QDateTimeEdit(parent);
    picker->setCalendarPopup(true);
    picker->setDisplayFormat(QStringLiteral("yyyy-MM-dd"));
    picker->setMinimumWidth(110);
    return picker;
}

}  // namespace

double DateTimeToValue(const QDateTime& dt) {
    const double days = static_cast<double>(kDateZero.daysTo(dt.date()));
    const double frac = dt.time().msecsSinceStartOfDay() / 86400000.0;
    // Before 30 December 1899 the fraction counts forward from the day's
    // value, whose sign it does not take.
    return days >= 0 ? days + frac : days - frac;
}

QDateTime ValueToDateTime(double value) {
    const double days = std::trunc(value);
    const auto ms = static_cast<int>(std::llround(std::fabs(value - days) * 86400000.0) % 86400000);
    return QDateTime(kDateZero.addDays(static_cast<qint64>(days)), QTime::fromMSecsSinceStartOfDay(ms));
}

// ---------------------------------------------------------------- properties

TPropertyList::TPropertyList(QWidget* parent) : QTreeWidget(parent) {
    SetupReportView(this, "ListView2", {"Name", "Value"});
    setSelectionMode(QAbstractItemView::NoSelection);
    setFocusPolicy(Qt::NoFocus);
    for (int row = 0; row < kRows; ++row) {
        auto* item = new QTreeWidgetItem(this, QStringList{QString::fromLatin1(kPropertyCaptions[static_cast<std::size_t>(row)]), QString()});
        const QColor bg = IsSectionRow(row) ? FromColorRef(kSectionRowColor) : QColor(Qt::white);
        item->setBackground(0, bg);
        item->setBackground(1, bg);
        item->setFlags(Qt::ItemIsEnabled);
    }
}

QItemSelectionModel::SelectionFlags TPropertyList::selectionCommand(const QModelIndex&, const QEvent*) const {
    return QItemSelectionModel::NoUpdate;
}

void TPropertyList::SetValue(int row, const QString& value) {
    if (QTreeWidgetItem* item = topLevelItem(row)) item->setText(1, value);
}

QString TPropertyList::Value(int row) const {
    const QTreeWidgetItem* item = topLevelItem(row);
    return item ? item->text(1) : QString();
}

void TPropertyList::SetCaption(int row, const QString& caption) {
    if (QTreeWidgetItem* item = topLevelItem(row)) item->setText(0, caption);
}

QString TPropertyList::Caption(int row) const {
    const QTreeWidgetItem* item = topLevelItem(row);
    return item ? item->text(0) : QString();
}

void TPropertyList::ClearValues() {
    for (int row = 0; row < kRows; ++row) SetValue(row, QString());
}

// ---------------------------------------------------------------- event log

TEventLogView::TEventLogView(TListKind kind, QWidget* parent) : QTreeWidget(parent), kind_(kind) {
    SetupReportView(this, "ListView3", {"Event", "Time"});
    setSelectionMode(QAbstractItemView::SingleSelection);
    setSelectionBehavior(QAbstractItemView::SelectRows);
    // The newest row stays in view: whenever the rows outgrow the page (a row
    // added, also while another page is shown, or the page made smaller) the
    // log scrolls to its end, unless the user has scrolled up to read older
    // rows; scrolling back to the end follows again.
    QScrollBar* bar = verticalScrollBar();
    connect(bar, &QScrollBar::valueChanged, this, [this, bar](int value) { following_ = value >= bar->maximum(); });
    connect(bar, &QScrollBar::rangeChanged, this, [this, bar](int, int max) {
        if (following_) bar->setValue(max);
    });
}

TEventLogView::TPicture TEventLogView::Picture(int imageIndex) const {
    switch (imageIndex) {
    case 1: return kind_ == TListKind::Standard ? TPicture::Warning : TPicture::Error;
    case 2: return kind_ == TListKind::Standard ? TPicture::Error : TPicture::Warning;
    default: return TPicture::Information;
    }
}

TEventLogView::TPicture TEventLogView::RowPicture(int row) const {
    const QTreeWidgetItem* item = topLevelItem(row);
    return item ? static_cast<TPicture>(item->data(0, Qt::UserRole).toInt()) : TPicture::Information;
}

void TEventLogView::AddRow(const std::string& caption, int imageIndex, const std::string& subItem) {
    static const std::array<QIcon, 3> icons{QIcon::fromTheme(QStringLiteral("dialog-information")),
                                            QIcon::fromTheme(QStringLiteral("dialog-warning")),
                                            QIcon::fromTheme(QStringLiteral("dialog-error"))};
    const TPicture picture = Picture(imageIndex);
    auto* item = new QTreeWidgetItem(this, QStringList{QString::fromStdString(caption), QString::fromStdString(subItem)});
    item->setIcon(0, icons[static_cast<std::size_t>(picture)]);
    item->setData(0, Qt::UserRole, static_cast<int>(picture));
    item->setData(0, Qt::UserRole + 1, imageIndex);  // the index as logged
}

// ---------------------------------------------------------------- search page

TSearchPage::TSearchPage(TListKind kind, QWidget* parent) : QWidget(parent) {
    setObjectName(QStringLiteral("SearchPage"));
    Today = [] { return QDate::currentDate(); };
    auto* outer = new QVBoxLayout(this);
    outer->setContentsMargins(4, 4, 4, 4);
    Panel = new TRoundPanel(this);
    Panel->setObjectName(QStringLiteral("SearchPanel"));
    outer->addWidget(Panel, 1);

    auto* grid = new QGridLayout(Panel);
    grid->setContentsMargins(12, 10, 12, 10);
    grid->setHorizontalSpacing(8);
    grid->setVerticalSpacing(6);

    CheckBox2 = BoldCheck("By Name", Panel);
    CheckBox2->setObjectName(QStringLiteral("CheckBox2"));
    Edit1 = new QLineEdit(Panel);
    Edit1->setObjectName(QStringLiteral("Edit1"));
    Edit1->setToolTip(QStringLiteral("Separate names with ','"));
    CheckBox1 = new QCheckBox(QStringLiteral("Case sensitive"), Panel);
    CheckBox1->setObjectName(QStringLiteral("CheckBox1"));
    auto* nameRow = new QHBoxLayout;
    nameRow->addWidget(Edit1, 1);
    nameRow->addWidget(CheckBox1);
    grid->addWidget(CheckBox2, 0, 0);
    grid->addLayout(nameRow, 0, 1);

    CheckBox3 = BoldCheck("By Date", Panel);
    CheckBox3->setObjectName(QStringLiteral("CheckBox3"));
    ComboBox1 = new QComboBox(Panel);
    ComboBox1->setObjectName(QStringLiteral("ComboBox1"));
    ComboBox1->addItems({QStringLiteral("Created"), QStringLiteral("Modified"), QStringLiteral("Accessed")});
    ComboBox3 = new QComboBox(Panel);
    ComboBox3->setObjectName(QStringLiteral("ComboBox3"));
    ComboBox3->addItems({QStringLiteral("Today"), QStringLiteral("Last 7 days"), QStringLiteral("Last 30 days"),
                         QStringLiteral("Last 12 months"), QStringLiteral("Specify")});
    DateTimePicker1 = DatePicker(Panel);
    DateTimePicker1->setObjectName(QStringLiteral("DateTimePicker1"));
    DateTimePicker2 = DatePicker(Panel);
    DateTimePicker2->setObjectName(QStringLiteral("DateTimePicker2"));
    auto* dateRow = new QHBoxLayout;
    dateRow->addWidget(Caption("Type", Panel));
    dateRow->addWidget(ComboBox1);
    dateRow->addSpacing(8);
    dateRow->addWidget(Caption("Date", Panel));
    dateRow->addWidget(ComboBox3);
    dateRow->addSpacing(8);
    dateRow->addWidget(Caption("From", Panel));
    dateRow->addWidget(DateTimePicker1);
    dateRow->addSpacing(6);
    dateRow->addWidget(Caption("To", Panel));
    dateRow->addWidget(DateTimePicker2);
    dateRow->addStretch(1);
    grid->addWidget(CheckBox3, 1, 0);
    grid->addLayout(dateRow, 1, 1);

    CheckBox4 = BoldCheck("By Size", Panel);
    CheckBox4->setObjectName(QStringLiteral("CheckBox4"));
    SpinEdit1 = NumberField(Panel);
    SpinEdit1->setObjectName(QStringLiteral("SpinEdit1"));
    SpinEdit2 = NumberField(Panel);
    SpinEdit2->setObjectName(QStringLiteral("SpinEdit2"));
    auto* sizeRow = new QHBoxLayout;
    sizeRow->addWidget(Caption("From", Panel));
    sizeRow->addWidget(SpinEdit1);
    sizeRow->addSpacing(6);
    sizeRow->addWidget(Caption("To", Panel));
    sizeRow->addWidget(SpinEdit2);
    sizeRow->addWidget(Caption("KB", Panel));
    sizeRow->addStretch(1);
    grid->addWidget(CheckBox4, 2, 0);
    grid->addLayout(sizeRow, 2, 1);

    RadioGroup1 = new QGroupBox(QStringLiteral(" Look in "), Panel);
    RadioGroup1->setObjectName(QStringLiteral("RadioGroup1"));
    auto* radios = new QVBoxLayout(RadioGroup1);
    const bool standard = kind == TListKind::Standard;
    RadioItems = {new QRadioButton(standard ? QStringLiteral("Deleted Files") : QStringLiteral("Current Folder"), RadioGroup1),
                  new QRadioButton(standard ? QStringLiteral("All Files") : QStringLiteral("Scan Results"), RadioGroup1)};
    for (std::size_t i = 0; i < RadioItems.size(); ++i) {
        RadioItems[i]->setObjectName(QStringLiteral("RadioGroup1Item%1").arg(i));
        radios->addWidget(RadioItems[i]);
    }
    RadioItems[0]->setChecked(true);
    Button1 = new QPushButton(QStringLiteral("Find"), Panel);
    Button1->setObjectName(QStringLiteral("Button1"));
    Button1->setMinimumWidth(90);
    auto* right = new QVBoxLayout;
    right->addWidget(RadioGroup1);
    right->addWidget(Button1, 0, Qt::AlignRight);
    right->addStretch(1);
    grid->addLayout(right, 0, 2, 3, 1);
    grid->setColumnStretch(1, 1);
    grid->setRowStretch(3, 1);

    connect(ComboBox3, &QComboBox::currentIndexChanged, this, [this] { ComboBox3Change(); });
    ComboBox1->setCurrentIndex(0);
    ComboBox3->setCurrentIndex(0);
    ComboBox3Change();
}

int TSearchPage::RadioGroupIndex() const {
    for (std::size_t i = 0; i < RadioItems.size(); ++i)
        if (RadioItems[i]->isChecked()) return static_cast<int>(i);
    return -1;
}

void TSearchPage::SetRadioGroupIndex(int index) {
    if (index >= 0 && index < static_cast<int>(RadioItems.size())) RadioItems[static_cast<std::size_t>(index)]->setChecked(true);
}

void TSearchPage::ComboBox3Change() {
    const int preset = ComboBox3->currentIndex();
    if (preset == kSpecify) {
        DateTimePicker1->setEnabled(true);
        DateTimePicker2->setEnabled(true);
        return;
    }
    DateTimePicker1->setEnabled(false);
    DateTimePicker2->setEnabled(false);
    const QDate today = Today();
    DateTimePicker2->setDateTime(QDateTime(today, QTime(0, 0)));
    if (preset >= 0 && preset < static_cast<int>(kPresetDays.size()))
        DateTimePicker1->setDateTime(QDateTime(today.addDays(-kPresetDays[static_cast<std::size_t>(preset)]), QTime(0, 0)));
}

void TSearchPage::Reset() {
    ComboBox1->setCurrentIndex(0);
    {
        // The preset runs once below, also when the item does not change.
        const QSignalBlocker block(ComboBox3);
        ComboBox3->setCurrentIndex(0);
    }
    ComboBox3Change();
}

double TSearchPage::DateFromValue() const { return DateTimeToValue(DateTimePicker1->dateTime()); }
double TSearchPage::DateToValue() const { return DateTimeToValue(DateTimePicker2->dateTime()); }

void TSearchPage::SearchDates(double& From, double& To) const {
    if (!CheckBox3->isChecked()) {
        From = 0;
        To = 0;
        return;
    }
    const double a = DateFromValue(), b = DateToValue();
    From = std::trunc(std::min(a, b));
    To = std::ceil(std::max(a, b));
}

void TSearchPage::SearchSizes(std::int64_t Unit, std::int64_t& From, std::int64_t& To) const {
    if (!CheckBox4->isChecked()) {
        From = -1;
        To = -1;
        return;
    }
    const std::int64_t a = SpinEdit1->value(), b = SpinEdit2->value();
    From = std::min(a, b) * Unit;
    To = std::max(a, b) * Unit;
}

}  // namespace ui
