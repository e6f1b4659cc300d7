// The file list of both recovery windows: one row per found entry, each row
// pointing to the engine's record of that entry (the rows own nothing), with
// check boxes, multi-selection, sorting by a header click and the shared row
// colours; and the texts the two windows show around it (sizes, capacities,
// dates, type names, item counts).
//
// The standard and the advanced window differ in their size suffixes, their
// columns after "Type", the layout of their sort parameter and their sort
// state; each keeps its own entry points (namespaces QuickMain and AdvMain)
// over one implementation and a small table of the differences.
#pragma once

#include <QAbstractTableModel>
#include <QIcon>
#include <QList>
#include <QStyledItemDelegate>
#include <QTreeView>
#include <array>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

struct TMidEntry;
struct TPhysMidEntry;
struct tntfsfilerecord;
class TStatusBarEx;

namespace ui {

enum class TListKind { Standard, Advanced };

// What a row's record is: a FAT entry of the standard engine, a FAT entry of
// the advanced engine, or an NTFS record (either engine).
enum class TRowRecord : std::uint8_t { None, Fat, PhysFat, Ntfs };

constexpr int kFileColumns = 5;

struct TFileRow {
    TRowRecord Kind = TRowRecord::None;
    const void* Record = nullptr;  // the engine's; never freed here
    int ImageIndex = 0;
    int ShellIcon = -1;            // the shell's icon index of a file row; -1 for none
    bool Checked = false;
    std::array<QString, kFileColumns> Texts;  // caption, then the sub-items in column order
};

// Compare routine of a list: two rows and a sort parameter; negative when A
// goes first.
using TCompareFn = int (*)(const TFileRow& A, const TFileRow& B, std::int32_t ParamSort);

class TFileListModel : public QAbstractTableModel {
    Q_OBJECT
public:
    TFileListModel(TListKind kind, const std::vector<const char*>& columns, QObject* parent = nullptr);

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    bool setData(const QModelIndex& index, const QVariant& value, int role) override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

    TListKind Kind() const { return kind_; }
    void BeginUpdate();
    void EndUpdate();
    void Clear();
    int Add(TFileRow row);
    int Count() const { return static_cast<int>(rows_.size()); }
    const TFileRow& Row(int i) const { return rows_.at(static_cast<std::size_t>(i)); }
    void SetText(int i, int column, const QString& text);
    void SetChecked(int i, bool on);
    void SetAllChecked(bool on);
    void SetColumnCaption(int column, const QString& caption);
    QString ColumnCaption(int column) const;
    // Header pictures: the list given to SetHeaderImages and the picture of
    // each column (-1 none).
    void SetHeaderImages(const QList<QIcon>* images);
    void SetHeaderImage(int column, int image);
    int HeaderImage(int column) const;
    // Sorts the rows (stable: rows that compare equal keep their order);
    // selection and current row follow their rows.
    void Sort(TCompareFn compare, std::int32_t param);
    // While this says so, a user's check-box click changes nothing (the
    // window is scanning or recovering).
    std::function<bool()> ChecksLocked;

private:
    QIcon RowIcon(const TFileRow& row) const;

    TListKind kind_;
    std::vector<TFileRow> rows_;
    std::array<QString, kFileColumns> captions_;
    std::array<int, kFileColumns> headerImages_{-1, -1, -1, -1, -1};
    QList<QIcon> headerIconList_;
    bool haveHeaderImages_ = false;
    int updating_ = 0;
};

class TFileListView : public QTreeView {
    Q_OBJECT
public:
    TFileListView(TListKind kind, const std::vector<const char*>& columns, QWidget* parent = nullptr);

    TListKind Kind() const { return model_->Kind(); }
    TFileListModel* Model() const { return model_; }

    // Filling. Inside an update bracket the view is told once, at its end.
    void BeginUpdate() { model_->BeginUpdate(); }
    void EndUpdate() { model_->EndUpdate(); }
    void Clear() { model_->Clear(); }
    int AddRow(const TMidEntry* entry, int image, std::array<QString, kFileColumns> texts, int shellIcon = -1);
    int AddRow(const TPhysMidEntry* entry, int image, std::array<QString, kFileColumns> texts, int shellIcon = -1);
    int AddRow(const tntfsfilerecord* record, int image, std::array<QString, kFileColumns> texts, int shellIcon = -1);

    int Count() const { return model_->Count(); }
    const TFileRow& Row(int i) const { return model_->Row(i); }
    const void* Data(int i) const { return Row(i).Record; }
    // The row's record when it is of that kind, else nullptr.
    const TMidEntry* MidEntry(int i) const;
    const TPhysMidEntry* PhysMidEntry(int i) const;
    const tntfsfilerecord* NtfsRecord(int i) const;
    int ImageIndex(int i) const { return Row(i).ImageIndex; }
    QString Text(int i, int column) const { return Row(i).Texts.at(static_cast<std::size_t>(column)); }
    void SetText(int i, int column, const QString& text) { model_->SetText(i, column, text); }
    void SetColumnCaption(int column, const QString& caption) { model_->SetColumnCaption(column, caption); }
    QString ColumnCaption(int column) const { return model_->ColumnCaption(column); }

