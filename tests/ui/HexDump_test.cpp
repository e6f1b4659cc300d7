// The hex view: layout from the client size, the last line, clamping of the
// top and cursor lines, page moves, Home/End, the wheel, blank rows and the
// character column.
#include <QScrollBar>
#include <QSignalSpy>
#include <QTest>
#include <QWheelEvent>
#include <memory>
#include <vector>

#include "HexDump.h"
#include "UiTestSupport.h"

class HexDump : public QObject {
    Q_OBJECT

    std::unique_ptr<QWidget> parent_;
    THexDump* view_ = nullptr;
    std::vector<std::uint8_t> data_;

    // A view with the client size in character cells: width for the given
    // bytes per line with the address and character columns, height for the
    // given number of data rows.
    void Make(int bytesPerLine, int rows, int dataSize = 2048) {
        parent_ = std::make_unique<QWidget>();
        view_ = CreateHexView(parent_.get());
        parent_->show();
        QVERIFY(QTest::qWaitForWindowExposed(parent_.get()));
        data_.assign(static_cast<std::size_t>(dataSize), 0);
        for (std::size_t i = 0; i < data_.size(); ++i) data_[i] = static_cast<std::uint8_t>(i * 7);
        ResizeClient((10 + 4 * bytesPerLine) * view_->CharWidth, 16 + (rows - 1) * view_->LineHeight);
        view_->SetData(data_.data());
        view_->SetDataSize(dataSize);
        view_->SetCursorLine(0);
    }
    void ResizeClient(int w, int h) { vt::uitest::SetViewportSize(parent_.get(), view_->viewport(), w, h); }
    void Key(Qt::Key k) { QTest::keyClick(view_, k); }

private slots:
    void cleanup() {
        parent_.reset();
        view_ = nullptr;
    }

    void StartsWithoutLayoutUntilFontIsSet() {
        THexDump bare;
        QCOMPARE(bare.LineHeight, 0);
        QCOMPARE(bare.width(), 300);
        QCOMPARE(bare.height(), 200);
        bare.SetDataSize(2048);
        QCOMPARE(bare.LineCount, 0);  // no layout while LineHeight is 0
        QCOMPARE(bare.GetColors(0), QColor(Qt::black));
        QCOMPARE(bare.verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOn);
        QCOMPARE(bare.horizontalScrollBarPolicy(), Qt::ScrollBarAlwaysOff);
        for (int i = 2; i < 48; i += 3) QCOMPARE(bare.HexText[static_cast<std::size_t>(i)], QChar(u'\t'));
    }

    void BytesPerLineFollowsClientWidth_data() {
        QTest::addColumn<int>("cells");  // client width in character cells
        QTest::addColumn<bool>("address");
        QTest::addColumn<bool>("chars");
        QTest::addColumn<int>("expected");
        QTest::newRow("too narrow for one byte still shows one") << 5 << true << true << 1;
        QTest::newRow("12 bytes with address and characters") << 58 << true << true << 12;
        QTest::newRow("a wide view never shows more than 16") << 400 << true << true << 16;
        QTest::newRow("without characters: cells / 3") << 46 << true << false << 12;
        QTest::newRow("without address: no 10 cells taken") << 48 << false << true << 12;
    }
    void BytesPerLineFollowsClientWidth() {
        QFETCH(int, cells);
        QFETCH(bool, address);
        QFETCH(bool, chars);
        QFETCH(int, expected);
        Make(16, 10);
        view_->SetShowAddress(address);
        view_->SetShowCharacters(chars);
        ResizeClient(cells * view_->CharWidth + view_->CharWidth / 2, view_->viewport()->height());
        QCOMPARE(view_->BytesPerLine, expected);
    }

