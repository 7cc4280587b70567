// Base of every dialog: a fixed-size window that is handed its state by the
// opener before it loads.
#pragma once

#include <QDialog>

namespace panel {

class AlertSink;
class CommandLink;
class SegueRouter;

// What a dialog may use besides the state its opener hands it.
struct SceneContext {
    AlertSink& alerts;
    CommandLink& link;
    SegueRouter& router;
};

class SceneDialog : public QDialog {
    Q_OBJECT
public:
    SceneDialog(SceneContext context, QWidget* parent);

    // Called by the router once the opener has prepared the dialog: loads
    // what it was handed and fixes the window's size.
    void load();

protected:
    // Runs once, after the opener's prepare step and before the dialog shows.
    virtual void viewDidLoad() {}

    SceneContext context_;
};

}  // namespace panel
