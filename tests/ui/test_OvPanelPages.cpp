#include "OvpCalibrate.h"
#include "OvpPattern.h"
#include "OvpPatterns.h"
#include "OvpPerformance.h"
#include "OvpWindowControl.h"
#include "PanelTestKit.h"

#include <QButtonGroup>
#include <QComboBox>
#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QSpinBox>
#include <gtest/gtest.h>

using namespace paneltest;

namespace {

struct ListCase {
    const char *button;
    const char *text;
    QiParams posts; // empty: a window control page
    bool colorChoice;
};

void clickEach(OvPanelW &page, RecordingController &rec, const std::vector<ListCase> &cases)
{
    QStringList order;
    for (QPushButton *b : page.findChildren<QPushButton *>())
        order << b->objectName();
    QStringList expected;
    for (const ListCase &c : cases)
        expected << QString::fromLatin1(c.button);
    EXPECT_EQ(order, expected);
    EXPECT_EQ(page.content(), nullptr); // empty until a button is pressed

    for (const ListCase &c : cases) {
        auto *b = page.findChild<QPushButton *>(QString::fromLatin1(c.button));
        ASSERT_NE(b, nullptr) << c.button;
        EXPECT_EQ(b->text(), QString::fromLatin1(c.text));
        EXPECT_FALSE(b->autoDefault() || b->isDefault()) << c.button;
        QPointer<QWidget> before = page.content();
        const size_t posts = rec.posted.size();
        b->click();
        EXPECT_TRUE(before.isNull()) << c.button << ": the content it replaces is deleted";
        ASSERT_EQ(rec.posted.size(), posts + 1) << c.button;
        ASSERT_EQ(rec.waited.back(), rec.nextId - 1) << c.button;
        if (!c.posts.empty()) {
            auto *p = qobject_cast<OvpPattern *>(page.content());
            ASSERT_NE(p, nullptr) << c.button;
            EXPECT_EQ(rec.posted.back(), c.posts) << c.button;
            const char *name = nullptr;
            c.posts.get("Pattern", name);
            EXPECT_EQ(p->patternName(), name);
        } else {
            auto *w = qobject_cast<OvpWindowControl *>(page.content());
            ASSERT_NE(w, nullptr) << c.button;
            EXPECT_EQ(w->findChild<QButtonGroup *>(QStringLiteral("WinColorGroup")) != nullptr, c.colorChoice);
        }
    }
}

} // namespace

TEST(OvpCalibrate, EachButtonShowsAndPostsItsPage)
{
    app();
    RecordingController rec;
    OvpCalibrate page(&rec);
    clickEach(page, rec,
              {{"PbBlackLevel", "Black Level", params({{"Pattern", "Brightness"}}), false},
               {"PbWhiteLevel", "White Level", params({{"Pattern", "Contrast"}}), false},
               {"PbColorTint", "Color/Tint", params({{"Pattern", "Color"}}), false},
               {"PbSharpness", "Sharpness", params({{"Pattern", "Sharpness"}}), false},
               {"PbWhiteBalance", "White Balance", QiParams(), false},
               {"PbColorGamut", "Color Gamut", QiParams(), true},
               {"PbGrayscale", "Grayscale", params({{"Pattern", "Gradient"}, {"Steps", "0"}}), false},
               {"PbProofing", "Proofing", params({{"Pattern", "Nimbra-Test-Card"}}), false}});
}

TEST(OvpPerformance, EachButtonShowsAndPostsItsPage)
{
    app();
    RecordingController rec;
    OvpPerformance page(&rec);
    clickEach(page, rec,
              {{"PbResolution", "Resolution", params({{"Pattern", "Resolution"}}), false},
               {"PbScaling", "Scaling", params({{"Pattern", "ZonePlate"}, {"Scale", "180"}}), false},
               {"PbContrastRatio", "Contrast Ratio", params({{"Pattern", "Checkerboard"}}), false},
               {"PbColorRamps", "Color Ramps",
                params({{"Pattern", "Gradient"}, {"Style", "RGBCMYK"}, {"Steps", "0"}}), false},
               {"PbColorGamut", "Color Gamut", params({{"Pattern", "Chromaticity"}}), false},
               {"PbGeometry", "Geometry", params({{"Pattern", "Geometry"}}), false},
               {"PbDynamicRange", "Dynamic Range", params({{"Pattern", "DynamicRange"}}), false}});
}

