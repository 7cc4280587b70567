// Named transitions: performSegue(name) creates the dialog bound to the name,
// lets the opener prepare it by its class, loads it and opens it without
// blocking (window-modal), so the caller's code and tests keep running.
#pragma once

#include <QPointer>
#include <functional>
#include <map>
#include <string>

#include "panel/scene.h"

namespace panel {

class SegueRouter {
public:
    using Factory = std::function<SceneDialog*(SceneContext, QWidget* parent)>;
    using Prepare = std::function<void(SceneDialog*)>;

    void bind(const std::string& name, Factory factory);
    void setContext(AlertSink& alerts, CommandLink& link);
    // Hands state to each destination before it loads, by its class.
    void setPrepare(Prepare prepare);

    // Opens the dialog bound to `name` over `source`; nullptr for an unknown
    // name.
    SceneDialog* performSegue(const std::string& name, QWidget* source);

    // The dialog opened last, while it is still open.
    SceneDialog* currentScene() const;
    const std::string& lastSegue() const { return lastSegue_; }

private:
    std::map<std::string, Factory> factories_;
    Prepare prepare_;
    AlertSink* alerts_ = nullptr;
    CommandLink* link_ = nullptr;
    QPointer<SceneDialog> current_;
    std::string lastSegue_;
};

}  // namespace panel
