#include "winmain.h"

int main(int argc, char** argv) { return VistrelMain(argc, argv); }
