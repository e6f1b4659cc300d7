#include "HexDump.h"

#include <QCoreApplication>
#include <QFontDatabase>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPaintEvent>
#include <QPainter>
#include <QScrollBar>
#include <QTextOption>
#include <QVBoxLayout>
#include <QWheelEvent>
#include <algorithm>

namespace {

constexpr char kDigits[] = "0123456789ABCDEF";
const QColor kRuleColor(0x80, 0x80, 0x80);
const QString kHeader = QStringLiteral("00 01 02 03 04 05 06 07 08 09 0A 0B 0C 0D 0E 0F");

// The length of the well-formed UTF-8 sequence of two to four bytes that
// starts the n bytes, with its code point; 0 when they start none. Overlong
// forms, surrogates and values past U+10FFFF are not characters.
int Utf8Sequence(const std::uint8_t* p, int n, char32_t& cp) {
    const std::uint8_t b = p[0];
    int len = 0;
    std::uint8_t lo = 0x80, hi = 0xBF;  // the range of the second byte
    if (b >= 0xC2 && b <= 0xDF) len = 2;
    else if (b >= 0xE0 && b <= 0xEF) {
        len = 3;
        if (b == 0xE0) lo = 0xA0;
        if (b == 0xED) hi = 0x9F;
    } else if (b >= 0xF0 && b <= 0xF4) {
        len = 4;
        if (b == 0xF0) lo = 0x90;
        if (b == 0xF4) hi = 0x8F;
    }
    if (len == 0 || len > n || p[1] < lo || p[1] > hi) return 0;
    cp = b & (0x7F >> len);
    for (int i = 1; i < len; ++i) {
        if ((p[i] & 0xC0) != 0x80) return 0;
        cp = (cp << 6) | (p[i] & 0x3F);
    }
    return len;
}

}  // namespace

std::vector<QString> CharColumnCells(const std::uint8_t* bytes, int n) {
    std::vector<QString> cells(static_cast<std::size_t>(std::max(0, n)));
    for (int k = 0; k < n;) {
        char32_t cp = 0;
        const int len = Utf8Sequence(bytes + k, n - k, cp);
        if (len > 0) {
            cells[static_cast<std::size_t>(k)] = QString::fromUcs4(&cp, 1);
            k += len;
        } else {
            cells[static_cast<std::size_t>(k)] = QChar(static_cast<char16_t>(bytes[k]));
            ++k;
        }
    }
    return cells;
}

THexDump::THexDump(QWidget* owner) : QAbstractScrollArea(owner) {
    HexText.fill(QChar(u'\t'));
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setFocusPolicy(Qt::ClickFocus);  // not a tab stop; a click takes the focus
    setFrameShape(QFrame::Box);
    setFrameShadow(QFrame::Plain);
    viewport()->setAutoFillBackground(false);
    resize(300, 200);
    QScrollBar* sb = verticalScrollBar();
    sb->setSingleStep(1);
    sb->setRange(0, 0);
    // The bar's own top and bottom requests leave the view where it is.
    connect(sb, &QAbstractSlider::actionTriggered, this, [this, sb](int action) {
        if (action == QAbstractSlider::SliderToMinimum || action == QAbstractSlider::SliderToMaximum)
            sb->setSliderPosition(TopLine);
    });
    connect(sb, &QAbstractSlider::valueChanged, this, [this](int v) {
        if (!settingRange_ && v != TopLine) {
            TopLine = ClampLine(v);
            viewport()->update();
        }
    });
}

THexDump::~THexDump() = default;

int THexDump::ClientWidth() const { return viewport()->width(); }
int THexDump::ClientHeight() const { return viewport()->height(); }

std::int32_t THexDump::ClampLine(std::int32_t n) const {
    return std::max(0, std::min(n, LineCount - 1));
}

void THexDump::SetData(const void* p) {
    DataPtr = static_cast<const std::uint8_t*>(p);
    HasData = p != nullptr;
    viewport()->update();
}

void THexDump::SetDataSize(std::int32_t n) {
    DataSize = std::max<std::int32_t>(0, n);
    CalcLayout();
    viewport()->update();
    UpdateScrollRange();
}

void THexDump::SetBorder(TBorderStyle b) {
    if (b == border_) return;
    border_ = b;
    setFrameShape(b == bsSingle ? QFrame::Box : QFrame::NoFrame);
}

void THexDump::SetShowAddress(bool on) {
    if (on == showAddress_) return;
    showAddress_ = on;
    viewport()->update();
}

void THexDump::SetShowCharacters(bool on) {
    if (on == showCharacters_) return;
    showCharacters_ = on;
    viewport()->update();
}

void THexDump::SetColors(int index, const QColor& c) {
    if (index < 0 || index > 2 || Colors[index] == c) return;
    Colors[index] = c;
    viewport()->update();
}

void THexDump::SetColor(const QColor& c) {
    color_ = c;
    viewport()->update();
}

