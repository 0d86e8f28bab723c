// SPDX-License-Identifier: GPL-3.0-or-later

#include "tests/TestSupport.h"
#include "ui/Controls.h"
#include "ui/DirectoryListBox.h"
#include "ui/DriveComboBox.h"
#include "ui/FileListBox.h"
#include "ui/ImageList.h"
#include "ui/MainForm.h"
#include "ui/ProgressBar.h"
#include "ui/StatusBar.h"
#include "ui/ToolBar.h"
#include "ui/Unit1.h"

#include <QApplication>
#include <QFontInfo>
#include <QHelpEvent>
#include <QTest>
#include <QToolTip>
#include <gtest/gtest.h>

namespace {

class MainWindowLayout : public ::testing::Test {
protected:
    TempFolder folder;
    MainWindowHarness harness{folder.Path()};
    TForm1& form = harness.Form();

    QRect Geometry(const char* name) const {
        const auto* widget = form.findChild<QWidget*>(QString::fromLatin1(name));
        return widget ? widget->geometry() : QRect(-1, -1, -1, -1);
    }

    void ResizeClient(int width, int height) {
        form.resize(width, height);
        QCoreApplication::processEvents();
    }
};

} // namespace

TEST_F(MainWindowLayout, EveryComponentSitsWhereTheDesignPutsIt) {
    EXPECT_EQ(form.size(), QSize(533, 343));
    EXPECT_EQ(form.windowTitle(), QStringLiteral("Qel"));
    EXPECT_EQ(Geometry("Panel1"), QRect(400, 0, 133, 300));
    EXPECT_EQ(Geometry("DriveComboBox1"), QRect(5, 5, 122, 18));
    EXPECT_EQ(Geometry("DirectoryListBox1"), QRect(5, 28, 122, 69));
    EXPECT_EQ(Geometry("FileListBox1"), QRect(5, 102, 122, 163));
    EXPECT_EQ(Geometry("ToolBar1"), QRect(1, 270, 131, 29));
    EXPECT_EQ(Geometry("Panel2"), QRect(0, 300, 533, 24));
    EXPECT_EQ(Geometry("ProgressBar1"), QRect(4, 4, 525, 16));
    EXPECT_EQ(Geometry("StatusBar1"), QRect(0, 324, 533, 19));
    EXPECT_EQ(Geometry("Panel3"), QRect(0, 0, 400, 300));
    EXPECT_EQ(Geometry("Image1"), QRect(184, 134, 32, 32));
    EXPECT_EQ(Geometry("Panel4"), QRect(0, 0, 400, 300));
    EXPECT_FALSE(form.Panel4->isVisible());
    EXPECT_TRUE(form.Image1->isVisible());
    // Parents as designed.
    EXPECT_EQ(form.FileListBox1->parentWidget(), form.Panel1);
    EXPECT_EQ(form.ToolBar1->parentWidget(), form.Panel1);
    EXPECT_EQ(form.ProgressBar1->parentWidget(), form.Panel2);
    EXPECT_EQ(form.Image1->parentWidget(), form.Panel3);
    EXPECT_EQ(form.Panel4->parentWidget(), form.Panel3);
}

TEST_F(MainWindowLayout, OnlyTheFileListAndTheSeekBarStretchWhenTheWindowGrows) {
    ResizeClient(700, 500);
    EXPECT_EQ(Geometry("Panel1"), QRect(567, 0, 133, 457));
    EXPECT_EQ(Geometry("DriveComboBox1"), QRect(5, 5, 122, 18));
    EXPECT_EQ(Geometry("DirectoryListBox1"), QRect(5, 28, 122, 69));
    EXPECT_EQ(Geometry("FileListBox1"), QRect(5, 102, 122, 320));
    EXPECT_EQ(Geometry("ToolBar1"), QRect(1, 427, 131, 29));
    EXPECT_EQ(Geometry("Panel2"), QRect(0, 457, 700, 24));
    EXPECT_EQ(Geometry("ProgressBar1"), QRect(4, 4, 692, 16));
    EXPECT_EQ(Geometry("StatusBar1"), QRect(0, 481, 700, 19));
    EXPECT_EQ(Geometry("Panel3"), QRect(0, 0, 567, 457));
    EXPECT_EQ(Geometry("Panel4"), QRect(0, 0, 567, 457));
    // (567 - 32) / 2 and (457 - 32) / 2, truncated.
    EXPECT_EQ(Geometry("Image1"), QRect(267, 212, 32, 32));
    EXPECT_EQ(form.StatusBar1->PanelText(2), QStringLiteral(" 567x 457"));

    ResizeClient(533, 343);
    EXPECT_EQ(Geometry("FileListBox1"), QRect(5, 102, 122, 163));
    EXPECT_EQ(Geometry("Image1"), QRect(184, 134, 32, 32));
    EXPECT_EQ(form.StatusBar1->PanelText(2), QStringLiteral(" 400x 300"));
}

