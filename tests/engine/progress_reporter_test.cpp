#include "engine/progress_reporter.h"
#include "fake_engine_ui.h"

#include <gtest/gtest.h>

namespace {

TEST(ProgressReporter, PumpsMessagesEveryHundredSteps)
{
    enginetest::FakeProgressBar bar;
    enginetest::FakeLabel label;
    int pumps = 0;
    engine::ProgressReporter p;
    p.Bind(&bar, &label, [&] { ++pumps; });
    p.Step(150); // one large step pumps at once and starts counting again
    EXPECT_EQ(pumps, 1);
    EXPECT_EQ(p.Counter(), 0);
    p.Step(60);
    EXPECT_EQ(pumps, 1);
    p.Step(60);
    EXPECT_EQ(pumps, 2);
    EXPECT_EQ(bar.position, 270);
    EXPECT_EQ(bar.updates, 3);
    p.SetText("Working...");
    EXPECT_EQ(label.text, "Working...");
    EXPECT_EQ(label.updates, 1);
    p.ResetSteps();
    EXPECT_EQ(p.Counter(), 0);
}

TEST(ProgressReporter, UnboundReporterDoesNothing)
{
    engine::ProgressReporter p;
    p.Step(500);
    EXPECT_EQ(p.Counter(), 0);
    p.SetText("nobody sees this");
    enginetest::FakeLabel label;
    p.Bind(nullptr, &label, {});
    p.Step(10);
    EXPECT_EQ(p.Counter(), 0);
    p.SetText("shown");
    EXPECT_EQ(label.text, "shown");
}

} // namespace
