#include "ui/deadpixellist.h"

#include "platform/dead_pixel_store.h"
#include "ui/logic/dead_pixel_finder.h"
#include "ui_deadpixellist.h"

#include <QShowEvent>

#include <algorithm>

namespace ui {

namespace {

constexpr const char* kNameNotFound = "Name not found...";

std::string ModelText(const platform::CameraBody& body)
{
    return body.model.empty() ? kNameNotFound : body.model;
}

} // namespace

TFDeadPixelList::TFDeadPixelList(platform::IniFile& settings, platform::MessageBoxService& boxes, QWidget* parent)
    : QDialog(parent), fUi(std::make_unique<Ui::TFDeadPixelList>()), fSettings(settings), fBoxes(boxes)
{
    fUi->setupUi(this);
    for (int c = 0; c < 3; ++c)
        fUi->lvPixels->setColumnWidth(c, 70);
    connect(fUi->btRemove, &QPushButton::clicked, fUi->actionRemoveSelected, &QAction::trigger);
    connect(fUi->actionRemoveSelected, &QAction::triggered, this, &TFDeadPixelList::actionRemoveSelectedExecute);
    connect(fUi->lvPixels, &QTreeWidget::itemSelectionChanged, this, &TFDeadPixelList::actionRemoveSelectedUpdate);
    connect(fUi->cbCameras, &QComboBox::currentIndexChanged, this, &TFDeadPixelList::cbCamerasChange);
    connect(fUi->btClose, &QPushButton::clicked, this, &QDialog::reject);
    actionRemoveSelectedUpdate();
}

TFDeadPixelList::~TFDeadPixelList() = default;

void TFDeadPixelList::SetCurrentBody(const std::string& serial, const std::string& model,
                                     std::optional<engine::BayerLayout> layout)
{
    fCurrentSerial = serial;
    fCurrentModel = model;
    fCurrentLayout = layout;
}

void TFDeadPixelList::showEvent(QShowEvent* event)
{
    QDialog::showEvent(event);
    if (!event->spontaneous())
        FormShow();
}

void TFDeadPixelList::FormShow()
{
    const QSignalBlocker quiet(fUi->cbCameras);
    fUi->cbCameras->clear();
    fUi->lvPixels->clear();
    fSerial.clear();
    // The open photo's own body first of all (several bodies of one model may be listed); a body
    // of the same model, the last listed, when its own is not.
    int bySerial = -1;
    int byModel = -1;
    const std::vector<platform::CameraBody> bodies = platform::DeadPixelStore(fSettings).Bodies();
    for (size_t i = 0; i < bodies.size(); ++i) {
        const std::string model = ModelText(bodies[i]);
        if (!fCurrentSerial.empty() && bodies[i].serial == fCurrentSerial)
            bySerial = int(i);
        if (model == fCurrentModel)
            byModel = int(i);
        fUi->cbCameras->addItem(QString::fromStdString(model + " - sn: " + bodies[i].serial));
    }
    fUi->cbCameras->setCurrentIndex(bySerial >= 0 ? bySerial : byModel);
    cbCamerasChange();
}

void TFDeadPixelList::cbCamerasChange()
{
    fUi->lvPixels->clear();
    const platform::DeadPixelStore store(fSettings);
    const std::vector<platform::CameraBody> bodies = store.Bodies();
    const int index = fUi->cbCameras->currentIndex();
    if (index >= 0 && size_t(index) < bodies.size()) {
        fSerial = bodies[size_t(index)].serial;
        // The open photo's own pattern is the surest word on its body's colours; other bodies
        // have their model's.
        const bool openBody = fCurrentLayout && !fCurrentSerial.empty() && fSerial == fCurrentSerial;
        const engine::BayerLayout layout =
            openBody ? *fCurrentLayout : engine::ModelBayerLayout(bodies[size_t(index)].model);
        for (const platform::DeadPixel& p : store.Load(fSerial)) {
            auto* item = new QTreeWidgetItem(fUi->lvPixels);
            item->setText(0, QString::number(p.x));
            item->setText(1, QString::number(p.y));
            item->setText(2, QString::fromStdString(BayerColourName(p.x, p.y, layout)));
        }
    }
    actionRemoveSelectedUpdate();
}

void TFDeadPixelList::actionRemoveSelectedUpdate()
{
    fUi->actionRemoveSelected->setEnabled(!fUi->lvPixels->selectedItems().isEmpty());
    fUi->btRemove->setEnabled(fUi->actionRemoveSelected->isEnabled());
}

void TFDeadPixelList::actionRemoveSelectedExecute()
{
    const QList<QTreeWidgetItem*> selected = fUi->lvPixels->selectedItems();
    if (selected.isEmpty())
        return;
    platform::MessageBoxRequest ask{"Remove selected pixel from list?\n\nIf you remove it, the pixel won't be fixed "
                                    "anymore...",
                                    "Remove pixel?", platform::MessageIcon::kQuestion,
                                    platform::MessageButtons::kYesNo};
    ask.secondButtonDefault = true;
    if (fBoxes.Show(ask) != platform::MessageResult::kYes)
        return;

    const int32_t column = selected.front()->text(0).toInt();
    const int32_t row = selected.front()->text(1).toInt();
    platform::DeadPixelStore store(fSettings);
    if (!store.Remove(fSerial, column, row)) {
        const std::vector<platform::DeadPixel> left = store.Load(fSerial);
        // A pixel no key holds any more (the file changed meanwhile) is simply gone from the list.
        if (std::find(left.begin(), left.end(), platform::DeadPixel{column, row}) != left.end())
            fBoxes.Show({"The dead pixel list could not be saved...\n\n" + fSettings.LastError(), "Pixel not removed",
                         platform::MessageIcon::kWarning});
    }
    cbCamerasChange();
}

} // namespace ui