    void LineCountRoundsUpAndLastLineHoldsTheRest() {
        Make(16, 10);
        QCOMPARE(view_->BytesPerLine, 16);
        QCOMPARE(view_->LineCount, 128);
        Make(12, 10);
        QCOMPARE(view_->BytesPerLine, 12);
        QCOMPARE(view_->LineCount, 171);
        QCOMPARE(view_->DataSize % view_->BytesPerLine, 8);
        // The last line's hex text: 8 digit pairs with tabs between, 23
        // characters, its bytes being the block's last eight.
        const auto& hex = view_->GetHexText(170);
        const QString text = QString(hex.data(), 23);
        QCOMPARE(text.count(QLatin1Char('\t')), 7);
        const std::uint8_t last = data_[2047];
        QCOMPARE(text.mid(21, 2), QString::number(last, 16).toUpper().rightJustified(2, QLatin1Char('0')));
    }

    void VisibleLinesFromClientHeight() {
        Make(16, 10);
        QCOMPARE(view_->VisibleLines, 10);
        // Five and a half rows below the first: taller than the scroll area's
        // least height whatever the font's line height, so the resize holds.
        const int lh = view_->LineHeight;
        const int height = 16 + 5 * lh + lh / 2;
        ResizeClient(view_->viewport()->width(), height);
        QCOMPARE(view_->viewport()->height(), height);
        QCOMPARE(view_->VisibleLines, 6);  // a part row counts as none, the first row is free
    }

    void AddressTextHasFourDigitsAtLeast() {
        Make(16, 10);
        QCOMPARE(view_->GetAddressText(0), QStringLiteral("0000"));
        QCOMPARE(view_->GetAddressText(5), QStringLiteral("0050"));
        QCOMPARE(view_->GetAddressText(127), QStringLiteral("07F0"));
        QCOMPARE(view_->GetAddressText(4096), QStringLiteral("10000"));
    }

    void TopLineIsClampedToTheBlock() {
        Make(16, 10);
        view_->SetTopLine(-5);
        QCOMPARE(view_->TopLine, 0);
        view_->SetTopLine(1000);
        QCOMPARE(view_->TopLine, 127);
        QCOMPARE(view_->verticalScrollBar()->value(), 127);
        QCOMPARE(view_->verticalScrollBar()->maximum(), 127);
    }

    void EmptyBlockKeepsLinesAtZero() {
        Make(16, 10, 0);
        QCOMPARE(view_->LineCount, 0);
        view_->SetTopLine(5);
        QCOMPARE(view_->TopLine, 0);
        view_->SetCursorLine(3);
        QCOMPARE(view_->CursorLine, 0);
        Key(Qt::Key_End);
        QCOMPARE(view_->CursorLine, 0);
        view_->grab();  // draws no row
    }

    void CursorBelowTheViewScrollsItIn() {
        Make(16, 10);
        view_->SetCursorLine(9);  // >= TopLine + VisibleLines - 1
        QCOMPARE(view_->TopLine, 1);
        view_->SetCursorLine(8);
        QCOMPARE(view_->TopLine, 1);  // inside: no move
        view_->SetCursorLine(0);
        QCOMPARE(view_->TopLine, 0);
        view_->SetCursorLine(500);
        QCOMPARE(view_->CursorLine, 127);
        QCOMPARE(view_->TopLine, 127 - 10 + 2);
    }

    void HomeEndAndPageKeysMoveTheCursor() {
        Make(16, 10);
        Key(Qt::Key_PageUp);
        QCOMPARE(view_->CursorLine, 0);  // Page Up on the first line stays there
        Key(Qt::Key_PageDown);
        QCOMPARE(view_->CursorLine, 10);  // by VisibleLines
        Key(Qt::Key_Down);
        QCOMPARE(view_->CursorLine, 11);
        Key(Qt::Key_Up);
        Key(Qt::Key_Up);
        QCOMPARE(view_->CursorLine, 9);
        Key(Qt::Key_End);
        QCOMPARE(view_->CursorLine, 127);
        QCOMPARE(view_->TopLine, 119);
        Key(Qt::Key_Home);
        QCOMPARE(view_->CursorLine, 0);
        QCOMPARE(view_->TopLine, 0);
        Key(Qt::Key_Right);
        QCOMPARE(view_->CursorLine, 0);
    }

