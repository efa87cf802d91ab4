#include "OvPanelController.h"
#include "PanelTestKit.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDoubleSpinBox>
#include <QFormLayout>
#include <QGridLayout>
#include <QLabel>
#include <QSpinBox>
#include <gtest/gtest.h>

using namespace paneltest;

namespace {

struct Editors {
    RecordingController rec;
    OvPanelController page{&rec};
    QWidget *make(const QiParams &d, const QiParams &c = QiParams())
    {
        QWidget *w = page.makeEditor(d, c);
        if (w)
            w->setParent(&page);
        return w;
    }
};

} // namespace

TEST(OvPanelController, IntegerBooleanStringAndDoubleEditors)
{
    app();
    Editors e;
    const QiParams steps = params({{"Name", "Steps"}, {"DataType", "Integer"}, {"Description", "Number of steps"},
                                   {"MaxValue", "64"}, {"MinValue", "1"}, {"DefaultValue", "4"}});
    auto *spin = qobject_cast<QSpinBox *>(e.make(steps, params({{"Steps", "0x10"}})));
    ASSERT_NE(spin, nullptr);
    EXPECT_EQ(spin->objectName(), QStringLiteral("Steps"));
    EXPECT_EQ(spin->minimum(), 1);
    EXPECT_EQ(spin->maximum(), 64);
    EXPECT_EQ(spin->value(), 16);
    EXPECT_EQ(spin->toolTip(), QStringLiteral("<p>Number of steps</p>"));
    EXPECT_EQ(qobject_cast<QSpinBox *>(e.make(steps, params({{"Steps", "010"}})))->value(), 8);
    EXPECT_EQ(qobject_cast<QSpinBox *>(e.make(steps))->value(), 4); // the default
    // A value outside the limits is shown as it is, not as the nearest limit.
    auto *wide = qobject_cast<QSpinBox *>(e.make(steps, params({{"Steps", "-1"}})));
    EXPECT_EQ(wide->value(), -1);
    EXPECT_EQ(wide->maximum(), 64);
    EXPECT_TRUE(e.rec.posted.empty()); // building posts nothing
    spin->setValue(20);
    ASSERT_EQ(e.rec.posted.size(), 1u);
    EXPECT_EQ(e.rec.posted[0].map(), (QiParams::Map{{"Steps", "20"}}));

    const QiParams pluge = params({{"Name", "loPluge"}, {"DataType", "Boolean"}, {"DefaultValue", "true"}});
    auto *check = qobject_cast<QCheckBox *>(e.make(pluge, params({{"loPluge", "1"}})));
    ASSERT_NE(check, nullptr);
    EXPECT_TRUE(check->isChecked());
    EXPECT_FALSE(qobject_cast<QCheckBox *>(e.make(pluge, params({{"loPluge", "0"}})))->isChecked());
    EXPECT_FALSE(qobject_cast<QCheckBox *>(e.make(pluge, params({{"loPluge", "false"}})))->isChecked());
    // "true" and "yes" are what the generator reads as true, as is a default
    // of "true": the box says so.
    EXPECT_TRUE(qobject_cast<QCheckBox *>(e.make(pluge, params({{"loPluge", "true"}})))->isChecked());
    EXPECT_TRUE(qobject_cast<QCheckBox *>(e.make(pluge))->isChecked());
    check->setChecked(false);
    check->setChecked(true);
    ASSERT_EQ(e.rec.posted.size(), 3u);
    EXPECT_EQ(e.rec.posted[1].map(), (QiParams::Map{{"loPluge", "0"}}));
    EXPECT_EQ(e.rec.posted[2].map(), (QiParams::Map{{"loPluge", "1"}}));

    auto *label = qobject_cast<QLabel *>(
        e.make(params({{"Name", "Title"}, {"DataType", "String"}, {"Value", "abc"}}), QiParams()));
    ASSERT_NE(label, nullptr);
    EXPECT_EQ(label->text(), QStringLiteral("String: abc"));
    EXPECT_EQ(label->textFormat(), Qt::PlainText); // a generator's text is never markup
    EXPECT_EQ(label->objectName(), QStringLiteral("Title"));

    const QiParams gamma = params({{"Name", "Gamma"}, {"DataType", "Double"}, {"MaxValue", "3.500000"},
                                   {"MinValue", "0.200000"}, {"DefaultValue", "2.200000"}});
    auto *dbl = qobject_cast<QDoubleSpinBox *>(e.make(gamma));
    ASSERT_NE(dbl, nullptr);
    EXPECT_DOUBLE_EQ(dbl->minimum(), 0.2);
    EXPECT_DOUBLE_EQ(dbl->maximum(), 3.5);
    EXPECT_DOUBLE_EQ(dbl->value(), 2.2);
    EXPECT_DOUBLE_EQ(qobject_cast<QDoubleSpinBox *>(e.make(gamma, params({{"Gamma", "1.5"}})))->value(), 1.5);
    dbl->setValue(2.4);
    dbl->setValue(0.2123456);
    dbl->setValue(3.0);
    ASSERT_EQ(e.rec.posted.size(), 6u);
    EXPECT_EQ(e.rec.posted[3].map(), (QiParams::Map{{"Gamma", "2.4"}}));
    EXPECT_EQ(e.rec.posted[4].map(), (QiParams::Map{{"Gamma", "0.212346"}})); // six significant digits
    EXPECT_EQ(e.rec.posted[5].map(), (QiParams::Map{{"Gamma", "3"}}));
    for (const QiParams &p : e.rec.posted)
        EXPECT_FALSE(p.has("Pattern"));
    EXPECT_TRUE(e.rec.waited.empty()); // value changes never wait
}

