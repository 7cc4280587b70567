#include "panel/segue_router.h"

#include <stdexcept>

namespace panel {

void SegueRouter::bind(const std::string& name, Factory factory) {
    factories_[name] = std::move(factory);
}

void SegueRouter::setContext(AlertSink& alerts, CommandLink& link) {
    alerts_ = &alerts;
    link_ = &link;
}

void SegueRouter::setPrepare(Prepare prepare) { prepare_ = std::move(prepare); }

SceneDialog* SegueRouter::performSegue(const std::string& name, QWidget* source) {
    const auto it = factories_.find(name);
    if (it == factories_.end()) return nullptr;
    if (alerts_ == nullptr || link_ == nullptr) throw std::logic_error("segue router has no context");
    SceneDialog* scene = it->second(SceneContext{*alerts_, *link_, *this}, source);
    if (prepare_) prepare_(scene);
    scene->load();
    lastSegue_ = name;
    current_ = scene;
    // Window-modal and non-blocking: the opener's code returns at once.
    scene->open();
    return scene;
}

SceneDialog* SegueRouter::currentScene() const {
    return current_ && current_->isVisible() ? current_.data() : nullptr;
}

}  // namespace panel
