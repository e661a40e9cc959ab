#include "engine/fake_engine_ui.h"
#include "ui/velloray_application.h"

#include <QEvent>
#include <gtest/gtest.h>

#include <stdexcept>

namespace {

class Thrower : public QObject {
public:
    bool event(QEvent*) override { throw std::runtime_error("boom"); }
};

TEST(VellorayApplication, AnExceptionFromAnEventIsShownAndTheProgramGoesOn)
{
    auto* app = qobject_cast<ui::VellorayApplication*>(qApp);
    ASSERT_NE(app, nullptr);
    enginetest::FakeMessageBoxes boxes;
    app->SetMessageBoxes(&boxes);
    Thrower thrower;
    QEvent event(QEvent::User);
    EXPECT_FALSE(QCoreApplication::sendEvent(&thrower, &event));
    app->SetMessageBoxes(nullptr);
    ASSERT_EQ(boxes.shown.size(), 1u);
    EXPECT_EQ(boxes.shown[0].text, "Whoa... that's a bug...\n\nboom");
    EXPECT_EQ(boxes.shown[0].caption, "Velloray error");
}

} // namespace