TEST(OvPanelController, EnumerationFallsBackToTheFirstItem)
{
    app();
    Editors e;
    const QiParams style = params({{"Name", "Style"}, {"DataType", "Enumeration"}, {"DefaultValue", "Normal"},
                                   {"Style0", "Normal"}, {"Style1", "RGBCMYK"}, {"Style2", "Normal"},
                                   {"nVal", "3"}});
    auto *combo = qobject_cast<QComboBox *>(e.make(style, params({{"Style", "RGBCMYK"}})));
    ASSERT_NE(combo, nullptr);
    ASSERT_EQ(combo->count(), 3);
    EXPECT_EQ(combo->itemText(1), QStringLiteral("RGBCMYK"));
    EXPECT_EQ(combo->currentIndex(), 1);
    // The last item equal to the value is the one selected.
    EXPECT_EQ(qobject_cast<QComboBox *>(e.make(style))->currentIndex(), 2);
    // No item matches (the comparison is exact): item 0.
    EXPECT_EQ(qobject_cast<QComboBox *>(e.make(style, params({{"Style", "rgbcmyk"}})))->currentIndex(), 0);
    EXPECT_EQ(qobject_cast<QComboBox *>(e.make(style, params({{"Style", "Bogus"}})))->currentIndex(), 0);
    combo->setCurrentIndex(0);
    ASSERT_EQ(e.rec.posted.size(), 1u);
    EXPECT_EQ(e.rec.posted[0].map(), (QiParams::Map{{"Style", "Normal"}}));

    // A count larger than the items present ends with the last item; a
    // negative one gives an empty list.
    QiParams wild = style;
    wild.set("nVal", "2000000000");
    EXPECT_EQ(qobject_cast<QComboBox *>(e.make(wild))->count(), 3);
    wild.set("nVal", "-5");
    EXPECT_EQ(qobject_cast<QComboBox *>(e.make(wild))->count(), 0);
    EXPECT_EQ(e.rec.posted.size(), 1u);
}

