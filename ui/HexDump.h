// A scrollable hex and character dump of a memory block that belongs to the
// caller. Its own painting, layout and scrolling: one line per BytesPerLine
// bytes (1 to 16, as many as the width allows), an offset column, the hex
// column and the character column, below a header row of column numbers.
#pragma once

#include <QAbstractScrollArea>
#include <QColor>
#include <QString>
#include <array>
#include <cstdint>
#include <vector>

class THexDump : public QAbstractScrollArea {
    Q_OBJECT
public:
    enum TBorderStyle { bsNone, bsSingle };
    // The scroll-bar requests of the Windows vertical scroll message.
    enum TScrollCode { sbLineUp, sbLineDown, sbPageUp, sbPageDown, sbThumbPosition, sbThumbTrack,
                       sbTop, sbBottom, sbEndScroll };

    explicit THexDump(QWidget* owner = nullptr);
    ~THexDump() override;

    void SetData(const void* p);
    void SetDataSize(std::int32_t n);
    void SetTopLine(std::int32_t n);
    void SetCursorLine(std::int32_t n);
    bool ScrollToCursor();
    void WMVScroll(TScrollCode code, std::int32_t pos = 0);

    void SetBorder(TBorderStyle b);
    TBorderStyle Border() const { return border_; }
    void SetShowAddress(bool on);
    bool ShowAddress() const { return showAddress_; }
    void SetShowCharacters(bool on);
    bool ShowCharacters() const { return showCharacters_; }
    void SetColors(int index, const QColor& c);
    QColor GetColors(int index) const { return Colors[index]; }
    void SetAddressColor(const QColor& c) { SetColors(0, c); }
    void SetHexDataColor(const QColor& c) { SetColors(1, c); }
    void SetAnsiCharColor(const QColor& c) { SetColors(2, c); }
    void SetColor(const QColor& c);
    QColor Color() const { return color_; }

    QString GetAddressText(std::int32_t line) const;
    // The hex text of a line: its bytes' digit pairs written into HexText.
    const std::array<QChar, 48>& GetHexText(std::int32_t line);
    const std::uint8_t* GetCharText(std::int32_t line) const;

    bool HasData = false;
    const std::uint8_t* DataPtr = nullptr;
    std::int32_t DataSize = 0;
    std::int32_t TopLine = 0;
    std::int32_t CursorLine = 0;
    std::int32_t VisibleLines = 0;
    std::int32_t LineCount = 0;
    std::int32_t BytesPerLine = 1;
    std::int32_t LineHeight = 0;
    std::int32_t CharWidth = 0;
    std::array<QColor, 3> Colors{QColor(Qt::black), QColor(Qt::black), QColor(Qt::black)};
    // Two digits and a tab per byte; the tabs are written once, at creation.
    std::array<QChar, 48> HexText;

protected:
    void paintEvent(QPaintEvent* e) override;
    void resizeEvent(QResizeEvent* e) override;
    void changeEvent(QEvent* e) override;
    void keyPressEvent(QKeyEvent* e) override;
    void mousePressEvent(QMouseEvent* e) override;
    void wheelEvent(QWheelEvent* e) override;
    void scrollContentsBy(int dx, int dy) override;

private:
    void CalcLayout();
    void UpdateScrollRange();
    void FormatHexBytes(std::int32_t line);
    void InvalidateCursorStrip(std::int32_t line);
    std::int32_t ClampLine(std::int32_t n) const;
    int ClientWidth() const;
    int ClientHeight() const;

    TBorderStyle border_ = bsSingle;
    bool showAddress_ = true;
    bool showCharacters_ = true;
    QColor color_{Qt::white};
    bool settingRange_ = false;
};

// The character column of a line's n bytes, one cell per byte: a whole
// multi-byte UTF-8 character (the program's text encoding) inside the line
// in the cell of its first byte, its other cells empty; every other byte the
// character of its value (Latin-1), control bytes too.
std::vector<QString> CharColumnCells(const std::uint8_t* bytes, int n);

// The hex view of a window: a THexDump owned by and filling the parent, in
// the fixed font, with the character column shown.
THexDump* CreateHexView(QWidget* parent);
