#include "OvpWindowControl.h"
#include "PanelTestKit.h"

#include <QAbstractButton>
#include <QButtonGroup>
#include <QGridLayout>
#include <QLabel>
#include <QRadioButton>
#include <gtest/gtest.h>

using namespace paneltest;

namespace {

QButtonGroup *group(QWidget &page, const char *name)
{
    return page.findChild<QButtonGroup *>(QString::fromLatin1(name));
}

QStringList texts(QButtonGroup *g)
{
    QStringList out;
    for (int id = 0; id < static_cast<int>(g->buttons().size()); ++id)
        out << g->button(id)->text();
    return out;
}

QiParams window(const char *size, const char *r, const char *g, const char *b)
{
    return params({{"Pattern", "Window"}, {"Size", size}, {"Color_Red", r}, {"Color_Green", g}, {"Color_Blue", b}});
}

} // namespace

TEST(OvpWindowControl, LevelsFor17StepsOfATenBitOutput)
{
    app();
    RecordingController rec; // black 64, white 940
    OvpWindowControl page(&rec, false);
    QButtonGroup *levels = group(page, "WinLevelGroup");
    ASSERT_NE(levels, nullptr);
    EXPECT_EQ(texts(levels).join(QLatin1Char(' ')),
              QStringLiteral("64 118 173 228 283 337 392 447 502 556 611 666 721 775 830 885 940"));
    EXPECT_EQ(levels->checkedId(), 12);
    EXPECT_EQ(levels->checkedButton()->text(), QStringLiteral("721"));
    EXPECT_EQ(texts(group(page, "WinSizeGroup")),
              (QStringList{QStringLiteral("10%"), QStringLiteral("18%"), QStringLiteral("100%")}));
    EXPECT_EQ(group(page, "WinSizeGroup")->checkedId(), 0);
    EXPECT_EQ(texts(group(page, "WinStepGroup")).join(QLatin1Char(' ')), QStringLiteral("11 17 21 33"));
    EXPECT_EQ(group(page, "WinStepGroup")->checkedButton()->text(), QStringLiteral("17"));
    EXPECT_EQ(group(page, "WinColorGroup"), nullptr);

    // Sent once at construction: a white window at the checked level, waited for.
    ASSERT_EQ(rec.posted.size(), 1u);
    EXPECT_EQ(rec.posted[0], window("10%", "721", "721", "721"));
    EXPECT_EQ(rec.waited, std::vector<int32_t>{100});

    // Six levels per row, under the group's title.
    auto *grid = qobject_cast<QGridLayout *>(levels->button(0)->parentWidget()->layout());
    ASSERT_NE(grid, nullptr);
    int row, col, rs, cs;
    grid->getItemPosition(grid->indexOf(levels->button(6)), &row, &col, &rs, &cs);
    EXPECT_EQ(row, 2);
    EXPECT_EQ(col, 0);
    grid->getItemPosition(grid->indexOf(levels->button(16)), &row, &col, &rs, &cs);
    EXPECT_EQ(row, 3);
    EXPECT_EQ(col, 4);
    auto *title = qobject_cast<QLabel *>(grid->itemAtPosition(0, 0)->widget());
    ASSERT_NE(title, nullptr);
    EXPECT_TRUE(title->text().contains(QStringLiteral("Levels")));

    // Each group sends the whole request again.
    levels->button(16)->click();
    group(page, "WinSizeGroup")->button(2)->click();
    ASSERT_EQ(rec.posted.size(), 3u);
    EXPECT_EQ(rec.posted[1], window("10%", "940", "940", "940"));
    EXPECT_EQ(rec.posted[2], window("100%", "940", "940", "940"));
    EXPECT_EQ(rec.waited, (std::vector<int32_t>{100, 101, 102}));
}

TEST(OvpWindowControl, StepsRebuildTheLevelsFor11StepsOfAnEightBitOutput)
{
    app();
    RecordingController rec;
    rec.black = 16;
    rec.white = 235;
    OvpWindowControl page(&rec, false);
    QButtonGroup *old = group(page, "WinLevelGroup");
    group(page, "WinStepGroup")->button(0)->click(); // "11"
    QButtonGroup *levels = group(page, "WinLevelGroup");
    ASSERT_NE(levels, nullptr);
    EXPECT_EQ(page.findChildren<QButtonGroup *>(QStringLiteral("WinLevelGroup")).size(), 1); // the old one is gone
    EXPECT_EQ(texts(levels).join(QLatin1Char(' ')), QStringLiteral("16 37 59 81 103 125 147 169 191 213 235"));
    EXPECT_EQ(levels->checkedButton()->text(), QStringLiteral("191"));
    EXPECT_EQ(page.findChildren<QWidget *>(QStringLiteral("WinLevelGroupBox")).size(), 1);
    ASSERT_EQ(rec.posted.size(), 2u);
    EXPECT_EQ(rec.posted[1], window("10%", "191", "191", "191"));
    (void)old;

    // 33 steps: six rows of six, the levels group stays below the steps.
    group(page, "WinStepGroup")->button(3)->click();
    EXPECT_EQ(group(page, "WinLevelGroup")->buttons().size(), 33);
    EXPECT_EQ(group(page, "WinLevelGroup")->checkedButton()->text(), QString::number(16 + 24 * 219 / 32));
    auto *stack = qobject_cast<QVBoxLayout *>(page.layout());
    ASSERT_NE(stack, nullptr);
    EXPECT_EQ(stack->indexOf(page.findChild<QWidget *>(QStringLiteral("WinLevelGroupBox"))), 2);

    // The arithmetic is integer division of the whole span.
    EXPECT_EQ(OvpWindowControl::levelLabels(0, 1023, 4), (QStringList{"0", "341", "682", "1023"}));
    EXPECT_EQ(OvpWindowControl::checkedLevel(21), 15);
}

TEST(OvpWindowControl, ColourChoicePostsBlackOnTheChannelsItLeavesOut)
{
    app();
    RecordingController rec;
    rec.queue = false; // nothing queued: nothing is waited for
    OvpWindowControl page(&rec, true);
    QButtonGroup *colors = group(page, "WinColorGroup");
    ASSERT_NE(colors, nullptr);
    EXPECT_EQ(texts(colors).join(QLatin1Char(' ')), QStringLiteral("Red Green Blue Cyan Magenta Yellow"));
    EXPECT_EQ(colors->checkedId(), 0);
    ASSERT_EQ(rec.posted.size(), 1u);
    EXPECT_EQ(rec.posted[0], window("10%", "721", "64", "64"));
    const char *expect[6][3] = {{"721", "64", "64"}, {"64", "721", "64"}, {"64", "64", "721"},
                                {"64", "721", "721"}, {"721", "64", "721"}, {"721", "721", "64"}};
    for (int k = 0; k < 6; ++k) {
        colors->button(k)->click();
        EXPECT_EQ(rec.posted.back(), window("10%", expect[k][0], expect[k][1], expect[k][2])) << k;
    }
    // Three colours per row; the group sits between the steps and the levels.
    auto *grid = qobject_cast<QGridLayout *>(colors->button(0)->parentWidget()->layout());
    int row, col, rs, cs;
    grid->getItemPosition(grid->indexOf(colors->button(3)), &row, &col, &rs, &cs);
    EXPECT_EQ(row, 2);
    EXPECT_EQ(col, 0);
    // Cyan, then a new level: red stays at black.
    colors->button(3)->click();
    group(page, "WinLevelGroup")->button(4)->click();
    EXPECT_EQ(rec.posted.back(), window("10%", "64", "283", "283"));
    EXPECT_TRUE(rec.waited.empty());
}
