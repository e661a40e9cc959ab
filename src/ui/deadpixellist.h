// "Dead pixel list": the camera bodies with registered dead pixels, the pixels of the chosen body
// with their colour-filter colour, and removal of one pixel after a question.
#pragma once

#include "engine/bayer_layout.h"
#include "platform/message_box.h"

#include <QDialog>

#include <memory>
#include <optional>
#include <string>

namespace Ui {
class TFDeadPixelList;
}

namespace platform {
class IniFile;
}

namespace ui {

class TFDeadPixelList : public QDialog {
    Q_OBJECT
public:
    TFDeadPixelList(platform::IniFile& settings, platform::MessageBoxService& boxes, QWidget* parent = nullptr);
    ~TFDeadPixelList() override;

    // The body of the open photo, preselected when the list is shown, and the colour-filter layout
    // of the photo's raw image, which names the colours of that body's pixels.
    void SetCurrentBody(const std::string& serial, const std::string& model,
                        std::optional<engine::BayerLayout> layout = std::nullopt);
    // The serial number whose pixels are listed (empty when none).
    const std::string& ListedSerial() const { return fSerial; }

protected:
    void showEvent(QShowEvent* event) override;

private slots:
    void cbCamerasChange();
    void actionRemoveSelectedUpdate();
    void actionRemoveSelectedExecute();

private:
    void FormShow();

    std::unique_ptr<Ui::TFDeadPixelList> fUi;
    platform::IniFile& fSettings;
    platform::MessageBoxService& fBoxes;
    std::string fCurrentSerial;
    std::string fCurrentModel;
    std::optional<engine::BayerLayout> fCurrentLayout;
    std::string fSerial;
};

} // namespace ui