void THexDump::CalcLayout() {
    if (LineHeight < 1 || CharWidth < 1) return;
    VisibleLines = (ClientHeight() - 16) / LineHeight + 1;
    int chars = ClientWidth() / CharWidth;
    if (showAddress_) chars -= 10;
    BytesPerLine = std::clamp(chars / (showCharacters_ ? 4 : 3), 1, 16);
    LineCount = DataSize / BytesPerLine + (DataSize % BytesPerLine ? 1 : 0);
}

void THexDump::UpdateScrollRange() {
    QScrollBar* sb = verticalScrollBar();
    // A smaller range moves the bar's thumb, not TopLine: the view keeps its
    // line until it is scrolled.
    settingRange_ = true;
    sb->setRange(0, std::max(0, LineCount - 1));
    settingRange_ = false;
    sb->setPageStep(std::max(1, VisibleLines - 1));
}

void THexDump::changeEvent(QEvent* e) {
    QAbstractScrollArea::changeEvent(e);
    if (e->type() != QEvent::FontChange) return;
    const QFontMetrics fm(font());
    LineHeight = fm.height() + 2;
    CharWidth = fm.horizontalAdvance(QLatin1Char('D'));
    CalcLayout();
    UpdateScrollRange();
    viewport()->update();
}

void THexDump::resizeEvent(QResizeEvent* e) {
    QAbstractScrollArea::resizeEvent(e);
    CalcLayout();
    UpdateScrollRange();
}

void THexDump::scrollContentsBy(int, int) {
    // The view follows TopLine, which the scroll bar's value handler sets.
}

QString THexDump::GetAddressText(std::int32_t line) const {
    return QString::number(static_cast<qint64>(line) * BytesPerLine, 16).toUpper().rightJustified(4, QLatin1Char('0'));
}

const std::uint8_t* THexDump::GetCharText(std::int32_t line) const {
    return DataPtr + static_cast<std::ptrdiff_t>(line) * BytesPerLine;
}

void THexDump::FormatHexBytes(std::int32_t line) {
    const std::int64_t first = static_cast<std::int64_t>(line) * BytesPerLine;
    for (int k = 0; k < BytesPerLine && first + k < DataSize; ++k) {
        const std::uint8_t b = DataPtr[first + k];
        HexText[3 * k] = QLatin1Char(kDigits[b >> 4]);
        HexText[3 * k + 1] = QLatin1Char(kDigits[b & 15]);
    }
}

const std::array<QChar, 48>& THexDump::GetHexText(std::int32_t line) {
    FormatHexBytes(line);
    return HexText;
}

void THexDump::paintEvent(QPaintEvent*) {
    QPainter p(viewport());
    const int w = ClientWidth(), h = ClientHeight();
    p.fillRect(QRect(0, 0, w, h), color_);
    if (LineHeight < 1) return;
    p.setFont(font());
    const QFontMetrics fm(font());
    const int ascent = fm.ascent();
    const int x0 = showAddress_ ? 6 * CharWidth : 0;
    const int lh = LineHeight;

    // Header row: all sixteen column numbers, whatever the line holds.
    p.save();
    p.setClipRect(QRect(0, 0, w, lh));
    p.setPen(Colors[0]);
    p.drawText(1 + x0, 4 + ascent, kHeader);
    p.restore();

    p.setPen(kRuleColor);
    p.drawLine(0, lh + 4, w - 2, lh + 4);
    p.drawLine(0, lh + 6, w - 2, lh + 6);

    QTextOption hexOption;
    hexOption.setTabStopDistance(3.0 * CharWidth);
    hexOption.setWrapMode(QTextOption::NoWrap);
    const int charX = BytesPerLine * 3 * CharWidth + x0 + 16;
    for (int i = 0; i < VisibleLines; ++i) {
        const int y = 2 * lh + i * lh;
        const std::int32_t line = TopLine + i;
        if (!HasData || line < 0 || line >= LineCount) continue;  // cleared with the colour above
        if (showAddress_) {
            p.save();
            p.setClipRect(QRect(1, y, x0 - 1, lh));
            p.setPen(Colors[0]);
            p.drawText(1, y + ascent, GetAddressText(line).left(4));
            p.restore();
        }
        int n = BytesPerLine;
        if (line == LineCount - 1 && DataSize % BytesPerLine != 0) n = DataSize % BytesPerLine;
        FormatHexBytes(line);
        p.setPen(Colors[1]);
        p.drawText(QRectF(1 + x0, y, w, lh), QString::fromRawData(HexText.data(), 3 * n - 1), hexOption);
        if (showCharacters_) {
            p.setPen(Colors[2]);
            // One cell per byte keeps the column aligned: a UTF-8 character
            // (the greeting's Chinese text) is drawn in the cell of its first
            // byte, over the empty cells of the others. Each is clipped to
            // its bytes' cells and its row: a glyph the fixed font lacks
            // comes from a fallback font, which may draw it wider or taller
            // than those, and it must not cover its neighbours.
            const std::vector<QString> cells = CharColumnCells(GetCharText(line), n);
            for (int k = 0; k < n;) {
                int len = 1;
                while (k + len < n && cells[static_cast<std::size_t>(k + len)].isEmpty()) ++len;
                p.setClipRect(QRect(charX + k * CharWidth, y, len * CharWidth, lh));
                p.drawText(charX + k * CharWidth, y + ascent, cells[static_cast<std::size_t>(k)]);
                k += len;
            }
            p.setClipping(false);
        }
    }

    p.setPen(kRuleColor);
    p.drawLine(x0 - 8, 0, x0 - 8, h);
    p.drawLine(x0 - 6, 0, x0 - 6, h);
    p.drawLine(49 * CharWidth + x0, 0, 49 * CharWidth + x0, h);
}

