// portdesk: the older, reduced Managed USB Hub window.
#include <panel/app_shell.h>

#include "desk/view_controller.h"

int main(int argc, char** argv) {
    return panel::runApplication(argc, argv, "portdesk",
                                 [] { return std::make_unique<desk::ViewController>(); });
}
