#pragma once

#include <QCoreApplication>

#include <QCoro/QCoroTask>

#include <functional>

namespace quillbarrow {

// The body of a benchmark program's main: silences the system's own log (one line per step would
// drown the figures), runs `work` once the event loop of `app` turns, ends the loop when it is done
// and gives the exit code: 0 when it ended, 1 when it threw (the reason on stderr, after `program`).
int runBenchmark(QCoreApplication& app, const char* program, std::function<QCoro::Task<>()> work);

} // namespace quillbarrow
