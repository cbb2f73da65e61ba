// The program "mediaprobe": probes the files the window sends it, one a line.
#include "media/ProbePool.h"

int main(int argc, char** argv) { return TProbePool::RunWorker(argc, argv); }
