// Process entry: the system's own main lives in app::main.
#include "app/KolvarCanView.h"

int main(int argc, char* argv[]) { return app::main(argc, argv); }
