// Tavorin Channel Merger: turns stereo audio files into mono files.
#include "app/startup.h"

int main(int argc, char** argv) { return chm::RunTavorin(argc, argv); }
