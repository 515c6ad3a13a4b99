#include "app/windows/app.h"

int main(int argc, char** argv) { return qm::app::RunQuellmark(argc, argv); }