TEST_F(MainWindowLayout, TheIconCentringTruncatesTowardZeroInANarrowArea) {
    ResizeClient(133 + 5, 343);
    EXPECT_EQ(form.Panel3->width(), 5);
    EXPECT_EQ(form.Image1->pos(), QPoint(-13, 134));
    ResizeClient(133 + 401, 43 + 301);
    EXPECT_EQ(form.Image1->pos(), QPoint(184, 134));
}

TEST_F(MainWindowLayout, TheStatusBarHasSixPanelsOfFixedSpans) {
    const TStatusBar& bar = *form.StatusBar1;
    ASSERT_EQ(bar.PanelCount(), 6);
    const std::pair<int, int> spans[] = {{0, 72},    {72, 165},  {165, 299},
                                         {299, 349}, {349, 399}, {399, 533}};
    for (int i = 0; i < 6; ++i)
        EXPECT_EQ(bar.PanelSpan(i), spans[i]) << i;
    ResizeClient(900, 343);
    EXPECT_EQ(bar.PanelSpan(4), std::make_pair(349, 399));
    EXPECT_EQ(bar.PanelSpan(5), std::make_pair(399, 900));
    ResizeClient(300, 343);
    EXPECT_EQ(bar.PanelSpan(5), std::make_pair(399, 399));
}

TEST_F(MainWindowLayout, AtStartOnlyTheSizePanelHasText) {
    EXPECT_EQ(form.StatusBar1->PanelText(2), QStringLiteral(" 400x 300"));
    for (int i : {0, 1, 4, 5})
        EXPECT_TRUE(form.StatusBar1->PanelText(i).isEmpty()) << i;
    form.StatusBar1->SetPanelText(5, QStringLiteral("  clip.mpg"));
    form.StatusBar1->SetPanelText(5, QStringLiteral("  other.mpg"));
    EXPECT_EQ(form.StatusBar1->PanelText(5), QStringLiteral("  other.mpg"));
    EXPECT_FALSE(form.Timer1->Enabled());
    EXPECT_EQ(form.Timer1->Interval(), 100);
    EXPECT_EQ(form.ProgressBar1->Min(), 0);
    EXPECT_EQ(form.ProgressBar1->Max(), 100);
    EXPECT_EQ(form.ProgressBar1->Position(), 0);
}

TEST_F(MainWindowLayout, AFileNameCutOffByTheLastPanelShowsWholeInItsTooltip) {
    TStatusBar& bar = *form.StatusBar1;
    const QString name = QStringLiteral("  a rather long name of a holiday film, part two.mpg");
    bar.SetPanelText(5, name);
    const QPoint at(450, 10);
    QHelpEvent help(QEvent::ToolTip, at, bar.mapToGlobal(at));
    QApplication::sendEvent(&bar, &help);
    EXPECT_TRUE(QToolTip::isVisible());
    EXPECT_EQ(QToolTip::text(), name);
    QToolTip::hideText();
}

TEST_F(MainWindowLayout, ALineBreakOrControlCharacterInAFileNameIsDrawnAsASpaceOnThePanelsOneLine) {
    TStatusBar& bar = *form.StatusBar1;
    bar.SetPanelText(5, QStringLiteral("  new line.mpg"));
    const QImage spaced = bar.grab().toImage();
    for (const char16_t breaks :
         {u'\n', u'\r', u'\t', u'\v', u'\f', u'\x85', u'\x2028', u'\x2029'}) {
        bar.SetPanelText(5, QStringLiteral("  new") + QChar(breaks) + QStringLiteral("line.mpg"));
        EXPECT_EQ(bar.grab().toImage(), spaced) << int(breaks);
    }
    bar.SetPanelText(5, QStringLiteral("  new\r\nline.mpg"));
    EXPECT_NE(bar.grab().toImage(), spaced) << "the drawing cannot tell texts apart";
}

