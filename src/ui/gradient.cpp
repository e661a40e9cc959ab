#include "ui/gradient.h"

#include "ui/class_gradientpanel.h"
#include "ui/logic/gradient_ramp.h"
#include "ui_gradient.h"

namespace ui {

TFGradient::TFGradient(QWidget* parent) : QDialog(parent), fUi(std::make_unique<Ui::TFGradient>())
{
    fUi->setupUi(this);
    setWindowFlags(Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint);
    // Both sliders keep their place, so that the dialog keeps its size when the direction changes.
    for (QSlider* slider : {fUi->tbGradientVert, fUi->tbGradientHorz}) {
        QSizePolicy policy = slider->sizePolicy();
        policy.setRetainSizeWhenHidden(true);
        slider->setSizePolicy(policy);
    }
    connect(fUi->cbGradientDirection, &QComboBox::currentIndexChanged, this, &TFGradient::cbGradientDirectionChange);
    connect(fUi->tbGradientVert, &QSlider::valueChanged, this, &TFGradient::tbGradientVertChange);
    connect(fUi->tbGradientHorz, &QSlider::valueChanged, this, &TFGradient::tbGradientHorzChange);
    connect(fUi->btClose, &QPushButton::clicked, this, &QDialog::reject);
}

TFGradient::~TFGradient() = default;

GradientPanel& TFGradient::Panel() const { return *fUi->pnGradient; }

bool TFGradient::BoostStrength() const { return fUi->cbBoostStrength->isChecked(); }

int TFGradient::GradientDirection() const { return Panel().Direction(); }

int TFGradient::GradientPercent() const { return Panel().GetGradientPercent(); }

void TFGradient::cbGradientDirectionChange(int index)
{
    Panel().SetDirection(index);
    Panel().update();
    // The slider of the direction shows; moving it to the starting edge's end sets the extent.
    const bool vertical = index == kTopToBottom || index == kBottomToTop;
    fUi->tbGradientVert->setVisible(vertical);
    fUi->tbGradientHorz->setVisible(!vertical);
    QSlider* shown = vertical ? fUi->tbGradientVert : fUi->tbGradientHorz;
    const int position = index == kTopToBottom || index == kLeftToRight ? 200 : 0;
    shown->setValue(position);
    // An unchanged position fires no change, yet the extent must follow it.
    if (vertical)
        tbGradientVertChange(position);
    else
        tbGradientHorzChange(position);
}

void TFGradient::tbGradientVertChange(int position) { Panel().SetVerticalExtent(position); }

void TFGradient::tbGradientHorzChange(int position) { Panel().SetHorizontalExtent(position); }

} // namespace ui
