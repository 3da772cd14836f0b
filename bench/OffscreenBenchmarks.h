// The start of a benchmark program that draws widgets: Qt's offscreen platform, so it needs no
// display, then every benchmark the command line selects.
#pragma once

#include <QApplication>

#include <benchmark/benchmark.h>

inline int runOffscreenBenchmarks(int argc, char **argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
