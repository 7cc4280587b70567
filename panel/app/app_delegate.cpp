#include "app_delegate.h"

#include <panel/view_controller.h>

AppDelegate::AppDelegate() : window_(std::make_unique<panel::ViewController>()) {}

AppDelegate::~AppDelegate() = default;

void AppDelegate::applicationDidFinishLaunching() { window_->show(); }
