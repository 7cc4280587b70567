#include "panel/scene.h"

#include <QLayout>

namespace panel {

SceneDialog::SceneDialog(SceneContext context, QWidget* parent) : QDialog(parent), context_(context) {
    setAttribute(Qt::WA_DeleteOnClose);
}

void SceneDialog::load() {
    viewDidLoad();
    // Dialogs keep the size their layout gives them; fixed before the
    // window exists, so no resize handle ever appears.
    if (layout() != nullptr) {
        layout()->setSizeConstraint(QLayout::SetFixedSize);
        layout()->activate();
    }
}

}  // namespace panel
