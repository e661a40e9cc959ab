#include "ui/class_trackbarmouse.h"

#include <QSignalSpy>
#include <QTest>

#include <gtest/gtest.h>

// A press reports down, the release reports up with the final position; a key that moves the
// slider counts as both, a key that does not move it as neither.
TEST(TTrackBarMouse, ReportsPressAndReleaseAndKeysAsBoth)
{
    ui::TTrackBarMouse bar;
    bar.setRange(0, 100);
    bar.resize(200, 22);
    bar.show();
    QSignalSpy down(&bar, &ui::TTrackBarMouse::OnSliderDown);
    QSignalSpy up(&bar, &ui::TTrackBarMouse::OnSliderUp);
    int valueAtUp = -1;
    QObject::connect(&bar, &ui::TTrackBarMouse::OnSliderUp, [&](ui::TTrackBarMouse* s) { valueAtUp = s->value(); });

    QTest::mousePress(&bar, Qt::LeftButton, {}, QPoint(190, 11));
    EXPECT_EQ(down.count(), 1);
    EXPECT_EQ(up.count(), 0);
    QTest::mouseRelease(&bar, Qt::LeftButton, {}, QPoint(190, 11));
    EXPECT_EQ(up.count(), 1);
    EXPECT_EQ(valueAtUp, bar.value());
    EXPECT_GT(bar.value(), 0);

    QTest::mouseClick(&bar, Qt::RightButton, {}, QPoint(10, 11));
    EXPECT_EQ(down.count(), 1);

    const int before = bar.value();
    QTest::keyClick(&bar, Qt::Key_Left);
    EXPECT_EQ(bar.value(), before - 1);
    EXPECT_EQ(down.count(), 2);
    EXPECT_EQ(up.count(), 2);
    bar.setValue(0);
    QTest::keyClick(&bar, Qt::Key_Left); // already at the minimum
    EXPECT_EQ(up.count(), 2);
}