TEST(OvpPattern, EditorsShowTheValuesOfThePatternShown)
{
    app();
    RecordingController rec;
    rec.patterns = params({{"Colorbars", "$Revision: 1.13 $"}, {"fullfield", "Alias/Colorbars"}});
    rec.patternOpts["Colorbars"] = {
        params({{"Name", "Style"}, {"DataType", "Enumeration"}, {"DefaultValue", "smpte"}, {"Style0", "smpte"},
                {"Style1", "fullfield"}, {"nVal", "2"}}),
        params({{"Name", "Brightness"}, {"DataType", "Integer"}, {"MinValue", "0"}, {"MaxValue", "100"},
                {"DefaultValue", "75"}})};
    rec.current = params({{"Pattern", "Colorbars"}, {"Brightness", "60"}});

    // Without send: nothing posted, the editors read the current parameters.
    OvpPattern quiet(&rec, "Colorbars", params({{"Style", "fullfield"}}), false);
    EXPECT_TRUE(rec.posted.empty());
    EXPECT_EQ(quiet.optionRows(), 2);
    EXPECT_EQ(quiet.findChild<QSpinBox *>(QStringLiteral("Brightness"))->value(), 60);
    EXPECT_EQ(quiet.findChild<QComboBox *>(QStringLiteral("Style"))->currentText(), QStringLiteral("smpte"));

    // With send: "Pattern" joins the initial options, posted and waited for.
    OvpPattern sent(&rec, "Colorbars", params({{"Style", "fullfield"}}), true);
    ASSERT_EQ(rec.posted.size(), 1u);
    EXPECT_EQ(rec.posted[0], params({{"Pattern", "Colorbars"}, {"Style", "fullfield"}}));
    EXPECT_EQ(rec.waited, std::vector<int32_t>{100});

    // An alias edits the options of its pattern.
    OvpPattern alias(&rec, "fullfield", QiParams(), false);
    EXPECT_EQ(alias.optionRows(), 2);

    // A pattern the generator lacks: a page that says so.
    OvpPattern missing(&rec, "Sharpness", QiParams(), true);
    EXPECT_EQ(missing.optionRows(), 0);
    auto *note = missing.findChild<QLabel *>(QStringLiteral("LbNoOptions"));
    ASSERT_NE(note, nullptr);
    EXPECT_EQ(note->text(), QStringLiteral("The generator does not offer this pattern."));

    // Posting through the page's editors names no pattern and never waits.
    rec.posted.clear();
    rec.waited.clear();
    sent.findChild<QSpinBox *>(QStringLiteral("Brightness"))->setValue(90);
    ASSERT_EQ(rec.posted.size(), 1u);
    EXPECT_EQ(rec.posted[0], params({{"Brightness", "90"}}));
    EXPECT_TRUE(rec.waited.empty());
}

TEST(OvpPatterns, OpensOnThePatternShownAndPostsTheOneChosen)
{
    app();
    RecordingController rec;
    rec.patterns = params({{"Colorbars", "r"}, {"Chromaticity", "r"}, {"fullfield", "Alias/Colorbars"},
                           {"SMPTEBars", "Alias/Colorbars"}});
    rec.current = params({{"Pattern", "Colorbars"}});
    testing::internal::CaptureStdout();
    OvpPatterns page(&rec);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "current pattern is Colorbars\n");
    QComboBox *box = page.chooser();
    EXPECT_EQ(box->objectName(), QStringLiteral("CbPattern"));
    QStringList items;
    for (int i = 0; i < box->count(); ++i)
        items << box->itemText(i);
    // Key order: upper case sorts before lower case.
    EXPECT_EQ(items, (QStringList{"Chromaticity", "Colorbars", "SMPTEBars", "fullfield"}));
    EXPECT_EQ(box->currentText(), QStringLiteral("Colorbars"));
    EXPECT_TRUE(rec.posted.empty());
    auto *shown = qobject_cast<OvpPattern *>(page.content());
    ASSERT_NE(shown, nullptr);
    EXPECT_EQ(shown->patternName(), "Colorbars");

    testing::internal::CaptureStdout();
    box->setCurrentIndex(0);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "new pattern should be Chromaticity\n");
    ASSERT_EQ(rec.posted.size(), 1u);
    EXPECT_EQ(rec.posted[0], params({{"Pattern", "Chromaticity"}}));
    EXPECT_EQ(rec.waited, std::vector<int32_t>{100});
    EXPECT_EQ(qobject_cast<OvpPattern *>(page.content())->patternName(), "Chromaticity");

    // A current pattern that is not in the list: the first entry, not posted.
    rec.current = params({{"Pattern", "Gone"}});
    rec.posted.clear();
    testing::internal::CaptureStdout();
    OvpPatterns other(&rec);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
    EXPECT_EQ(other.chooser()->currentIndex(), 0);
    EXPECT_TRUE(rec.posted.empty());
}
