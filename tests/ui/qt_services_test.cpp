// The Qt message boxes and progress controls: what a person sees and what the answer maps to.
#include "ui/qt_message_boxes.h"
#include "ui/qt_progress_controls.h"

#include <QApplication>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>
#include <gtest/gtest.h>

namespace {

struct Seen {
    QString title, text;
    Qt::TextFormat format = Qt::AutoText;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    QMessageBox::StandardButton defaultButton = QMessageBox::NoButton;
};

// Answers the next modal box by pressing `press` (or Escape when NoButton) and records it.
void AnswerNextBox(Seen& seen, QMessageBox::StandardButton press)
{
    QTimer::singleShot(0, [&seen, press] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        ASSERT_NE(box, nullptr);
        seen = {box->windowTitle(), box->text(), box->textFormat(), box->icon(),
                box->defaultButton() ? box->standardButton(box->defaultButton()) : QMessageBox::NoButton};
        if (press == QMessageBox::NoButton)
            box->reject();
        else
            box->button(press)->click();
    });
}

} // namespace

TEST(QtMessageBoxService, ShowsPlainTextWithCaptionIconAndMapsTheAnswer)
{
    ui::QtMessageBoxService boxes;
    using B = QMessageBox::StandardButton;
    using R = platform::MessageResult;
    struct Case {
        platform::MessageIcon icon;
        platform::MessageButtons buttons;
        B press;
        QMessageBox::Icon shownIcon;
        B defaultButton;
        R result;
    } cases[] = {
        {platform::MessageIcon::kInformation, platform::MessageButtons::kOk, B::Ok, QMessageBox::Information, B::Ok, R::kOk},
        {platform::MessageIcon::kQuestion, platform::MessageButtons::kYesNo, B::No, QMessageBox::Question, B::Yes, R::kNo},
        {platform::MessageIcon::kWarning, platform::MessageButtons::kYesNo, B::NoButton, QMessageBox::Warning, B::Yes, R::kNo},
        {platform::MessageIcon::kError, platform::MessageButtons::kOkCancel, B::NoButton, QMessageBox::Critical, B::Ok, R::kCancel},
        {platform::MessageIcon::kNone, platform::MessageButtons::kYesNoCancel, B::Yes, QMessageBox::NoIcon, B::Yes, R::kYes},
    };
    for (const Case& c : cases) {
        Seen seen;
        AnswerNextBox(seen, c.press);
        const R r = boxes.Show({"<b>a_b.dng</b>\n\nnext line", "Caption", c.icon, c.buttons, true});
        EXPECT_EQ(r, c.result);
        EXPECT_EQ(seen.title, "Caption");
        EXPECT_EQ(seen.text, "<b>a_b.dng</b>\n\nnext line");
        EXPECT_EQ(seen.format, Qt::PlainText);
        EXPECT_EQ(seen.icon, c.shownIcon);
        EXPECT_EQ(seen.defaultButton, c.defaultButton);
    }
}

TEST(QtProgressControls, ClampAndSurviveTheirWidgets)
{
    auto* bar = new QProgressBar;
    auto* label = new QLabel;
    ui::QtProgressBarControl pb(bar);
    ui::QtLabelControl lb(label);
    pb.SetRange(0, 50);
    pb.SetPosition(80);
    EXPECT_EQ(pb.Position(), 50);
    lb.SetText("Loading...");
    EXPECT_EQ(lb.Text(), "Loading...");
    delete bar;
    delete label;
    pb.SetPosition(3); // the window has gone: nothing happens
    lb.SetText("Done...");
    EXPECT_EQ(pb.Position(), 0);
    EXPECT_EQ(lb.Text(), "");
}