    bool Checked(int i) const { return Row(i).Checked; }
    void SetChecked(int i, bool on) { model_->SetChecked(i, on); }
    std::vector<int> CheckedRows() const;
    // The popup's check commands: the selected rows, or every row.
    void CheckSelected(bool on);
    void CheckAll(bool on);

    int SelCount() const;
    int Selected() const;  // the first selected row, -1 for none
    std::vector<int> SelectedRows() const;
    bool IsSelected(int i) const;
    void SetSelected(int i, bool on);

    void CustomSort(TCompareFn compare, std::int32_t paramSort);
    // The sort of a header click: the window's sort state, arrows and sort.
    void ColumnClick(int column);
    // The window's handler of a click on a column header; without one the
    // click sorts at once.
    std::function<void(int)> OnColumnClick;
    // While this says so (the window is scanning or recovering), the rows
    // keep their check marks: check-box clicks and the check commands do
    // nothing.
    void SetRowsLocked(std::function<bool()> locked) { model_->ChecksLocked = std::move(locked); }
    bool RowsLocked() const { return model_->ChecksLocked && model_->ChecksLocked(); }
    // Advanced window: the record kind of the shown view for the sort
    // parameter (the partition's FAT type 0 to 2, or 3 for NTFS).
    std::function<int()> SortRecordKind;

private:
    int Add(TRowRecord kind, const void* record, int image, std::array<QString, kFileColumns>&& texts, int shellIcon);

    TFileListModel* model_;
};

// The list colours every list and tree of the program shares.
QColor ListRowBackground(bool selected, int row);

// The report views' grid lines: a light rule below and right of each cell,
// drawn after the cell's own painting. With flatSelection, a selected cell is
// filled flat with the palette's highlight colour and drawn otherwise as an
// unselected one (no style gradient, outline or focus frame), whether the
// list has the focus or not.
class TGridLineDelegate : public QStyledItemDelegate {
public:
    explicit TGridLineDelegate(QObject* parent, bool flatSelection = false)
        : QStyledItemDelegate(parent), flatSelection_(flatSelection) {}
    void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override;

private:
    bool flatSelection_;
};

// Tree nodes: a selected node on light yellow with blue bold text; with
// plainFirstNode set, the tree's first node stays white with black text when
// selected.
class TTreeNodeDelegate : public QStyledItemDelegate {
public:
    TTreeNodeDelegate(bool plainFirstNode, QObject* parent);
    void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override;
    // Room for the bold text of a selected node.
    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override;

private:
    bool plainFirstNode_;
};

// The pictures of deleted entries (a red cross) and of folders whose
// contents are lost (an orange exclamation mark): the base picture with the
// mark in its lower right corner.
QIcon DeletedPicture(const QIcon& base);
QIcon LostPicture(const QIcon& base);

// The two 7 x 7 sort arrows: [0] pointing up (ascending), [1] down.
const QList<QIcon>& SortArrowImages();

// A date-time value (days since 30 December 1899) as "mm/dd/yy hh:nn AM/PM";
// 0 gives 12/30/99 12:00 AM.
QString FormatListDate(double dateTime);

// The shell's type name of a file name (normal-file attribute), looked up
// once per extension; iconIndex receives the shell's icon index.
QString ShellTypeName(const std::string& fileName, int* iconIndex = nullptr);

namespace QuickMain {
// Column index + 1 of the last header click: positive while sorted in
// descending order, negative while ascending. Kept for the whole run.
inline std::int32_t SortColumn = 0;
// The file system of the engine's current drive (0 to 2 FAT, 3 NTFS, other
// unknown), read when rows are compared; the window sets it.
inline std::function<int()> CurrentFsType;
QString FormatSizeText(std::int64_t S);
int CompareListItems(const TFileRow& A, const TFileRow& B, std::int32_t ParamSort);
bool SetHeaderImages(TFileListView* ListView, const QList<QIcon>* Images);
void SetColumnSortArrow(TFileListView* ListView, int Column, int ImageIndex, bool Right = false);
QString AttrFlagText(bool set);
}  // namespace QuickMain

namespace AdvMain {
inline std::int32_t SortColumn = 0;
QString FormatSizeText(std::int64_t S);
QString FormatCapacity(std::int64_t Sectors);
int CompareListItems(const TFileRow& A, const TFileRow& B, std::int32_t ParamSort);
bool SetHeaderImages(TFileListView* ListView, const QList<QIcon>* Images);
void SetColumnSortArrow(TFileListView* ListView, int Column, int ImageIndex, bool Right = false);
// Files and folders of the list into panel 2 of the status bar.
void UpdateItemCounts(TFileListView* ListView, TStatusBarEx* StatusBar);
QString ItemCountsText(const TFileListView* ListView);
QString AttrFlagText(bool set);
}  // namespace AdvMain

}  // namespace ui
