// hubpanel: the Managed USB Hub window.
#include "panel/app_shell.h"
#include "panel/view_controller.h"

int main(int argc, char** argv) {
    return panel::runApplication(argc, argv, "hubpanel",
                                 [] { return std::make_unique<panel::ViewController>(); });
}