TEST_F(MainWindowLayout, TheToolbarHasFiveDisabledBlankButtonsAtTheirLefts) {
    const struct {
        TToolButton* button;
        int left;
        const char* hint;
    } buttons[] = {{form.ToolButton2, 8, "Previous (Z)"},
                   {form.ToolButton3, 31, "Play"},
                   {form.ToolButton4, 54, "Pause/Resume (C)"},
                   {form.ToolButton5, 77, "Stop (V)"},
                   {form.ToolButton6, 100, "Next (B)"}};
    for (const auto& b : buttons) {
        EXPECT_EQ(b.button->x(), b.left) << b.hint;
        EXPECT_EQ(b.button->width(), 23) << b.hint;
        EXPECT_FALSE(b.button->isEnabled()) << b.hint;
        EXPECT_EQ(b.button->ImageIndex(), TImageList::Blank) << b.hint;
        EXPECT_EQ(b.button->toolTip(), QString::fromLatin1(b.hint));
        EXPECT_TRUE(b.button->autoRaise()) << b.hint;
    }
    EXPECT_EQ(form.ToolButton1->geometry().x(), 0);
    EXPECT_EQ(form.ToolButton1->width(), 8);
}

TEST_F(MainWindowLayout, TheImagesAreDarkBlueOutlinesOnWhiteAndImageFiveIsEmpty) {
    ASSERT_EQ(form.ImageList1->Count(), 6);
    for (int i = 0; i < 6; ++i) {
        const QImage image = form.ImageList1->Image(i).toImage();
        ASSERT_EQ(image.size(), QSize(16, 16));
        int blue = 0, white = 0, transparent = 0;
        for (int y = 0; y < 16; ++y)
            for (int x = 0; x < 16; ++x) {
                const QColor c = image.pixelColor(x, y);
                if (c.alpha() == 0)
                    ++transparent;
                else if (c == QColor(0, 0, 128))
                    ++blue;
                else if (c == Qt::white)
                    ++white;
            }
        if (i == TImageList::Blank) {
            EXPECT_EQ(transparent, 256);
        } else {
            EXPECT_GT(blue, 10) << i;
            EXPECT_GT(white, 4) << i;
            EXPECT_GT(transparent, 100) << i;
        }
    }
    // Play and Next differ from Previous: a picture each.
    EXPECT_NE(form.ImageList1->Image(0).toImage(), form.ImageList1->Image(4).toImage());
    EXPECT_NE(form.ImageList1->Image(3).toImage(), form.ImageList1->Image(4).toImage());
}

TEST_F(MainWindowLayout, TheProgramIconComesIn16_32And48Pixels) {
    for (int size : {16, 32, 48}) {
        const QPixmap icon = ProgramIconPixmap(size);
        EXPECT_EQ(icon.size(), QSize(size, size));
        EXPECT_FALSE(icon.toImage().allGray()) << size;
    }
    EXPECT_FALSE(form.windowIcon().isNull());
}

TEST_F(MainWindowLayout, TheWindowAsksForTheJapaneseGothicAt12Pixels) {
    const QFont font = form.font();
    EXPECT_EQ(font.family(), QStringLiteral("ＭＳ Ｐゴシック"));
    EXPECT_EQ(font.pixelSize(), 12);
    // The scripts install VL Gothic, whose half-width glyphs are the requested font's.
    const QString resolved = QFontInfo(font).family();
    EXPECT_TRUE(resolved == QStringLiteral("VL Gothic") ||
                resolved == QStringLiteral("VL ゴシック"))
        << resolved.toStdString();
    EXPECT_EQ(form.FileListBox1->font().pixelSize(), 12);
    // Japanese messages still render in it.
    const QFontMetrics metrics(font);
    for (const QChar c : QStringLiteral("ファイルへのアクセスが拒否されました"))
        EXPECT_TRUE(metrics.inFont(c)) << int(c.unicode());
}