void THexDump::SetTopLine(std::int32_t n) {
    if (n == TopLine) return;
    n = ClampLine(n);
    const std::int32_t delta = n - TopLine;
    TopLine = n;
    verticalScrollBar()->setValue(n);
    if (delta == 0) return;
    const int w = ClientWidth(), h = ClientHeight(), lh = LineHeight;
    if ((delta == 1 || delta == -1) && lh > 0) {
        // One line: move the data rows' pixels, repaint the row that came in.
        const QRect rows(0, 2 * lh, w, std::max(0, h - 2 * lh));
        viewport()->scroll(0, delta < 0 ? lh : -lh, rows);
        viewport()->update(delta < 0 ? QRect(0, 2 * lh, w, lh) : QRect(0, h - lh, w, lh));
    } else {
        viewport()->update();
    }
}

bool THexDump::ScrollToCursor() {
    if (CursorLine < TopLine) {
        SetTopLine(CursorLine);
        return true;
    }
    if (CursorLine >= TopLine + VisibleLines - 1) {
        SetTopLine(CursorLine - VisibleLines + 2);
        return true;
    }
    return false;
}

void THexDump::InvalidateCursorStrip(std::int32_t line) {
    const std::int32_t row = line - TopLine;
    if (row >= 0 && row < VisibleLines) viewport()->update(QRect(0, row * LineHeight, 1, LineHeight));
}

void THexDump::SetCursorLine(std::int32_t n) {
    if (n == CursorLine) return;
    n = ClampLine(n);
    InvalidateCursorStrip(CursorLine);
    CursorLine = n;
    ScrollToCursor();
    InvalidateCursorStrip(CursorLine);
}

void THexDump::WMVScroll(TScrollCode code, std::int32_t pos) {
    std::int32_t n = TopLine;
    switch (code) {
    case sbLineUp: n -= 1; break;
    case sbLineDown: n += 1; break;
    case sbPageUp: n -= VisibleLines - 1; break;
    case sbPageDown: n += VisibleLines - 1; break;
    case sbThumbPosition:
    case sbThumbTrack: n = pos; break;
    case sbTop:
    case sbBottom:
    case sbEndScroll: break;
    }
    n = ClampLine(n);
    if (n == TopLine) return;
    TopLine = n;
    verticalScrollBar()->setValue(n);
    viewport()->update();
}

void THexDump::keyPressEvent(QKeyEvent* e) {
    // Not the scroll area's own key handling: the keys move the cursor line.
    QWidget::keyPressEvent(e);
    if (!HasData) return;
    switch (e->key()) {
    case Qt::Key_PageUp: SetCursorLine(CursorLine - VisibleLines); break;
    case Qt::Key_PageDown: SetCursorLine(CursorLine + VisibleLines); break;
    case Qt::Key_End: SetCursorLine(LineCount - 1); break;
    case Qt::Key_Home: SetCursorLine(0); break;
    case Qt::Key_Up: SetCursorLine(CursorLine - 1); break;
    case Qt::Key_Down: SetCursorLine(CursorLine + 1); break;
    default: return;
    }
    e->accept();
}

void THexDump::mousePressEvent(QMouseEvent* e) {
    QWidget::mousePressEvent(e);
    if (!hasFocus()) setFocus(Qt::MouseFocusReason);
    if (e->button() == Qt::LeftButton && HasData && LineHeight > 0)
        SetCursorLine(TopLine + static_cast<int>(e->position().y()) / LineHeight);
}

void THexDump::wheelEvent(QWheelEvent* e) {
    const int delta = e->angleDelta().y();
    e->accept();
    if (delta == 0) return;
    QKeyEvent key(QEvent::KeyPress, delta > 0 ? Qt::Key_PageUp : Qt::Key_PageDown, Qt::NoModifier);
    keyPressEvent(&key);
}

THexDump* CreateHexView(QWidget* parent) {
    auto* view = new THexDump(parent);
    // Fills its parent: the parent's layout holds it alone.
    auto* layout = parent->layout() ? parent->layout() : new QVBoxLayout(parent);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(view);
    QFont f(QStringLiteral("FixedSys"));
    f.setStyleHint(QFont::TypeWriter);
    f.setFixedPitch(true);
    if (!QFontInfo(f).fixedPitch()) f = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    view->setFont(f);
    if (view->LineHeight == 0) {
        // The face asked for was the font in force already: no change event
        // came, so measure it now.
        QEvent changed(QEvent::FontChange);
        QCoreApplication::sendEvent(view, &changed);
    }
    view->SetShowCharacters(true);
    return view;
}