TEST(OvPanelController, RgbEditorPostsAllThreeKeys)
{
    app();
    Editors e;
    const QiParams color = params({{"Name", "Color"}, {"DataType", "RGB"}, {"DefaultValueR", "502"},
                                   {"DefaultValueG", "503"}, {"DefaultValueB", "504"}, {"DefaultIsRGB", "false"}});
    QWidget *row = e.make(color, params({{"Color_Red", "0x3ff"}, {"Color_Blue", "070"}}));
    ASSERT_NE(row, nullptr);
    EXPECT_EQ(row->objectName(), QStringLiteral("Color"));
    auto *r = row->findChild<QSpinBox *>(QStringLiteral("Color_Red"));
    auto *g = row->findChild<QSpinBox *>(QStringLiteral("Color_Green"));
    auto *b = row->findChild<QSpinBox *>(QStringLiteral("Color_Blue"));
    ASSERT_TRUE(r && g && b);
    EXPECT_EQ(r->value(), 1023);
    EXPECT_EQ(g->value(), 503); // absent: its own default
    EXPECT_EQ(b->value(), 56);  // octal
    EXPECT_EQ(r->maximum(), 1023); // 10 bits
    EXPECT_EQ(r->minimum(), 0);
    QStringList labels;
    for (QLabel *l : row->findChildren<QLabel *>())
        labels << l->text();
    EXPECT_EQ(labels, (QStringList{QStringLiteral("Red"), QStringLiteral("Green"), QStringLiteral("Blue")}));
    // Each column is a spin box above its label.
    auto *grid = qobject_cast<QGridLayout *>(row->layout());
    ASSERT_NE(grid, nullptr);
    QSpinBox *const boxes[3] = {r, g, b};
    for (int col = 0; col < 3; ++col) {
        auto *top = grid->itemAtPosition(0, col)->widget();
        auto *bottom = qobject_cast<QLabel *>(grid->itemAtPosition(1, col)->widget());
        EXPECT_EQ(top, boxes[col]);
        ASSERT_NE(bottom, nullptr);
        EXPECT_EQ(bottom->text(), labels[col]);
    }

    g->setValue(100);
    ASSERT_EQ(e.rec.posted.size(), 1u);
    EXPECT_EQ(e.rec.posted[0].map(),
              (QiParams::Map{{"Color_Blue", "56"}, {"Color_Green", "100"}, {"Color_Red", "1023"}}));

    // A generator option ("GatingColor") reads the same way, and an 8-bit
    // output narrows the range.
    e.rec.bits = 8;
    QWidget *gate = e.make(params({{"Name", "GatingColor"}, {"DataType", "RGB"}, {"DefaultValueR", "0"},
                                   {"DefaultValueG", "0"}, {"DefaultValueB", "0"}}),
                           params({{"GatingColor_Red", "300"}}));
    auto *gr = gate->findChild<QSpinBox *>(QStringLiteral("GatingColor_Red"));
    EXPECT_EQ(gr->maximum(), 255);
    EXPECT_EQ(gr->value(), 255);
    gate->findChild<QSpinBox *>(QStringLiteral("GatingColor_Blue"))->setValue(9);
    ASSERT_EQ(e.rec.posted.size(), 2u);
    EXPECT_EQ(e.rec.posted[1].map(),
              (QiParams::Map{{"GatingColor_Blue", "9"}, {"GatingColor_Green", "0"}, {"GatingColor_Red", "255"}}));
}

TEST(OvPanelController, ReadOnlyAndUnknownTypesGetNoRow)
{
    app();
    Editors e;
    const std::vector<QiParams> descriptors = {
        params({{"Name", "BitDepth"}, {"DataType", "RoInteger"}, {"Value", "10"}}),
        params({{"Name", "Size"}, {"DataType", "Integer"}, {"MaxValue", "100"}, {"MinValue", "0"}}),
        params({{"Name", "Odd"}, {"DataType", "Matrix"}}),
        params({{"Name", "Nameless"}}),
        params({{"Name", "Mute"}, {"DataType", "Boolean"}, {"DefaultValue", "false"}}),
    };
    EXPECT_EQ(e.make(descriptors[0]), nullptr);
    auto *form = new QFormLayout(&e.page);
    EXPECT_EQ(e.page.addOptionRows(form, descriptors, descriptors.size(), QiParams()), 2);
    ASSERT_EQ(form->rowCount(), 2);
    auto *first = qobject_cast<QLabel *>(form->itemAt(0, QFormLayout::LabelRole)->widget());
    auto *second = qobject_cast<QLabel *>(form->itemAt(1, QFormLayout::LabelRole)->widget());
    EXPECT_EQ(first->text(), QStringLiteral("Size"));
    EXPECT_EQ(second->text(), QStringLiteral("Mute"));
    EXPECT_EQ(e.page.findChild<QWidget *>(QStringLiteral("BitDepth")), nullptr);
    EXPECT_EQ(first->textFormat(), Qt::PlainText); // names from a generator are not markup
    // Only the first count descriptors are looked at.
    auto *form2 = new QFormLayout;
    EXPECT_EQ(e.page.addOptionRows(form2, descriptors, 1, QiParams()), 0);
    delete form2;
}