    void KeysDoNothingWithoutData() {
        Make(16, 10);
        view_->SetData(nullptr);
        QVERIFY(!view_->HasData);
        Key(Qt::Key_End);
        QCOMPARE(view_->CursorLine, 0);
    }

    void ScrollBarPageMovesOneLessThanVisibleLines() {
        Make(16, 10);
        QScrollBar* bar = view_->verticalScrollBar();
        bar->triggerAction(QAbstractSlider::SliderPageStepAdd);
        QCOMPARE(view_->TopLine, 9);
        bar->triggerAction(QAbstractSlider::SliderSingleStepSub);
        QCOMPARE(view_->TopLine, 8);
        bar->triggerAction(QAbstractSlider::SliderToMaximum);  // "bottom" leaves it
        QCOMPARE(view_->TopLine, 8);
        QCOMPARE(view_->CursorLine, 0);  // the scroll bar does not move the cursor
        view_->WMVScroll(THexDump::sbPageDown);
        QCOMPARE(view_->TopLine, 17);
        view_->WMVScroll(THexDump::sbPageUp);
        view_->WMVScroll(THexDump::sbPageUp);
        QCOMPARE(view_->TopLine, 0);
        view_->WMVScroll(THexDump::sbThumbTrack, 500);
        QCOMPARE(view_->TopLine, 127);
        view_->WMVScroll(THexDump::sbTop);
        QCOMPARE(view_->TopLine, 127);
        view_->WMVScroll(THexDump::sbThumbPosition, 0);  // how the windows reset the view
        QCOMPARE(view_->TopLine, 0);
    }

    void WheelSendsOnePageKeyPerMessage() {
        Make(16, 10);
        auto wheel = [this](int delta) {
            const QPointF at(10, 10);
            QWheelEvent e(at, view_->mapToGlobal(at), QPoint(), QPoint(0, delta), Qt::NoButton, Qt::NoModifier,
                          Qt::NoScrollPhase, false);
            QApplication::sendEvent(view_->viewport(), &e);
        };
        wheel(-120 * 3);
        QCOMPARE(view_->CursorLine, 10);  // one Page Down whatever the delta
        wheel(-1);
        QCOMPARE(view_->CursorLine, 20);
        wheel(120);
        QCOMPARE(view_->CursorLine, 10);
    }

    void LeftClickSetsTheCursorFromTheRow() {
        Make(16, 10);
        view_->SetTopLine(4);
        const int lh = view_->LineHeight;
        QTest::mouseClick(view_->viewport(), Qt::LeftButton, Qt::NoModifier, QPoint(20, 5 * lh + lh / 2));
        QCOMPARE(view_->CursorLine, 4 + 5);
        QVERIFY(view_->hasFocus());
        QTest::mouseClick(view_->viewport(), Qt::RightButton, Qt::NoModifier, QPoint(20, 7 * lh + 1));
        QCOMPARE(view_->CursorLine, 9);
    }

    void ResizeDoesNotClampTopLineAndLaterRowsStayBlank() {
        Make(8, 10);
        view_->SetTopLine(255);  // the last line at 8 bytes per line
        QCOMPARE(view_->TopLine, 255);
        ResizeClient((10 + 4 * 16) * view_->CharWidth, view_->viewport()->height());
        QCOMPARE(view_->LineCount, 128);
        QCOMPARE(view_->TopLine, 255);  // kept until the view is scrolled
        const QImage shot = view_->viewport()->grab().toImage();
        // Every data row is beyond the block: nothing but the background and
        // the three vertical rules.
        const int x0 = 6 * view_->CharWidth;
        const std::vector<int> rules = {x0 - 8, x0 - 6, 49 * view_->CharWidth + x0};
        const QColor white(Qt::white);
        for (int y = 2 * view_->LineHeight; y < shot.height(); ++y)
            for (int x = 0; x < shot.width(); ++x) {
                if (std::find(rules.begin(), rules.end(), x) != rules.end()) continue;
                if (shot.pixelColor(x, y) != white) QFAIL(qPrintable(QStringLiteral("drawn at %1,%2").arg(x).arg(y)));
            }
        view_->WMVScroll(THexDump::sbLineUp);
        QCOMPARE(view_->TopLine, 127);
    }