TEST_F(MainWindowLayout, TheLongestTextOfEveryPanelAndRowFitsInTheResolvedFont) {
    const TStatusBar& bar = *form.StatusBar1;
    const QFontMetrics metrics(bar.font());
    const std::vector<std::pair<int, QStringList>> longest = {
        {0, {QStringLiteral("9999/ 9999")}},
        {1, {QStringLiteral("999:59/ 999:59"), QStringLiteral("120:00/ 120:00")}},
        {2,
         {QStringLiteral("9999x9999/ 3840x2160"), QStringLiteral(" 400x 300/ 1920x1080"),
          QStringLiteral(" 400x 300/ 1280x 720")}},
        {3, {QStringLiteral("100"), QStringLiteral("Mute")}},
        {4, {QStringLiteral("Single"), QStringLiteral("All")}}};
    for (const auto& [panel, texts] : longest)
        for (const QString& text : texts)
            EXPECT_LE(metrics.horizontalAdvance(text), bar.PanelTextRect(panel).width())
                << panel << " " << text.toStdString();
    // Rows keep their descenders and accents.
    const QFontMetrics rowMetrics(form.FileListBox1->font());
    EXPECT_LE(rowMetrics.height(), TFileListBox::RowHeight);
    EXPECT_LE(QFontMetrics(form.DirectoryListBox1->font()).height(), TDirectoryListBox::RowHeight);
}

TEST(ProgressBar, EveryEdgeOfTheFrameStandsOutFromTheFace) {
    TProgressBar bar(QStringLiteral("bar"), nullptr);
    bar.resize(525, 16);
    const QImage image = bar.grab().toImage();
    const QRgb face = image.pixel(100, 8);
    for (const QPoint edge : {QPoint(100, 0), QPoint(0, 8), QPoint(100, 15), QPoint(524, 8)})
        EXPECT_NE(image.pixel(edge), face) << edge.x() << "," << edge.y();
}

TEST(AboutBox, ABoxNotYetFramedIsCentredWithTheFrameItWillGet) {
    // A window manager's frame: 4 pixels at the sides and bottom, a 20-pixel title.
    const QRect ownerFrame(10, 10, 541, 370);
    const QRect ownerClient(14, 30, 533, 343);
    const QRect box(0, 0, 252, 90);
    const QPoint at = CentredBoxPosition(ownerFrame, ownerClient, box, box);
    const QRect framed(at, QSize(252 + 8, 90 + 27));
    EXPECT_LE(std::abs(framed.center().y() - ownerFrame.center().y()), 1);
    EXPECT_LE(std::abs(framed.center().x() - ownerFrame.center().x()), 1);
    // Once framed, its own frame counts; without a window manager there is none.
    EXPECT_EQ(CentredBoxPosition(ownerFrame, ownerClient, QRect(0, 0, 260, 117), box), at);
    EXPECT_EQ(CentredBoxPosition(ownerClient, ownerClient, box, box),
              ownerClient.center() - QPoint(126, 45));
}

TEST(ProgressBar, KeepsItsPositionWithinItsRangeEvenForHoursOfMilliseconds) {
    TProgressBar bar(QStringLiteral("bar"), nullptr);
    bar.SetPosition(-5);
    EXPECT_EQ(bar.Position(), 0);
    bar.SetPosition(250);
    EXPECT_EQ(bar.Position(), 100);
    bar.SetMax(2 * 60 * 60 * 1000);
    bar.SetPosition(3'600'000);
    EXPECT_EQ(bar.Position(), 3'600'000);
    bar.SetMax(1000);
    EXPECT_EQ(bar.Position(), 1000);

    // Half of a two-hour range paints half of the bar.
    bar.resize(202, 16);
    bar.SetMax(7'200'000);
    bar.SetPosition(3'600'000);
    const QImage picture = bar.grab().toImage();
    const QColor highlight = bar.palette().color(QPalette::Highlight);
    EXPECT_EQ(picture.pixelColor(100, 8), highlight);
    EXPECT_NE(picture.pixelColor(102, 8), highlight);
}
