// "Gradient properties": the direction and reach of the RGB filters' gradient, shown on a grey
// ramp, and "Boost strength (x2)". Made once and kept for the program's run; the conversion reads
// its values through the main window.
#pragma once

#include <QDialog>

#include <memory>

namespace Ui {
class TFGradient;
}

namespace ui {

class GradientPanel;

class TFGradient : public QDialog {
    Q_OBJECT
public:
    explicit TFGradient(QWidget* parent = nullptr);
    ~TFGradient() override;

    // What the conversion reads.
    bool BoostStrength() const;
    int GradientDirection() const;
    int GradientPercent() const;

    GradientPanel& Panel() const;

private slots:
    void cbGradientDirectionChange(int index);
    void tbGradientVertChange(int position);
    void tbGradientHorzChange(int position);

private:
    std::unique_ptr<Ui::TFGradient> fUi;
};

} // namespace ui