    void ShortLastLineDrawsOnlyItsBytes() {
        Make(16, 10, 20);  // two lines, the second of four bytes
        view_->SetColors(1, Qt::red);
        view_->SetShowCharacters(false);
        const QImage shot = view_->viewport()->grab().toImage();
        const int lh = view_->LineHeight, cw = view_->CharWidth;
        const int x0 = 6 * cw;
        auto redIn = [&](int top, int left, int right) {
            for (int y = top; y < top + lh; ++y)
                for (int x = left; x < right && x < shot.width(); ++x)
                    if (shot.pixelColor(x, y).red() > 200 && shot.pixelColor(x, y).green() < 100) return true;
            return false;
        };
        QVERIFY(redIn(2 * lh, x0, x0 + 48 * cw));                  // line 0: sixteen bytes
        QVERIFY(redIn(3 * lh, x0, x0 + 12 * cw));                  // line 1: four bytes
        QVERIFY(!redIn(3 * lh, x0 + 12 * cw + 1, x0 + 48 * cw));   // and nothing after them
        QVERIFY(!redIn(4 * lh, 0, shot.width()));                  // no third line
    }

    void CharacterColumnShowsUtf8CharactersAndOtherBytesAsToday_data() {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QStringList>("cells");
        const QString e;  // the cells a character's later bytes leave empty
        auto latin1 = [](const QByteArray& b) {
            QStringList out;
            for (char c : b) out << QString(QChar(static_cast<char16_t>(static_cast<unsigned char>(c))));
            return out;
        };
        QTest::newRow("ASCII and control bytes") << QByteArray("AB\x01\0z", 5) << latin1(QByteArray("AB\x01\0z", 5));
        QTest::newRow("the greeting's second line")
            << QByteArray("感谢你使用 ")
            << QStringList{"感", e, e, "谢", e, e, "你", e, e, "使", e, e, "用", e, e, " "};
        QTest::newRow("two bytes") << QByteArray("\xC3\xA9!") << QStringList{"é", e, "!"};
        QTest::newRow("four bytes") << QByteArray("\xF0\x9F\x98\x80") << QStringList{QString::fromUtf8("\xF0\x9F\x98\x80"), e, e, e};
        QTest::newRow("cut by the line's end") << QByteArray("A\xE6\x84") << latin1(QByteArray("A\xE6\x84"));
        QTest::newRow("lead byte without its continuation") << QByteArray("\xE6" "AB") << latin1(QByteArray("\xE6" "AB"));
        QTest::newRow("continuation byte alone") << QByteArray("\x80\xBF") << latin1(QByteArray("\x80\xBF"));
        QTest::newRow("overlong two bytes") << QByteArray("\xC0\x80") << latin1(QByteArray("\xC0\x80"));
        QTest::newRow("overlong three bytes") << QByteArray("\xE0\x80\x80") << latin1(QByteArray("\xE0\x80\x80"));
        QTest::newRow("surrogate") << QByteArray("\xED\xA0\x80") << latin1(QByteArray("\xED\xA0\x80"));
        QTest::newRow("past U+10FFFF") << QByteArray("\xF4\x90\x80\x80") << latin1(QByteArray("\xF4\x90\x80\x80"));
        QTest::newRow("GBK bytes: only a pair that is UTF-8 too reads as one character")
            << QByteArray("\xB8\xD0\xD0\xBB") << QStringList{"¸", "Ð", "л", e};
    }
    void CharacterColumnShowsUtf8CharactersAndOtherBytesAsToday() {
        QFETCH(QByteArray, bytes);
        QFETCH(QStringList, cells);
        const std::vector<QString> got =
            CharColumnCells(reinterpret_cast<const std::uint8_t*>(bytes.constData()), static_cast<int>(bytes.size()));
        QCOMPARE(QStringList(got.begin(), got.end()), cells);
    }

