// The pages below the file list of both recovery windows: the property list
// of the selected row, the search page and the event log. The hex view page
// holds the window's THexDump (HexDump.h).
#pragma once

#include <QCheckBox>
#include <QComboBox>
#include <QDateTimeEdit>
#include <QGroupBox>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QTreeWidget>
#include <array>
#include <cstdint>
#include <functional>

#include "FileList.h"
#include "Reporting.h"

namespace ui {

// The property list: columns "Name" and "Value", 15 fixed rows; the window
// writes the values. No row can be selected or focused.
class TPropertyList : public QTreeWidget {
    Q_OBJECT
public:
    enum : int {
        rowGeneral = 0,
        rowFileName = 1,
        rowType = 2,
        rowSize = 3,
        rowAllocated = 4,
        rowCreated = 5,
        rowModified = 6,
        rowAccessed = 7,
        rowSeparator = 8,
        rowAttributes = 9,
        rowReadOnly = 10,
        rowSystem = 11,
        rowArchive = 12,
        rowHidden = 13,
        rowCompressed = 14,
        kRows = 15
    };
    explicit TPropertyList(QWidget* parent = nullptr);

    void SetValue(int row, const QString& value);
    QString Value(int row) const;
    void SetCaption(int row, const QString& caption);
    QString Caption(int row) const;
    void ClearValues();
    // The section rows "General" and "Attributes" stand out.
    static bool IsSectionRow(int row) { return row == rowGeneral || row == rowAttributes; }

protected:
    QItemSelectionModel::SelectionFlags selectionCommand(const QModelIndex& index,
                                                         const QEvent* event = nullptr) const override;
};

// The event log: columns "Event" and "Time", one row per AddLogEvent. The
// picture index means information, then warning and error in the standard
// window's order or error and warning in the advanced window's.
class TEventLogView : public QTreeWidget, public platform::IEventLog {
    Q_OBJECT
public:
    enum class TPicture { Information, Warning, Error };
    TEventLogView(TListKind kind, QWidget* parent = nullptr);

    void AddRow(const std::string& caption, int imageIndex, const std::string& subItem) override;
    // What picture index I shows in this window.
    TPicture Picture(int imageIndex) const;
    TPicture RowPicture(int row) const;
    int Count() const { return topLevelItemCount(); }
    void Clear() { clear(); }

private:
    TListKind kind_;
    bool following_ = true;  // the view shows the last row
};

// The search page: name, date and size conditions on a rounded grey panel,
// the choice where to look and the Find button.
class TSearchPage : public QWidget {
    Q_OBJECT
public:
    TSearchPage(TListKind kind, QWidget* parent = nullptr);

    QCheckBox* CheckBox2;  // "By Name"
    QLineEdit* Edit1;
    QCheckBox* CheckBox1;  // "Case sensitive"
    QCheckBox* CheckBox3;  // "By Date"
    QComboBox* ComboBox1;  // date kind: "Created", "Modified", "Accessed"
    QComboBox* ComboBox3;  // preset: "Today" ... "Specify"
    QDateTimeEdit* DateTimePicker1;  // From
    QDateTimeEdit* DateTimePicker2;  // To
    QCheckBox* CheckBox4;  // "By Size"
    QSpinBox* SpinEdit1;   // From, KB
    QSpinBox* SpinEdit2;   // To, KB
    QGroupBox* RadioGroup1;  // " Look in "
    std::array<QRadioButton*, 2> RadioItems;
    QPushButton* Button1;  // "Find"

    int RadioGroupIndex() const;
    void SetRadioGroupIndex(int index);
    // The date preset: "Specify" enables both pickers; any other item
    // disables them and sets To to today and From to the preset's start.
    void ComboBox3Change();
    // Opening the page: date kind "Created", preset "Today", and the preset.
    void Reset();
    // The pickers as date-time values (days since 30 December 1899).
    double DateFromValue() const;
    double DateToValue() const;
    // The search's date range: the earlier picker's day from its start to
    // the later picker's day at its end; 0 and 0 while "By Date" is off.
    void SearchDates(double& From, double& To) const;
    // The search's size range in bytes, Unit bytes to the KB: the smaller and
    // the larger field; -1 and -1 while "By Size" is off.
    void SearchSizes(std::int64_t Unit, std::int64_t& From, std::int64_t& To) const;
    // Today's date; tests set their own.
    std::function<QDate()> Today;
    QWidget* Panel;  // the rounded grey panel under the controls
};

// A date-time value (days since 30 December 1899, fraction the time of day)
// of a local date and time, and back.
double DateTimeToValue(const QDateTime& dt);
QDateTime ValueToDateTime(double value);

}  // namespace ui
