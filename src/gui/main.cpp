#include "gui/Tarnflow.h"

int main(int argc, char** argv) {
    tarnflow::CTarnflowApp app(argc, argv);
    return app.InitInstance();
}