    // Whether two grabs of the view differ in the character column of data
    // row `row`, in the cells from `first` up to before `last`. The rows and
    // cells are the view's own, so this holds for any font; the row must lie
    // inside the grabs.
    bool Differs(const QImage& shot, const QImage& ref, int row, int first, int last) {
        const int lh = view_->LineHeight, cw = view_->CharWidth;
        const int charX = view_->BytesPerLine * 3 * cw + 6 * cw + 16;
        const int top = (2 + row) * lh;
        if (shot.size() != ref.size() || top + lh > shot.height() || charX + last * cw > shot.width()) {
            QTest::qFail("the row lies outside the view", __FILE__, __LINE__);
            return true;
        }
        for (int y = top; y < top + lh; ++y)
            for (int x = charX + first * cw; x < charX + last * cw; ++x)
                if (shot.pixel(x, y) != ref.pixel(x, y)) return true;
        return false;
    }
    // The view's picture with the block's first bytes replaced, blanks after.
    QImage Show(const std::string& bytes) {
        std::fill(data_.begin(), data_.end(), ' ');
        std::copy(bytes.begin(), bytes.end(), data_.begin());
        view_->viewport()->repaint();
        return view_->viewport()->grab().toImage();
    }

    void GreetingLineDrawsItsCharactersInTheirFirstBytesCells() {
        // The hex digits of the line stay as they were; the character column
        // draws the five Chinese characters, each in its first byte's cell.
        Make(16, 6, 64);
        const QImage blank = Show("");
        const std::string greeting = std::string(16, '*') + "感谢你使用 Vantrel." + std::string(14, '*');
        const QImage shot = Show(greeting);
        QString hex;
        for (QChar c : view_->GetHexText(1)) hex += c;
        QCOMPARE(hex.left(47), QStringLiteral("E6 84 9F E8 B0 A2 E4 BD A0 E4 BD BF E7 94 A8 20").replace(QLatin1Char(' '), QLatin1Char('\t')));
        for (int k : {0, 3, 6, 9, 12}) QVERIFY2(Differs(shot, blank, 1, k, k + 1), qPrintable(QString::number(k)));
        QVERIFY(!Differs(shot, blank, 1, 15, 16));  // the space after them
    }

    // A character is drawn from its first byte's cell and within its bytes'
    // cells and its row, however wide or tall the glyph the fonts give it
    // (one the fixed font lacks comes from a fallback font: the three-em
    // dash of a CJK serif font is wider than three cells).
    void EachCharacterStaysInItsBytesCells_data() {
        QTest::addColumn<QByteArray>("bytes");
        QTest::newRow("one byte") << QByteArray("W");
        QTest::newRow("two bytes") << QByteArray("\xC3\xA9");
        QTest::newRow("a Chinese character") << QByteArray("感");
        QTest::newRow("the three-em dash") << QByteArray("\xE2\xB8\xBB");
        QTest::newRow("four bytes") << QByteArray("\xF0\x9F\x98\x80");
    }
    void EachCharacterStaysInItsBytesCells() {
        QFETCH(QByteArray, bytes);
        Make(16, 6, 64);
        const QImage blank = Show("");
        // Line 1 holds the character, then blanks; the lines around it blanks.
        const QImage shot = Show(std::string(16, ' ') + bytes.toStdString());
        const int len = static_cast<int>(bytes.size());
        QVERIFY(Differs(shot, blank, 1, 0, 1));
        QVERIFY(!Differs(shot, blank, 1, len, 16));
        QVERIFY(!Differs(shot, blank, 0, 0, 16));
        QVERIFY(!Differs(shot, blank, 2, 0, 16));
    }
};

QTEST_MAIN(HexDump)
#include "HexDump_test.moc"
